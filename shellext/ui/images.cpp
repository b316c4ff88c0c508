// Colour swatches, icon-to-bitmap conversion and the shell's small icons.
#include "images.h"
#include "common/text.h"
#include <shellapi.h>
#include <shlobj.h>
#include <uxtheme.h>
#include <string>

namespace dv::ui {

namespace {

constexpr COLORREF kPalette[kSwatchCount] = {
    CLR_NONE,            RGB(192, 0, 0),   RGB(255, 0, 0),   RGB(255, 192, 0), RGB(0, 255, 255), RGB(146, 208, 80),
    RGB(0, 176, 80),     RGB(0, 176, 240), RGB(0, 112, 192), RGB(0, 32, 96),   RGB(112, 48, 160),
};

// A DIB section of the given size and depth, rows bottom-up.
HBITMAP CreateSection(HDC dc, int width, int height, WORD bits, void** pixels) {
    BITMAPINFO info = {};
    info.bmiHeader.biSize = sizeof(info.bmiHeader);
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = height;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = bits;
    info.bmiHeader.biCompression = BI_RGB;
    void* ignored = nullptr;
    return ::CreateDIBSection(dc, &info, DIB_RGB_COLORS, pixels ? pixels : &ignored, nullptr, 0);
}

// The theme library's buffered painting, only when the process has the library loaded already.
struct BufferedPaintApi {
    using Begin = HPAINTBUFFER(WINAPI*)(HDC, const RECT*, BP_BUFFERFORMAT, BP_PAINTPARAMS*, HDC*);
    using Bits = HRESULT(WINAPI*)(HPAINTBUFFER, RGBQUAD**, int*);
    using End = HRESULT(WINAPI*)(HPAINTBUFFER, BOOL);
    Begin begin = nullptr;
    Bits bits = nullptr;
    End end = nullptr;

    bool Find() {
        HMODULE theme = ::GetModuleHandleW(L"UXTHEME.DLL");
        if (!theme) return false;
        begin = reinterpret_cast<Begin>(::GetProcAddress(theme, "BeginBufferedPaint"));
        bits = reinterpret_cast<Bits>(::GetProcAddress(theme, "GetBufferedPaintBits"));
        end = reinterpret_cast<End>(::GetProcAddress(theme, "EndBufferedPaint"));
        return begin && bits && end;
    }
};

bool AnyAlpha(const RGBQUAD* pixels, int rowLength, int width, int height) {
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            if (pixels[y * rowLength + x].rgbReserved != 0) return true;
    return false;
}

// Gives the pixels alpha from the icon's mask: transparent where the mask is set, opaque elsewhere.
bool ApplyMask(HICON icon, RGBQUAD* pixels, int rowLength, int width, int height) {
    ICONINFO iconInfo = {};
    if (!::GetIconInfo(icon, &iconInfo)) return false;
    unique_hbitmap mask(iconInfo.hbmMask), color(iconInfo.hbmColor);
    BITMAP maskInfo = {};
    if (!mask || !::GetObjectW(mask.get(), sizeof(maskInfo), &maskInfo)) return false;
    // A monochrome icon's mask holds the AND mask above the XOR image.
    int maskHeight = color ? maskInfo.bmHeight : maskInfo.bmHeight / 2;

    // The mask as 32-bit rows of the image's size, bottom-up like the paint buffer's rows (scaled as
    // DrawIconEx scaled the icon).
    window_dc screen(nullptr);
    unique_hdc maskDc(::CreateCompatibleDC(screen.get())), rowsDc(::CreateCompatibleDC(screen.get()));
    if (!maskDc || !rowsDc) return false;
    void* bits = nullptr;
    unique_hbitmap rows(CreateSection(screen.get(), width, height, 32, &bits));
    if (!rows || !bits) return false;
    {
        select_object maskSelected(maskDc.get(), mask.get());
        select_object rowsSelected(rowsDc.get(), rows.get());
        ::SetStretchBltMode(rowsDc.get(), COLORONCOLOR);
        if (!::StretchBlt(rowsDc.get(), 0, 0, width, height, maskDc.get(), 0, 0, maskInfo.bmWidth, maskHeight,
                          SRCCOPY))
            return false;
    }
    ::GdiFlush();
    const DWORD* maskRows = static_cast<const DWORD*>(bits);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            RGBQUAD& pixel = pixels[y * rowLength + x];
            if (maskRows[y * width + x] & 0x00FFFFFF) pixel = RGBQUAD{0, 0, 0, 0};
            else pixel.rgbReserved = 255;
        }
    }
    return true;
}

} // namespace

COLORREF ColorOfIndex(UINT colorIndex) { return colorIndex < kSwatchCount ? kPalette[colorIndex] : CLR_NONE; }

void MakeSwatchBitmaps(unique_hbitmap (&swatches)[kSwatchCount]) {
    window_dc screen(nullptr);
    unique_hdc memory(::CreateCompatibleDC(screen.get()));
    for (size_t index = 0; index < kSwatchCount; ++index) {
        swatches[index].reset();
        if (!memory) continue;
        unique_hbitmap section(CreateSection(screen.get(), kSwatchSize, kSwatchSize, 24, nullptr));
        if (!section) continue;
        {
            select_object bitmapSelected(memory.get(), section.get());
            if (index == 0) {
                select_object brushSelected(memory.get(), ::GetStockObject(WHITE_BRUSH));
                ::Rectangle(memory.get(), 0, 0, kSwatchSize, kSwatchSize);
                ::MoveToEx(memory.get(), 0, 0, nullptr);
                ::LineTo(memory.get(), kSwatchSize, kSwatchSize);
                ::MoveToEx(memory.get(), 0, kSwatchSize, nullptr);
                ::LineTo(memory.get(), kSwatchSize, 0);
            } else {
                unique_hbrush brush(::CreateSolidBrush(kPalette[index]));
                select_object brushSelected(memory.get(), brush.get());
                ::Rectangle(memory.get(), 0, 0, kSwatchSize, kSwatchSize);
            }
        }
        swatches[index] = std::move(section);
    }
}

HBITMAP IconToAlphaBitmap(HICON icon) {
    if (!icon) return nullptr;
    BufferedPaintApi api;
    if (!api.Find()) return nullptr;
    const int width = ::GetSystemMetrics(SM_CXSMICON), height = ::GetSystemMetrics(SM_CYSMICON);
    if (width <= 0 || height <= 0) return nullptr;

    window_dc screen(nullptr);
    unique_hdc memory(::CreateCompatibleDC(screen.get()));
    if (!memory) return nullptr;
    unique_hbitmap section(CreateSection(screen.get(), width, height, 32, nullptr));
    if (!section) return nullptr;

    bool converted = false;
    {
        select_object sectionSelected(memory.get(), section.get());
        RECT whole = {0, 0, width, height};
        BLENDFUNCTION blend = {AC_SRC_OVER, 0, 255, AC_SRC_ALPHA};
        BP_PAINTPARAMS params = {sizeof(params), BPPF_ERASE, nullptr, &blend};
        HDC bufferDc = nullptr;
        HPAINTBUFFER buffer = api.begin(memory.get(), &whole, BPBF_DIB, &params, &bufferDc);
        if (buffer && bufferDc) {
            if (::DrawIconEx(bufferDc, 0, 0, icon, width, height, 0, nullptr, DI_NORMAL)) {
                RGBQUAD* pixels = nullptr;
                int rowLength = 0;
                if (SUCCEEDED(api.bits(buffer, &pixels, &rowLength)) && pixels && rowLength >= width) {
                    converted = AnyAlpha(pixels, rowLength, width, height) ||
                                ApplyMask(icon, pixels, rowLength, width, height);
                }
            }
        }
        if (buffer) api.end(buffer, TRUE);
    }
    return converted ? section.release() : nullptr;
}

HIMAGELIST GetSmallSystemImageList() {
    wchar_t roots[kMaxText] = {};
    DWORD length = ::GetLogicalDriveStringsW(kMaxText - 1, roots);
    if (length == 0 || length >= kMaxText - 1) return nullptr;
    SHFILEINFOW info = {};
    return reinterpret_cast<HIMAGELIST>(
        ::SHGetFileInfoW(roots, 0, &info, sizeof(info), SHGFI_SYSICONINDEX | SHGFI_SMALLICON));
}

int GetShellIconIndex(const wchar_t* path) {
    if (!path || !*path) return 0;
    com_ptr<IShellFolder> desktop;
    if (FAILED(::SHGetDesktopFolder(desktop.put()))) return 0;
    std::wstring parseBuffer;
    try { parseBuffer = path; } catch (...) { return 0; }
    unique_pidl list;
    if (FAILED(desktop->ParseDisplayName(nullptr, nullptr, parseBuffer.data(), nullptr,
                                         reinterpret_cast<PIDLIST_RELATIVE*>(list.put()), nullptr)) ||
        !list)
        return 0;
    SHFILEINFOW info = {};
    if (!::SHGetFileInfoW(reinterpret_cast<LPCWSTR>(list.get()), 0, &info, sizeof(info),
                          SHGFI_PIDL | SHGFI_SYSICONINDEX | SHGFI_SMALLICON))
        return 0;
    return info.iIcon;
}

} // namespace dv::ui
