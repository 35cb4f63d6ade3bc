// The library's entry point: loading it only turns off the per-thread attach
// and detach notifications, which it has no use for. Everything else is
// created by an export and destroyed by its release export.
#include <windows.h>

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID /*reserved*/) {
  if (reason == DLL_PROCESS_ATTACH) DisableThreadLibraryCalls(instance);
  return TRUE;
}
