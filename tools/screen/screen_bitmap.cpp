#include "screen_bitmap.h"
#include "common/handles.h"

namespace dvtool {

bool WriteScreenBitmap(const std::wstring& file, const RECT* area) {
    const RECT screenRect = {0, 0, ::GetSystemMetrics(SM_CXSCREEN), ::GetSystemMetrics(SM_CYSCREEN)};
    const RECT& shot = area ? *area : screenRect;
    const int width = shot.right - shot.left, height = shot.bottom - shot.top;
    if (width <= 0 || height <= 0) return false;
    dv::window_dc screen(nullptr);
    dv::unique_hdc memory(::CreateCompatibleDC(screen.get()));
    BITMAPINFO info = {};
    info.bmiHeader.biSize = sizeof(info.bmiHeader);
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = height;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 24;
    void* bits = nullptr;
    dv::unique_hbitmap section(::CreateDIBSection(screen.get(), &info, DIB_RGB_COLORS, &bits, nullptr, 0));
    if (!memory || !section || !bits) return false;
    {
        dv::select_object selected(memory.get(), section.get());
        ::BitBlt(memory.get(), 0, 0, width, height, screen.get(), shot.left, shot.top, SRCCOPY);
    }
    ::GdiFlush();
    const DWORD rowBytes = (static_cast<DWORD>(width) * 3 + 3) & ~3u, imageBytes = rowBytes * height;
    BITMAPFILEHEADER header = {};
    header.bfType = 0x4D42;
    header.bfOffBits = sizeof(BITMAPFILEHEADER) + sizeof(BITMAPINFOHEADER);
    header.bfSize = header.bfOffBits + imageBytes;
    dv::unique_hfile out(::CreateFileW(file.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
    if (!out) return false;
    DWORD written = 0;
    return ::WriteFile(out.get(), &header, sizeof(header), &written, nullptr) &&
           ::WriteFile(out.get(), &info.bmiHeader, sizeof(info.bmiHeader), &written, nullptr) &&
           ::WriteFile(out.get(), bits, imageBytes, &written, nullptr);
}

} // namespace dvtool
