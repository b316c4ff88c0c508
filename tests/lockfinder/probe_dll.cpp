// A DLL with a name no other program loads, so a search for it finds only the test helpers.
#include <windows.h>

extern "C" __declspec(dllexport) int TessalyProbe() { return 42; }

BOOL WINAPI DllMain(HINSTANCE, DWORD, LPVOID) { return TRUE; }
