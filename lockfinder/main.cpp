// Tessaly's entry: a GUI-subsystem program without a window; the exit code is always 0.
#include "tessaly.h"

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
    try {
        tessaly::Run(instance, ::GetCommandLineW());
    } catch (...) {
        // Out of memory: end quietly like every other failure.
    }
    return 0;
}
