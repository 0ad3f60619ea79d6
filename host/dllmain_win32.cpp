// The DLL entry point.  The library keeps no per-thread state, so it asks
// Windows not to call it for every thread that starts or ends.
#include <windows.h>

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID /*reserved*/) {
    if (reason == DLL_PROCESS_ATTACH) DisableThreadLibraryCalls(instance);
    return TRUE;
}
