// Facts about the running system and about modules.
#pragma once
#include <windows.h>
#include <string>

namespace dv {

// NT family, major version 6 or higher.
bool IsVistaOrLater() noexcept;
// NT family, major version below 6 and minor version 0 (NT 4.0, 2000); a true answer is remembered.
bool IsPreXpWindows() noexcept;
// One look at the disk: path names an existing file, not a folder.
bool IsExistingFile(const wchar_t* path) noexcept;
// The full path of a loaded module's file, whatever its length; empty when it cannot be read.
std::wstring ModuleFilePath(HMODULE module);
// The module's file version as "%d.%d.%d.%d"; empty when it has no version resource.
std::wstring GetModuleVersionString(HMODULE module);

} // namespace dv
