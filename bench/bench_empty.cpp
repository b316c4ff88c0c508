// An empty windowless program: the cost of starting a process, the floor under the tool's run.
#include <windows.h>
int WINAPI wWinMain(HINSTANCE, HINSTANCE, LPWSTR, int) { return 0; }
