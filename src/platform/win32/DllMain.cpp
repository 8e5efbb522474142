// The library's entry point. Loading and unloading run none of the library's own code: all state is
// built by the exports when they are called.
#include <windows.h>

extern "C" BOOL WINAPI DllMain(HINSTANCE, DWORD, LPVOID) {
    return TRUE;
}
