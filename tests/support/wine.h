// Whether a Windows test program runs under Wine, for the few behaviours
// Wine does not have; each test that asks states what is missing.
#ifndef VESMARA_TESTS_SUPPORT_WINE_H_
#define VESMARA_TESTS_SUPPORT_WINE_H_

#ifdef _WIN32
#include <windows.h>
#endif

namespace vesmara::test {

inline bool runningUnderWine() {
#ifdef _WIN32
  return GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "wine_get_version") != nullptr;
#else
  return false;
#endif
}

}  // namespace vesmara::test

#endif  // VESMARA_TESTS_SUPPORT_WINE_H_
