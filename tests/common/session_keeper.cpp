// Keeps a test prefix's Wine session alive from the prefix's set-up to its clean-up (which ends it).
// Started with no output of ctest's: the session's system processes, which the first program of a
// session starts, inherit that program's output, and ctest waits for a test's output to close.
#include <windows.h>

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
    ::Sleep(INFINITE);
    return 0;
}
