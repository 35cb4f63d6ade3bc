// TestTls for the Windows test programs: the library's transport there trusts
// the Windows certificate store, which a test cannot replace for itself the
// way the Linux programs replace theirs, so the HTTPS cases skip.
#include <stdexcept>

#include "support/test_tls.h"

namespace vesmara::test {
namespace {

const std::string kUnavailable = "not run on Windows: the transport trusts the system store, which tests leave alone";

}  // namespace

void TestTls::setUp() {}

const TestTls* TestTls::get() { return nullptr; }

const std::string& TestTls::unavailableReason() { return kUnavailable; }

const TlsFiles& TestTls::server(ServerCertificate) const { throw std::logic_error("no test certificates on Windows"); }

}  // namespace vesmara::test
