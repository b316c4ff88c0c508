// Screenshots for looking at what the user sees: the development host's and the tests'.
#pragma once
#include <windows.h>
#include <string>

namespace dvtool {

// Writes area of the screen (the whole screen when null) to file as a 24-bit bitmap.
// False when the area is empty or nothing could be captured or written.
bool WriteScreenBitmap(const std::wstring& file, const RECT* area = nullptr);

} // namespace dvtool
