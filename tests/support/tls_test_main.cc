// main() of the test programs that speak HTTPS to local servers: the
// process trusts only the test authority before any test, or thread, starts.
// Listing the tests needs no set-up.
#include <gtest/gtest.h>

#include "support/test_tls.h"

int main(int argc, char** argv) {
  testing::InitGoogleTest(&argc, argv);
  if (!GTEST_FLAG_GET(list_tests)) vesmara::test::TestTls::setUp();
  return RUN_ALL_TESTS();
}
