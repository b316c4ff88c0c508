// Writes one trace line with the product's facility and ends: read by trace_test as a debugger.
#include "common/trace.h"

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
    DV_TRACE_WIN32(ERROR_ACCESS_DENIED, L"RegCreateKeyExW Items");
    return 0;
}
