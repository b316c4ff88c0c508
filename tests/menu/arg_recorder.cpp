// Stands in for a program that a menu command starts: appends its command line to the file that
// DIRVANE_RECORD names, one line per start.
#include <windows.h>
#include <cstdio>

int wmain() {
    wchar_t path[MAX_PATH * 2] = {};
    if (!::GetEnvironmentVariableW(L"DIRVANE_RECORD", path, ARRAYSIZE(path))) return 1;
    FILE* file = _wfopen(path, L"a, ccs=UTF-8");
    if (!file) return 1;
    fwprintf(file, L"%ls\n", ::GetCommandLineW());
    fclose(file);
    return 0;
}
