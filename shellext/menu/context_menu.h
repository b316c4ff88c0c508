// The context-menu handler that the shell creates for each right-click.
#pragma once
#include "common/com.h"
#include "common/handles.h"
#include "common/text.h"
#include "images.h"
#include "updater/updater.h"
#include <memory>
#include <shlobj.h>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace dv {

struct BookmarkItem;

constexpr UINT kNoCommand = 0xFFFFFFFF;

class CDirvaneContextMenu : public IShellExtInit, public IContextMenu3 {
public:
    CDirvaneContextMenu();
    virtual ~CDirvaneContextMenu();
    CDirvaneContextMenu(const CDirvaneContextMenu&) = delete;
    CDirvaneContextMenu& operator=(const CDirvaneContextMenu&) = delete;

    static const QITAB* InterfaceTable();

    // IShellExtInit
    STDMETHODIMP Initialize(PCIDLIST_ABSOLUTE folder, IDataObject* dataObject, HKEY progIdKey) override;
    // IContextMenu
    STDMETHODIMP QueryContextMenu(HMENU menu, UINT index, UINT firstId, UINT lastId, UINT flags) override;
    STDMETHODIMP InvokeCommand(CMINVOKECOMMANDINFO* info) override;
    STDMETHODIMP GetCommandString(UINT_PTR offset, UINT type, UINT* reserved, CHAR* name, UINT size) override;
    // IContextMenu2, IContextMenu3
    STDMETHODIMP HandleMenuMsg(UINT msg, WPARAM wParam, LPARAM lParam) override;
    STDMETHODIMP HandleMenuMsg2(UINT msg, WPARAM wParam, LPARAM lParam, LRESULT* result) override;

    // What Initialize made of the shell's input (read by tests and by the commands).
    const std::vector<std::wstring>& Selection() const { return selection; }
    const wchar_t* FirstPath() const { return firstPath; }
    const wchar_t* DisplayName() const { return displayName; }
    UINT SelectionCount() const { return selectionCount; }
    bool OwnPathOnly() const { return ownPathOnly; }

protected:
    HRESULT ReadDataObject(IDataObject* dataObject);

    // Seam for the update check: true when the last check found a newer version.
    virtual bool UpdateIsAvailable();
    // Opens the bookmark manager over owner (with its update offer when updateRequested).
    virtual void OpenManager(HWND owner, bool updateRequested);

    // Menu construction.
    void AddBookmarkItems(HMENU submenu, const BookmarkItem& root, uint64_t budget);
    void AddBookmarkItem(HMENU menu, const BookmarkItem& item);
    void StoreJumpTarget(const std::wstring& address);
    void SetItemImage(MENUITEMINFOW& info, HBITMAP bitmap) const;
    void Advance() { ++nextId; ++usedIds; }
    UINT UpdateItemId() const { return updateCmd == kNoCommand ? kNoCommand : nextId - usedIds + updateCmd; }

    // Commands that use the handler's state.
    void ToggleBookmark(HWND owner);
    void CopyPathsToClipboard();

    // Windows generation for menu images, decided once per menu.
    enum class ImageStyle { CheckMarkOnly, OwnBitmap, Callback };
    ImageStyle imageStyle = ImageStyle::OwnBitmap;

    HINSTANCE resourceInstance;
    UINT topItemId = kNoCommand;
    UINT bookmarkCmd = kNoCommand, propertiesCmd = kNoCommand, editorCmd = kNoCommand,
         copyPathsCmd = kNoCommand, updateCmd = kNoCommand, commandPromptCmd = kNoCommand;
    unique_hicon menuIcon, updateIcon;
    unique_hbitmap swatchBitmaps[kSwatchCount];
    unique_hbitmap classicMenuBitmap;
    unique_hbitmap menuBitmap, updateBitmap;
    unique_hbitmap editorBitmap, copyPathsBitmap, commandPromptBitmap;
    UINT usedIds = 0;
    UINT nextId = 0;
    UINT selectionCount = 0;
    wchar_t firstPath[kMaxText] = {};
    wchar_t displayName[kMaxText] = {};
    bool allBookmarked = false;
    bool ownPathOnly = false;
    std::vector<std::wstring> jumpTargets;
    std::map<UINT, UINT> bookmarkColors;
    std::vector<std::wstring> selection;
    std::vector<std::wstring> bookmarkedSelection;  // what QueryContextMenu took out of selection
    std::unique_ptr<CUpdater> updater;  // its destruction only signals the background check to stop
    wchar_t captionBuffer[kMaxText] = {};
};

// True when some item of menu has a caption containing text (case-sensitive, "&" included).
bool MenuHasItemText(HMENU menu, const wchar_t* text);
bool MenuHasItemText(HMENU menu, UINT stringId);

// Path of an item identifier list: the file-system path, or the "::{...}" parsing name of a
// virtual folder. False when it has neither.
bool PathFromItemIdList(PCIDLIST_ABSOLUTE list, wchar_t (&path)[kMaxText]);

// Short name of a path: the folder's own name (a file gives its folder's), or the display name
// of a namespace path.
void DisplayNameOf(const wchar_t* path, wchar_t (&name)[kMaxText]);

// Sorts paths in descending order, only A-Z folded, and removes entries that compare equal.
void SortAndRemoveDuplicatePaths(std::vector<std::wstring>& paths);

} // namespace dv
