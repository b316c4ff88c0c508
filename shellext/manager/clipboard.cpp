#include "clipboard.h"
#include "common/handles.h"
#include "common/selection_data.h"
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
    // Any program can leave a file list there: it is checked against its block before use.
    std::vector<std::wstring> names;
    if (!ReadDropFiles(medium.hGlobal, names)) {
        ::OutputDebugStringW(L"Dirvane: malformed file list on the Clipboard ignored\n");
        return false;
    }
    for (const std::wstring& whole : names) {
        // A name that does not fit whole would be another path: leave it out.
        if (whole.size() >= kMaxText) continue;
        wchar_t name[kMaxText];
        CopyText(name, kMaxText, whole.c_str());
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
