// The handler object: construction, command dispatch, help texts and owner-drawn images.
#include "context_menu.h"
#include "common/trace.h"
#include "commands.h"
#include "manager/manager.h"
#include "navigate/navigate.h"
#include "res/resource.h"
#include "store/bookmarks.h"
#include "store/settings.h"
#include "ui/removal.h"
#include "common/system.h"
#include <shlwapi.h>

namespace dv::menu {

using dv::store::BookmarkTreePtr;
using dv::store::LoadBookmarkTree;
using dv::store::ReleaseBookmarkTree;
using dv::store::kProductKeyPath;
using dv::ui::ConfirmRemoval;
using dv::updater::CUpdater;

namespace {

bool KeyDown(int key) { return ::GetKeyState(key) < 0; }

} // namespace

CDirvaneContextMenu::CDirvaneContextMenu() = default;

CDirvaneContextMenu::~CDirvaneContextMenu() = default;

void CDirvaneContextMenu::StartDailyUpdateCheck() {
    // At most one quiet check a day, one at a time per process, none for an hour after one failed;
    // otherwise the menu shows the stored outcome of the last check.
    if (updater_ || !CUpdater::BackgroundCheckMayStart() || storedUpdate_.checkedToday) return;
    updater_ = CUpdater::Create(nullptr, IDS_PRODUCT_NAME, kProductKeyPath);
    if (updater_ && !updater_->StartBackgroundCheck()) updater_.reset();
}

const QITAB* CDirvaneContextMenu::InterfaceTable() {
    static const QITAB table[] = {
        QITABENT(CDirvaneContextMenu, IShellExtInit),
        QITABENT(CDirvaneContextMenu, IContextMenu),
        QITABENT(CDirvaneContextMenu, IContextMenu2),
        QITABENT(CDirvaneContextMenu, IContextMenu3),
        {nullptr, 0},
    };
    return table;
}

bool CDirvaneContextMenu::UpdateIsAvailable() {
    return updater_ ? updater_->IsUpdateAvailable() : storedUpdate_.available;
}

void CDirvaneContextMenu::OpenManager(HWND owner, bool updateRequested) {
    dv::manager::OpenManager(owner, updateRequested);
}

void CDirvaneContextMenu::ToggleBookmark(HWND owner) {
    BookmarkTreePtr tree = LoadBookmarkTree();
    if (!tree) return;
    if (!model_.AllBookmarked()) {
        for (const std::wstring& path : model_.toBookmark) {
            DisplayNameOf(path.c_str(), selection_.displayName);
            if (!tree->AddBookmark(path.c_str(), selection_.displayName))
                DV_TRACE(L"bookmark not stored: %ls", path.c_str());
        }
    } else if (!model_.toUnbookmark.empty() &&
               ConfirmRemoval(owner, selection_.displayName, model_.toUnbookmark.size() - 1)) {
        // Every selected folder's bookmarks, as the caption and the question name them.
        for (const std::wstring& path : model_.toUnbookmark)
            if (!tree->RemoveBookmarksOf(path.c_str())) DV_TRACE(L"bookmark not removed: %ls", path.c_str());
    }
    ReleaseBookmarkTree(tree);
}

void CDirvaneContextMenu::CopyPathsToClipboard() {
    if (!model_.ownPathOnly && CopySelectionFromView()) return;
    if (selection_.firstPath[0] == 0) return;
    try {
        CopyTextToClipboard(selection_.firstPath);
    } catch (...) {
        DV_TRACE_EXCEPTION();
    }
}

STDMETHODIMP CDirvaneContextMenu::InvokeCommand(CMINVOKECOMMANDINFO* info) {
    if (!info) return E_INVALIDARG;
    const UINT_PTR verb = reinterpret_cast<UINT_PTR>(info->lpVerb);
    if (!IS_INTRESOURCE(verb)) return E_INVALIDARG;  // verbs by name are not supported
    const UINT offset = LOWORD(verb);
    const bool ctrl = KeyDown(VK_LCONTROL) || KeyDown(VK_RCONTROL);
    const bool shift = KeyDown(VK_LSHIFT) || KeyDown(VK_RSHIFT);
    const nav::TargetWindow window = info->hwnd;
    wchar_t* firstPath = selection_.firstPath;

    try {
        const MenuEntry* entry = model_.At(offset);
        switch (entry ? entry->kind : EntryKind::Separator) {
        case EntryKind::Editor:
            OpenInEditor(firstPath, ctrl);
            break;
        case EntryKind::CopyPaths:
            CopyPathsToClipboard();
            break;
        case EntryKind::CommandPrompt:
            if (!::PathIsDirectoryW(firstPath)) ::PathRemoveFileSpecW(firstPath);
            OpenCommandPrompt(firstPath, ctrl);
            break;
        case EntryKind::BookmarkCommand:
            ToggleBookmark(window);
            break;
        case EntryKind::Properties:
        case EntryKind::Update:
            OpenManager(window, entry->kind == EntryKind::Update);
            break;
        default: {
            if (offset >= model_.jumpRange) return E_INVALIDARG;
            const std::wstring& target = model_.TargetAt(offset);
            if (target.empty()) return E_INVALIDARG;  // no folder: a fixed entry, or an item without one
            if (!MoveOrCopyToBookmark(window, firstPath, target.c_str(), ctrl, shift))
                nav::JumpToFolder(window, target.c_str());
        }
        }
    } catch (...) {
        DV_TRACE_EXCEPTION();
    }
    return S_OK;
}

STDMETHODIMP CDirvaneContextMenu::GetCommandString(UINT_PTR offset, UINT type, UINT*, CHAR* name, UINT size) {
    if (type != GCS_HELPTEXTW) return E_FAIL;
    if (!name || size == 0) return E_INVALIDARG;
    try {
        CopyText(reinterpret_cast<wchar_t*>(name), size, model_.HelpText(offset).c_str());
    } catch (...) {
        DV_TRACE_EXCEPTION();
        return E_OUTOFMEMORY;
    }
    return S_OK;
}

STDMETHODIMP CDirvaneContextMenu::HandleMenuMsg(UINT msg, WPARAM wParam, LPARAM lParam) {
    return HandleMenuMsg2(msg, wParam, lParam, nullptr);
}

STDMETHODIMP CDirvaneContextMenu::HandleMenuMsg2(UINT msg, WPARAM, LPARAM lParam, LRESULT* result) {
    LRESULT local = 0;
    if (!result) result = &local;
    *result = 0;
    if (msg == WM_MEASUREITEM) {
        auto* measure = reinterpret_cast<MEASUREITEMSTRUCT*>(lParam);
        if (measure && measure->CtlType == ODT_MENU && MeasureMenuItem(model_, *measure)) *result = TRUE;
    } else if (msg == WM_DRAWITEM) {
        auto* draw = reinterpret_cast<DRAWITEMSTRUCT*>(lParam);
        if (draw && draw->CtlType == ODT_MENU && DrawMenuItem(model_, SharedMenuImages(), *draw)) *result = TRUE;
    }
    return S_OK;
}

} // namespace dv::menu
