// Initialize: turning what the shell hands over into the handler's selection.
#include "context_menu.h"
#include "common/trace.h"
#include "common/registry.h"
#include "common/selection_data.h"
#include <shlwapi.h>
#include <algorithm>
#include <array>

namespace dv::menu {

namespace {

// The desktop's name of list of the given kind; empty when it has none.
std::wstring DesktopNameOf(PCIDLIST_ABSOLUTE list, SHGDNF kind) {
    com_ptr<IShellFolder> desktop;
    STRRET name = {};
    unique_cotaskmem text;
    if (FAILED(::SHGetDesktopFolder(desktop.put())) || FAILED(desktop->GetDisplayNameOf(list, kind, &name)) ||
        FAILED(::StrRetToStrW(&name, list, reinterpret_cast<LPWSTR*>(text.put()))) || !text)
        return std::wstring();
    return static_cast<const wchar_t*>(text.get());
}

// The path of list as the shell gives it, or a virtual folder's "::{...}" parsing name.
bool ShellPathFromItemIdList(PCIDLIST_ABSOLUTE list, wchar_t (&path)[kMaxText]) {
    if (::SHGetPathFromIDListW(list, path)) {
        // A path that fills the buffer may have been cut: only the whole parsing name tells.
        if (wcslen(path) >= kMaxText - 1 && DesktopNameOf(list, SHGDN_FORPARSING) != path) {
            path[0] = 0;
            return false;
        }
        return path[0] != 0;
    }
    path[kMaxText - 1] = 0;
    // Some shells leave a virtual folder's parsing name behind from the second character on.
    if (path[0] == 0 && path[1] == L':' && path[2] == L'{') {
        path[0] = L':';
        return true;
    }
    // Elsewhere ask the desktop for the parsing name of the item; only "::{...}" names count.
    const std::wstring parsing = DesktopNameOf(list, SHGDN_FORPARSING);
    if (::StrCmpNW(parsing.c_str(), L"::{", 3) != 0) {
        path[0] = 0;
        return false;
    }
    return CopyText(path, kMaxText, parsing.c_str());
}

// The paths of the last item lists seen. The shell hands over the same folder's list again and again
// (every right-click in one window, a double-click's default verb, the File menu), and turning a
// list into a path binds a shell folder per level of it: under some shells that costs more than the
// whole menu. An answer is reused for a few seconds only, so that a moved known folder (Documents,
// the desktop) is seen soon after.
class PathLookupCache {
public:
    static constexpr ULONGLONG kLifetimeMs = 3000;
    static constexpr UINT kLargestList = 4096;

    bool Find(PCIDLIST_ABSOLUTE list, UINT size, wchar_t (&path)[kMaxText]) {
        const ULONGLONG now = ::GetTickCount64();
        srw_exclusive hold(lock_);
        for (const Entry& entry : entries_) {
            if (entry.list.size() == size && now - entry.madeAt < kLifetimeMs &&
                memcmp(entry.list.data(), list, size) == 0)
                return CopyText(path, kMaxText, entry.path.c_str());
        }
        return false;
    }

    void Store(PCIDLIST_ABSOLUTE list, UINT size, const wchar_t* path) {
        if (size > kLargestList) return;
        try {
            Entry made{std::vector<BYTE>(reinterpret_cast<const BYTE*>(list), reinterpret_cast<const BYTE*>(list) + size),
                       path, ::GetTickCount64()};
            srw_exclusive hold(lock_);
            entries_[next_] = std::move(made);
            next_ = (next_ + 1) % entries_.size();
        } catch (...) {
            DV_TRACE_EXCEPTION();  // no memory: the next lookup asks the shell again
        }
    }

private:
    struct Entry {
        std::vector<BYTE> list;
        std::wstring path;
        ULONGLONG madeAt = 0;
    };
    SRWLOCK lock_ = SRWLOCK_INIT;
    std::array<Entry, 4> entries_;
    size_t next_ = 0;
};

PathLookupCache g_pathLookups;

} // namespace

bool PathFromItemIdList(PCIDLIST_ABSOLUTE list, wchar_t (&path)[kMaxText]) {
    wmemset(path, 0, kMaxText);
    if (!list) return false;
    const UINT size = ::ILGetSize(list);
    if (g_pathLookups.Find(list, size, path)) return true;
    if (!ShellPathFromItemIdList(list, path)) return false;
    g_pathLookups.Store(list, size, path);
    return true;
}

void DisplayNameOf(const wchar_t* source, wchar_t (&name)[kMaxText], bool knownFolder) {
    CopyText(name, kMaxText, source);
    if (!IsNamespacePath(name)) {
        // A folder's own name; a file's folder's name: one look at the disk for a folder.
        if (knownFolder || ::PathIsDirectoryW(name) || (::PathRemoveFileSpecW(name) && ::PathIsDirectoryW(name)))
            ::PathStripPathW(name);
        return;
    }
    com_ptr<IShellFolder> desktop;
    if (SUCCEEDED(::SHGetDesktopFolder(desktop.put()))) {
        unique_pidl parsed;
        wchar_t parseBuffer[kMaxText];
        CopyText(parseBuffer, kMaxText, name);
        if (SUCCEEDED(desktop->ParseDisplayName(nullptr, nullptr, parseBuffer, nullptr,
                                                reinterpret_cast<PIDLIST_RELATIVE*>(parsed.put()), nullptr)) &&
            parsed) {
            const std::wstring shown = DesktopNameOf(parsed.get(), SHGDN_FORADDRESSBAR);
            if (!shown.empty()) CopyText(name, kMaxText, shown.c_str());
            return;
        }
    }
    std::wstring classKey = std::wstring(L"CLSID\\") + (name + 2);
    unique_hkey key = OpenRegKey(HKEY_CLASSES_ROOT, classKey.c_str(), KEY_READ);
    wchar_t value[kMaxText];
    // The class's default value, read with a 260-byte data limit.
    if (key && ReadRegString(key.get(), nullptr, value, kMaxText / sizeof(wchar_t))) CopyText(name, kMaxText, value);
}

void SortAndRemoveDuplicatePaths(std::vector<std::wstring>& paths) {
    if (paths.size() < 2) return;
    std::sort(paths.begin(), paths.end(), [](const std::wstring& a, const std::wstring& b) {
        return CompareFoldAZ(a.c_str(), b.c_str()) > 0;
    });
    paths.erase(std::unique(paths.begin(), paths.end(),
                            [](const std::wstring& a, const std::wstring& b) {
                                return CompareFoldAZ(a.c_str(), b.c_str()) == 0;
                            }),
                paths.end());
}

bool AddSelectedItem(PCIDLIST_ABSOLUTE item, MenuSelection& selection) {
    wchar_t path[kMaxText];
    if (!PathFromItemIdList(item, path)) return false;
    if (selection.count >= 2 && !::PathIsDirectoryW(path) && !IsNamespacePath(path)) ::PathRemoveFileSpecW(path);
    selection.paths.emplace_back(path);
    return true;
}

HRESULT CompleteSelection(MenuSelection& selection) {
    SortAndRemoveDuplicatePaths(selection.paths);
    if (selection.paths.empty()) {
        selection.count = 0;
        return E_FAIL;
    }
    CopyText(selection.firstPath, kMaxText, selection.paths.front().c_str());
    DisplayNameOf(selection.firstPath, selection.displayName, selection.ownPathOnly);
    selection.count = static_cast<UINT>(selection.paths.size());
    return S_OK;
}

HRESULT CDirvaneContextMenu::ReadDataObject(IDataObject* dataObject) {
    FORMATETC format = {CF_HDROP, nullptr, DVASPECT_CONTENT, -1, TYMED_HGLOBAL};
    {
        unique_stgmedium medium;
        if (SUCCEEDED(dataObject->GetData(&format, &medium))) {
            std::vector<std::wstring> names;
            if (medium.tymed != TYMED_HGLOBAL || !ReadDropFiles(medium.hGlobal, names)) {
                DV_TRACE(L"malformed file list refused");
                return E_INVALIDARG;
            }
            if (names.empty()) return E_FAIL;
            // A name the handler's buffers cannot hold whole refuses the selection: acting on a cut
            // name would act on one of its folders.
            for (const std::wstring& name : names) {
                if (name.size() >= kMaxText) {
                    DV_TRACE(L"selection with a name too long refused");
                    return HRESULT_FROM_WIN32(ERROR_FILENAME_EXCED_RANGE);
                }
            }
            selection_.count = static_cast<UINT>(names.size());
            for (const std::wstring& name : names) {
                wchar_t path[kMaxText];
                CopyText(path, kMaxText, name.c_str());
                if (selection_.count >= 2 && !::PathIsDirectoryW(path)) ::PathRemoveFileSpecW(path);
                selection_.paths.emplace_back(path);
            }
            return S_OK;
        }
    }

    format.cfFormat = static_cast<CLIPFORMAT>(::RegisterClipboardFormatW(CFSTR_SHELLIDLIST));
    unique_stgmedium medium;
    if (FAILED(dataObject->GetData(&format, &medium))) return E_INVALIDARG;
    if (medium.tymed != TYMED_HGLOBAL || !IsSoundIdListArray(medium.hGlobal)) {
        DV_TRACE(L"malformed item list array refused");
        return E_INVALIDARG;
    }
    global_lock<CIDA> ida(medium.hGlobal);
    if (!ida) return E_INVALIDARG;
    const CIDA* cida = ida.get();
    selection_.count = cida->cidl;
    if (selection_.count == 0) return E_FAIL;
    auto at = [cida](UINT offsetIndex) {
        return reinterpret_cast<PCIDLIST_ABSOLUTE>(reinterpret_cast<const BYTE*>(cida) + cida->aoffset[offsetIndex]);
    };
    for (UINT i = 0; i < selection_.count; ++i) {
        unique_pidl combined(::ILCombine(at(0), reinterpret_cast<PCUIDLIST_RELATIVE>(at(i + 1))));
        if (!combined) continue;
        if (!AddSelectedItem(combined.get(), selection_)) return E_FAIL;
    }
    return S_OK;
}

STDMETHODIMP CDirvaneContextMenu::Initialize(PCIDLIST_ABSOLUTE folder, IDataObject* dataObject, HKEY) {
    try {
        wmemset(selection_.firstPath, 0, kMaxText);
        selection_.count = 0;
        selection_.paths.clear();
        if (!folder && !dataObject) return E_INVALIDARG;
        selection_.ownPathOnly = folder && !dataObject;

        if (folder) {
            if (!AddSelectedItem(folder, selection_)) return E_FAIL;
        } else {
            HRESULT hr = ReadDataObject(dataObject);
            if (FAILED(hr)) return hr;
        }

        return CompleteSelection(selection_);
    } catch (...) {
        DV_TRACE_EXCEPTION();
        return E_OUTOFMEMORY;
    }
}

} // namespace dv::menu
