// Another process writing the bookmark store: loads the tree once, waits for the named event, then
// adds <count> top-level bookmarks <prefix>0, <prefix>1, ... as the menu's Bookmark command does.
// Usage: store_writer.exe <count> <prefix> <event name>
#include "store/bookmarks.h"
#include <cwchar>
#include <string>

int wmain(int argc, wchar_t** argv) {
    if (argc != 4) return 2;
    const int count = _wtoi(argv[1]);
    dv::store::BookmarkTreePtr tree = dv::store::LoadBookmarkTree();
    HANDLE go = ::OpenEventW(SYNCHRONIZE, FALSE, argv[3]);
    if (!tree || !go || ::WaitForSingleObject(go, 60000) != WAIT_OBJECT_0) return 3;
    ::CloseHandle(go);
    for (int i = 0; i < count; ++i) {
        const std::wstring address = argv[2] + std::to_wstring(i);
        if (!tree->AddBookmark(address.c_str(), L"")) return 4;
    }
    return 0;
}
