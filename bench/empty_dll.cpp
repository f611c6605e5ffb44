// The floor of a library's load and unload: a DLL that does nothing.
#include <windows.h>

BOOL WINAPI DllMain(HINSTANCE, DWORD, void*)
{
    return TRUE;
}
