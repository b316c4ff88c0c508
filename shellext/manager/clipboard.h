// Folder paths from the Clipboard, for "Paste from Explorer".
#pragma once
#include <string>
#include <vector>

namespace dv::manager {

// The folders of the file list on the Clipboard (a file stands for the folder that holds it; a
// trailing backslash is dropped except on a drive root), sorted by code unit and without repeats.
// False when the Clipboard holds no file list or it yields no path. Needs OLE on the thread.
bool GetClipboardFolderPaths(std::vector<std::wstring>& paths);

// True when the Clipboard's file list holds a name that paste can use; reads only the Clipboard,
// never the disk or the network, so that a menu opens at once whatever the list names.
bool ClipboardOffersFolderPaths();

} // namespace dv::manager
