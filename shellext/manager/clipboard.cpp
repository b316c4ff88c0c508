#include "clipboard.h"
#include "common/trace.h"
#include "common/handles.h"
#include "common/selection_data.h"
#include "common/text.h"
#include <ole2.h>
#include <shellapi.h>
#include <shlwapi.h>
#include <algorithm>

namespace dv::manager {

namespace {

// The names of the Clipboard's file list, each whole. Any program can leave a list there: it is
// checked against its memory before use, and a malformed one gives no names.
std::vector<std::wstring> ClipboardFileNames() {
    std::vector<std::wstring> names;
    com_ptr<IDataObject> data;
    if (FAILED(::OleGetClipboard(data.put())) || !data) return names;
    FORMATETC format = {CF_HDROP, nullptr, DVASPECT_CONTENT, -1, TYMED_HGLOBAL};
    unique_stgmedium medium;
    if (FAILED(data->GetData(&format, &medium)) || medium.tymed != TYMED_HGLOBAL) return names;
    if (!ReadDropFiles(medium.hGlobal, names)) DV_TRACE(L"malformed file list on the Clipboard ignored");
    return names;
}

// A name that does not fit whole would be another path, and a name without a folder is none.
bool IsUsableName(const std::wstring& name, wchar_t (&path)[kMaxText]) {
    if (name.size() >= kMaxText) return false;
    CopyText(path, kMaxText, name.c_str());
    wchar_t folder[kMaxText];
    CopyText(folder, kMaxText, path);
    ::PathRemoveFileSpecW(folder);
    return folder[0] != 0;
}

} // namespace

bool GetClipboardFolderPaths(std::vector<std::wstring>& paths) {
    paths.clear();
    for (const std::wstring& whole : ClipboardFileNames()) {
        wchar_t name[kMaxText];
        if (!IsUsableName(whole, name)) continue;
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

bool ClipboardOffersFolderPaths() {
    wchar_t name[kMaxText];
    for (const std::wstring& whole : ClipboardFileNames())
        if (IsUsableName(whole, name)) return true;
    return false;
}

} // namespace dv::manager
