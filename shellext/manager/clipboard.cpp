#include "clipboard.h"
#include "common/handles.h"
#include "common/text.h"
#include <ole2.h>
#include <shellapi.h>
#include <shlwapi.h>
#include <algorithm>

namespace dv {

bool GetClipboardFolderPaths(std::vector<std::wstring>& paths) {
    paths.clear();
    com_ptr<IDataObject> data;
    if (FAILED(::OleGetClipboard(data.put())) || !data) return false;
    FORMATETC format = {CF_HDROP, nullptr, DVASPECT_CONTENT, -1, TYMED_HGLOBAL};
    unique_stgmedium medium;
    if (FAILED(data->GetData(&format, &medium))) return false;
    if (medium.tymed != TYMED_HGLOBAL || !medium.hGlobal) return false;
    HDROP drop = static_cast<HDROP>(medium.hGlobal);

    UINT count = ::DragQueryFileW(drop, 0xFFFFFFFF, nullptr, 0);
    for (UINT i = 0; i < count; ++i) {
        // A name that does not fit whole would be another path: leave it out.
        if (::DragQueryFileW(drop, i, nullptr, 0) >= kMaxText) continue;
        wchar_t name[kMaxText] = {};
        if (::DragQueryFileW(drop, i, name, kMaxText) == 0) continue;
        if (::PathIsDirectoryW(name))
            ::PathRemoveBackslashW(name);  // a drive root keeps its backslash
        else
            ::PathRemoveFileSpecW(name);
        if (name[0]) paths.emplace_back(name);
    }
    std::sort(paths.begin(), paths.end());  // code-unit order: capitals before lower case
    paths.erase(std::unique(paths.begin(), paths.end()), paths.end());
    return !paths.empty();
}

} // namespace dv
