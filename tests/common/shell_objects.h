// Shell objects for tests: the shell's own data objects and item lists for real files, and a
// minimal data object that offers a file drop list of any paths (or nothing).
#pragma once
#include "common/handles.h"
#include <string>
#include <vector>

namespace dvtest {

// The item identifier list of a path (SHParseDisplayName).
dv::unique_pidl ItemList(const std::wstring& path);

// The data object that the shell gives for items of one folder, as Explorer would hand it to a
// context-menu handler (parent folder's GetUIObjectOf). Paths are full paths or "::{...}".
dv::com_ptr<IDataObject> ShellDataObject(const std::wstring& parentFolder, const std::vector<std::wstring>& names);
// The same for items directly on the desktop (names are desktop parsing names).
dv::com_ptr<IDataObject> DesktopDataObject(const std::vector<std::wstring>& parsingNames);

// A data object with CF_HDROP holding exactly these paths; with offerDrop false it offers no format.
dv::com_ptr<IDataObject> DropDataObject(const std::vector<std::wstring>& paths, bool offerDrop = true);
// The CF_HDROP block (wide names) of these paths.
std::vector<BYTE> DropFilesBlock(const std::vector<std::wstring>& paths);
// A data object that offers format as exactly these bytes, whatever they hold.
dv::com_ptr<IDataObject> BlobDataObject(CLIPFORMAT format, std::vector<BYTE> bytes);
// The bytes in new movable global memory (a discarded block when there are none); null on failure.
HGLOBAL CopyToGlobal(const std::vector<BYTE>& bytes);

// Wraps a data object so that it refuses CF_HDROP, as the shell's does for virtual folders.
dv::com_ptr<IDataObject> WithoutDropList(dv::com_ptr<IDataObject> inner);

} // namespace dvtest
