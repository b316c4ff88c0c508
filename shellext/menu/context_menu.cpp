// The handler object: construction, command dispatch, help texts and owner-drawn images.
#include "context_menu.h"
#include "common/trace.h"
#include "commands.h"
#include "manager/manager.h"
#include "navigate/navigate.h"
#include "res/resource.h"
#include "store/bookmarks.h"
#include "store/settings.h"
#include "common/system.h"
#include <shlwapi.h>

namespace dv {

namespace {

unique_hicon LoadSmallIcon(HINSTANCE instance, UINT id) {
    return unique_hicon(static_cast<HICON>(
        ::LoadImageW(instance, MAKEINTRESOURCEW(id), IMAGE_ICON, 16, 16, LR_DEFAULTCOLOR)));
}

unique_hbitmap LoadBitmapResource(HINSTANCE instance, UINT id) {
    return unique_hbitmap(::LoadBitmapW(instance, MAKEINTRESOURCEW(id)));
}

bool KeyDown(int key) { return ::GetKeyState(key) < 0; }

} // namespace

CDirvaneContextMenu::CDirvaneContextMenu() : resourceInstance(ResourceInstance()) {
    menuIcon = LoadSmallIcon(resourceInstance, IDI_PRODUCT);
    updateIcon = LoadSmallIcon(resourceInstance, IDI_UPDATE);
    if (IsVistaOrLater()) {
        menuBitmap.reset(IconToAlphaBitmap(menuIcon.get()));
        updateBitmap.reset(IconToAlphaBitmap(updateIcon.get()));
    }
    MakeSwatchBitmaps(swatchBitmaps);
    classicMenuBitmap = LoadBitmapResource(resourceInstance, IDB_CLASSIC_MARK);
    editorBitmap = LoadBitmapResource(resourceInstance, IDB_EDITOR_MARK);
    copyPathsBitmap = LoadBitmapResource(resourceInstance, IDB_COPY_PATHS_MARK);
    commandPromptBitmap = LoadBitmapResource(resourceInstance, IDB_COMMAND_PROMPT_MARK);
    // At most one quiet check a day, and one at a time per process; otherwise the menu shows the
    // stored outcome of the last check.
    if (!CUpdater::BackgroundCheckRunning() && !WasUpdateCheckedToday()) {
        updater = CUpdater::Create(nullptr, IDS_PRODUCT_NAME, kProductKeyPath);
        if (updater && !updater->StartBackgroundCheck()) updater.reset();
    }
}

CDirvaneContextMenu::~CDirvaneContextMenu() = default;

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
    return updater ? updater->IsUpdateAvailable() : ReadUpdateAvailable();
}

void CDirvaneContextMenu::OpenManager(HWND owner, bool updateRequested) {
    dv::OpenManager(owner, updateRequested);
}

void CDirvaneContextMenu::ToggleBookmark(HWND owner) {
    BookmarkTreePtr tree = LoadBookmarkTree();
    if (!tree) return;
    if (!allBookmarked) {
        for (const std::wstring& path : selection) {
            DisplayNameOf(path.c_str(), displayName);
            if (!tree->AddBookmark(path.c_str(), displayName)) DV_TRACE(L"bookmark not stored: %ls", path.c_str());
        }
    } else if (!bookmarkedSelection.empty() &&
               ConfirmRemoval(owner, displayName, bookmarkedSelection.size() - 1)) {
        // Every selected folder's bookmarks, as the caption and the question name them.
        for (const std::wstring& path : bookmarkedSelection)
            if (!tree->RemoveBookmarksOf(path.c_str())) DV_TRACE(L"bookmark not removed: %ls", path.c_str());
    }
    ReleaseBookmarkTree(tree);
}

void CDirvaneContextMenu::CopyPathsToClipboard() {
    if (!ownPathOnly && CopySelectionFromView()) return;
    if (firstPath[0] == 0) return;
    try {
        CopyTextToClipboard(firstPath);
    } catch (...) {
        DV_TRACE_EXCEPTION();
    }
}

STDMETHODIMP CDirvaneContextMenu::InvokeCommand(CMINVOKECOMMANDINFO* info) {
    if (!info) return E_INVALIDARG;
    const UINT_PTR verb = reinterpret_cast<UINT_PTR>(info->lpVerb);
    if (HIWORD(static_cast<DWORD>(verb)) != 0) return E_INVALIDARG;  // verbs by name are not supported
    const UINT offset = LOWORD(verb);
    const bool ctrl = KeyDown(VK_LCONTROL) || KeyDown(VK_RCONTROL);
    const bool shift = KeyDown(VK_LSHIFT) || KeyDown(VK_RSHIFT);
    const nav::TargetWindow window = info->hwnd;

    try {
        if (offset == editorCmd) {
            OpenInEditor(firstPath, ctrl);
        } else if (offset == copyPathsCmd) {
            CopyPathsToClipboard();
        } else if (offset == commandPromptCmd) {
            if (!::PathIsDirectoryW(firstPath)) ::PathRemoveFileSpecW(firstPath);
            OpenCommandPrompt(firstPath, ctrl);
        } else if (offset == bookmarkCmd) {
            ToggleBookmark(window);
        } else if (offset == propertiesCmd || offset == updateCmd) {
            OpenManager(window, offset == updateCmd);
        } else if (offset >= jumpTargets.size()) {
            return E_INVALIDARG;
        } else {
            const std::wstring& target = jumpTargets[offset];
            if (!MoveOrCopyToBookmark(window, firstPath, target.c_str(), ctrl, shift))
                nav::JumpToFolder(window, target.c_str());
        }
    } catch (...) {
        DV_TRACE_EXCEPTION();
    }
    return S_OK;
}

STDMETHODIMP CDirvaneContextMenu::GetCommandString(UINT_PTR offset, UINT type, UINT*, CHAR* name, UINT size) {
    if (type != GCS_HELPTEXTW) return E_FAIL;
    if (!name || size == 0) return E_INVALIDARG;
    auto is = [offset](UINT command) { return command != kNoCommand && offset == command; };
    std::wstring text;
    if (is(bookmarkCmd)) text = LoadResString(IDS_HELP_BOOKMARK);
    else if (is(propertiesCmd)) text = LoadResString(IDS_HELP_PROPERTIES);
    else if (is(editorCmd)) text = LoadResString(IDS_HELP_EDITOR);
    else if (is(copyPathsCmd)) text = LoadResString(IDS_HELP_COPY_PATHS);
    else if (is(commandPromptCmd)) text = LoadResString(IDS_HELP_COMMAND_PROMPT);
    else if (offset < jumpTargets.size())
        text = FormatText(LoadResString(IDS_HELP_JUMP).c_str(), jumpTargets[offset].c_str());
    else text = LoadResString(IDS_HELP_DEFAULT);
    CopyText(reinterpret_cast<wchar_t*>(name), size, text.c_str());
    return S_OK;
}

STDMETHODIMP CDirvaneContextMenu::HandleMenuMsg(UINT msg, WPARAM wParam, LPARAM lParam) {
    return HandleMenuMsg2(msg, wParam, lParam, nullptr);
}

STDMETHODIMP CDirvaneContextMenu::HandleMenuMsg2(UINT msg, WPARAM, LPARAM lParam, LRESULT* result) {
    LRESULT local = 0;
    if (!result) result = &local;
    *result = 0;
    auto colorOf = [this](UINT id) -> UINT {
        auto found = bookmarkColors.find(id);
        return found == bookmarkColors.end() ? 0 : found->second;
    };
    const UINT updateId = UpdateItemId();

    if (msg == WM_MEASUREITEM) {
        auto* measure = reinterpret_cast<MEASUREITEMSTRUCT*>(lParam);
        if (!measure) return S_OK;
        const UINT id = measure->itemID;
        if (topItemId == kNoCommand) return S_OK;  // no menu of ours yet
        if (id != topItemId && id != updateId && colorOf(id) == 0) return S_OK;
        measure->itemWidth += 2;
        if (measure->itemHeight < 16) measure->itemHeight = 16;
        *result = TRUE;
    } else if (msg == WM_DRAWITEM) {
        auto* draw = reinterpret_cast<DRAWITEMSTRUCT*>(lParam);
        if (!draw || draw->CtlType != ODT_MENU || topItemId == kNoCommand) return S_OK;
        const RECT& rc = draw->rcItem;
        const LONG height = rc.bottom - rc.top;
        HICON icon = draw->itemID == topItemId ? menuIcon.get() : draw->itemID == updateId ? updateIcon.get() : nullptr;
        if (draw->itemID == topItemId || draw->itemID == updateId) {
            if (icon) ::DrawIconEx(draw->hDC, rc.left - 16, rc.top + (height - 16) / 2, icon, 16, 16, 0, nullptr, DI_NORMAL);
        } else {
            UINT color = colorOf(draw->itemID);
            if (color == 0 || color >= kSwatchCount) return S_OK;
            unique_hbrush brush(::CreateSolidBrush(ColorOfIndex(color)));
            select_object brushSelected(draw->hDC, brush.get());
            const LONG top = rc.top + (height - kSwatchSize) / 2;
            ::Rectangle(draw->hDC, rc.left - 16, top, rc.left - 2, top + kSwatchSize);
        }
        *result = TRUE;
    }
    return S_OK;
}

} // namespace dv
