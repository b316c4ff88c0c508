// The colour swatches, icons turned into alpha bitmaps and the shell's small icons.
#include "ui/images.h"
#include "common/com.h"
#include "common/test_support.h"
#include "res/resource.h"
#include <gtest/gtest.h>
#include <vector>

using dv::ui::ColorOfIndex;
using dv::ui::GetShellIconIndex;
using dv::ui::GetSmallSystemImageList;
using dv::ui::IconToAlphaBitmap;
using dv::ui::MakeSwatchBitmaps;
using dv::ui::kSwatchCount;

using namespace dv;

namespace {

// The pixels of a bitmap as 32-bit values, rows bottom-up.
std::vector<DWORD> PixelsOf(HBITMAP bitmap, int width, int height) {
    std::vector<DWORD> pixels(static_cast<size_t>(width) * height);
    BITMAPINFO info = {};
    info.bmiHeader.biSize = sizeof(info.bmiHeader);
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = height;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    window_dc screen(nullptr);
    EXPECT_EQ(::GetDIBits(screen.get(), bitmap, 0, height, pixels.data(), &info, DIB_RGB_COLORS), height);
    return pixels;
}

// x, y from the top left.
DWORD At(const std::vector<DWORD>& pixels, int width, int height, int x, int y) {
    return pixels[static_cast<size_t>(height - 1 - y) * width + x] & 0x00FFFFFF;
}
constexpr DWORD Rgb(BYTE r, BYTE g, BYTE b) { return (DWORD(r) << 16) | (DWORD(g) << 8) | b; }

TEST(MenuImages, SwatchesAreBorderedSquaresOfThePalette) {
    unique_hbitmap swatches[kSwatchCount];
    MakeSwatchBitmaps(swatches);
    for (size_t i = 0; i < kSwatchCount; ++i) {
        ASSERT_TRUE(swatches[i]) << i;
        DIBSECTION section = {};
        ASSERT_EQ(::GetObjectW(swatches[i].get(), sizeof(section), &section), int(sizeof(section)));
        EXPECT_EQ(section.dsBm.bmWidth, 14);
        EXPECT_EQ(section.dsBm.bmHeight, 14);
        EXPECT_EQ(section.dsBm.bmBitsPixel, 24);
        auto pixels = PixelsOf(swatches[i].get(), 14, 14);
        for (int k = 0; k < 14; ++k) {
            EXPECT_EQ(At(pixels, 14, 14, k, 0), 0u);
            EXPECT_EQ(At(pixels, 14, 14, 0, k), 0u);
            EXPECT_EQ(At(pixels, 14, 14, 13, k), 0u);
            EXPECT_EQ(At(pixels, 14, 14, k, 13), 0u);
        }
        if (i == 0) {
            EXPECT_EQ(At(pixels, 14, 14, 6, 6), 0u);           // on the cross
            EXPECT_EQ(At(pixels, 14, 14, 3, 8), 0xFFFFFFu);    // beside it
        } else {
            COLORREF color = ColorOfIndex(static_cast<UINT>(i));
            EXPECT_EQ(At(pixels, 14, 14, 3, 8), Rgb(GetRValue(color), GetGValue(color), GetBValue(color))) << i;
        }
    }
    EXPECT_EQ(ColorOfIndex(0), CLR_NONE);
    EXPECT_EQ(ColorOfIndex(5), RGB(146, 208, 80));
    EXPECT_EQ(ColorOfIndex(10), RGB(112, 48, 160));
    EXPECT_EQ(ColorOfIndex(11), CLR_NONE);
}

TEST(MenuImages, IconsBecomePremultipliedAlphaBitmaps) {
    unique_hicon product(static_cast<HICON>(
        ::LoadImageW(ResourceInstance(), MAKEINTRESOURCEW(IDI_PRODUCT), IMAGE_ICON, 16, 16, 0)));
    ASSERT_TRUE(product);
    // Only with the theme library already in the process, as it is in Explorer; never loaded for it.
    if (!::GetModuleHandleW(L"uxtheme.dll")) {
        EXPECT_EQ(IconToAlphaBitmap(product.get()), nullptr);
        EXPECT_FALSE(::GetModuleHandleW(L"uxtheme.dll"));
        ASSERT_TRUE(::LoadLibraryW(L"uxtheme.dll"));
    }
    EXPECT_EQ(IconToAlphaBitmap(nullptr), nullptr);

    // Without alpha: transparent where the mask is set, opaque with the icon's colour elsewhere.
    unique_hbitmap converted(IconToAlphaBitmap(product.get()));
    ASSERT_TRUE(converted);
    ICONINFO info = {};
    ASSERT_TRUE(::GetIconInfo(product.get(), &info));
    unique_hbitmap color(info.hbmColor), mask(info.hbmMask);
    auto got = PixelsOf(converted.get(), 16, 16);
    auto colors = PixelsOf(color.get(), 16, 16), masks = PixelsOf(mask.get(), 16, 16);
    int transparent = 0;
    for (size_t i = 0; i < got.size(); ++i) {
        if (masks[i] & 0xFFFFFF) {
            EXPECT_EQ(got[i], 0u) << i;
            ++transparent;
        } else {
            EXPECT_EQ(got[i], 0xFF000000u | (colors[i] & 0xFFFFFF)) << i;
        }
    }
    EXPECT_GT(transparent, 0);

    // With alpha: the icon's own alpha stays.
    std::vector<DWORD> argb(16 * 16, 0);
    for (int i = 0; i < 16 * 16; i += 3) argb[i] = 0xFF2040C0;
    argb[0] = 0x80102060;  // half transparent, premultiplied
    BITMAPINFO header = {};
    header.bmiHeader = {sizeof(BITMAPINFOHEADER), 16, 16, 1, 32, BI_RGB};
    void* bits = nullptr;
    window_dc screen(nullptr);
    unique_hbitmap alphaColor(::CreateDIBSection(screen.get(), &header, DIB_RGB_COLORS, &bits, nullptr, 0));
    memcpy(bits, argb.data(), argb.size() * 4);
    unique_hbitmap alphaMask(::CreateBitmap(16, 16, 1, 1, nullptr));
    ICONINFO made = {TRUE, 0, 0, alphaMask.get(), alphaColor.get()};
    unique_hicon withAlpha(::CreateIconIndirect(&made));
    ASSERT_TRUE(withAlpha);
    unique_hbitmap kept(IconToAlphaBitmap(withAlpha.get()));
    ASSERT_TRUE(kept);
    auto keptPixels = PixelsOf(kept.get(), 16, 16);
    EXPECT_NEAR(int(keptPixels[0] >> 24), 0x80, 2);
    EXPECT_EQ(keptPixels[3] >> 24, 0xFFu);
    EXPECT_EQ(keptPixels[1], 0u);
}

TEST(MenuImages, ShellIconsComeFromTheSystemList) {
    com_init com;
    HIMAGELIST list = GetSmallSystemImageList();
    ASSERT_TRUE(list);
    EXPECT_EQ(GetSmallSystemImageList(), list);
    dvtest::ScratchFolder scratch(L"DirvaneMenuIcons");
    const int count = ::ImageList_GetImageCount(list);
    // A folder and a namespace path have icons of their own (index 0 is the plain document's).
    for (const std::wstring& path : {scratch.path(), std::wstring(L"::{20D04FE0-3AEA-1069-A2D8-08002B30309D}")}) {
        int index = GetShellIconIndex(path.c_str());
        EXPECT_GT(index, 0) << path.c_str();
        EXPECT_LT(index, std::max(count, ::ImageList_GetImageCount(list))) << path.c_str();
    }
    EXPECT_NE(GetShellIconIndex(scratch.path().c_str()),
              GetShellIconIndex(L"::{20D04FE0-3AEA-1069-A2D8-08002B30309D}"));
    EXPECT_EQ(GetShellIconIndex(L"C:\\no\\such\\folder"), 0);
    EXPECT_EQ(GetShellIconIndex(L""), 0);
    EXPECT_EQ(GetShellIconIndex(nullptr), 0);
}

} // namespace
