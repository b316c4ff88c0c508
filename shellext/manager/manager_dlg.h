// The bookmark manager dialog: the whole bookmark tree in a tree view, the editing commands, the
// colour box, the Options and Help menus, and the shortcut hook of its thread.
#pragma once
#include "common/dialog.h"
#include "common/handles.h"
#include "res/resource.h"
#include "store/bookmarks.h"
#include "icon_lookup.h"
#include "store_watcher.h"
#include <commctrl.h>
#include <string>
#include <unordered_map>

namespace dv::manager {

class CManagerDlg final : public DialogImpl<CManagerDlg> {
public:
    enum { IDD = IDD_MANAGER };

    // Loads the tree and the shortcuts and installs the hook on the calling thread, which must be
    // the one that shows the dialog. Only one manager may exist per process at a time.
    explicit CManagerDlg(bool checkForUpdatesOnOpen);
    virtual ~CManagerDlg();
    CManagerDlg(const CManagerDlg&) = delete;
    CManagerDlg& operator=(const CManagerDlg&) = delete;

    DV_BEGIN_MSG_MAP(CManagerDlg)
        DV_MESSAGE_HANDLER(WM_INITDIALOG, OnInitDialog)
        DV_MESSAGE_HANDLER(WM_INITMENUPOPUP, OnInitMenuPopup)
        DV_MESSAGE_HANDLER(WM_DESTROY, OnDestroy)
        DV_MESSAGE_HANDLER(WM_CLOSE, OnClose)
        DV_MESSAGE_HANDLER(WM_GETMINMAXINFO, OnGetMinMaxInfo)
        DV_MESSAGE_HANDLER(WM_SIZE, OnSize)
        DV_MESSAGE_HANDLER(WM_PAINT, OnPaint)
        DV_COMMAND_ID_HANDLER(IDC_COLOR_BOX, OnColorBox)
        DV_MESSAGE_HANDLER(WM_COMMAND, OnCommand)
        DV_NOTIFY_HANDLER(IDC_BOOKMARK_TREE, NM_DBLCLK, OnTreeDoubleClick)
        DV_NOTIFY_HANDLER(IDC_BOOKMARK_TREE, NM_RCLICK, OnTreeRightClick)
        DV_NOTIFY_HANDLER(IDC_BOOKMARK_TREE, NM_CUSTOMDRAW, OnTreeCustomDraw)
        DV_NOTIFY_HANDLER(IDC_BOOKMARK_TREE, TVN_KEYDOWN, OnTreeKeyDown)
        DV_NOTIFY_HANDLER(IDC_BOOKMARK_TREE, TVN_SELCHANGEDW, OnTreeSelChanged)
        DV_NOTIFY_HANDLER(IDC_BOOKMARK_TREE, TVN_GETINFOTIPW, OnTreeGetInfoTip)
        DV_NOTIFY_HANDLER(IDC_BOOKMARK_TREE, TVN_GETDISPINFOW, OnTreeGetDispInfo)
        DV_NOTIFY_CODE_HANDLER(TTN_SHOW, OnTooltipShow)
        DV_MESSAGE_HANDLER(kStoreChangedMessage, OnStoreChanged)
        DV_MESSAGE_HANDLER(WM_TIMER, OnTimer)
        DV_MESSAGE_HANDLER(kIconsFoundMessage, OnIconsFound)
    DV_END_MSG_MAP()

    // The open manager's window, from any thread; null while none is shown.
    static HWND OpenWindow() noexcept;

    // The shortcut hook of the manager's thread (WH_GETMESSAGE).
    static LRESULT CALLBACK ManagerAcceleratorHook(int code, WPARAM wParam, LPARAM lParam);

    // The tree node's text for a caption: a separator shows as a line of nine em dashes.
    static const wchar_t* NodeText(const store::BookmarkItem& item) noexcept;
    // Caption order of the sort commands: only a-z fold to A-Z, then unsigned code units.
    static int CompareCaptions(const wchar_t* a, const wchar_t* b) noexcept;

private:
    // The eight controls right of the tree keep their distance from the right edge.
    struct ControlPlace {
        int id;
        int xOffset;  // client width minus the control's left edge
        int y;        // client coordinate
    };
    enum class Move { Up, Down, Indent, Unindent };
    // Posted by the store watcher when the registry changed.
    static constexpr UINT kStoreChangedMessage = WM_APP + 0x219;
    // Posted by the icon lookup when it found icons.
    static constexpr UINT kIconsFoundMessage = WM_APP + 0x21A;
    // A reload put off because the last one was too recent.
    static constexpr UINT_PTR kReloadTimer = 0x219;

    LRESULT OnInitDialog(UINT, WPARAM, LPARAM, BOOL&);
    LRESULT OnInitMenuPopup(UINT, WPARAM, LPARAM, BOOL&);
    LRESULT OnDestroy(UINT, WPARAM, LPARAM, BOOL&);
    LRESULT OnClose(UINT, WPARAM, LPARAM, BOOL&);
    LRESULT OnGetMinMaxInfo(UINT, WPARAM, LPARAM, BOOL&);
    LRESULT OnSize(UINT, WPARAM, LPARAM, BOOL&);
    LRESULT OnPaint(UINT, WPARAM, LPARAM, BOOL&);
    LRESULT OnColorBox(WORD code, WORD id, HWND control, BOOL& handled);
    LRESULT OnCommand(UINT, WPARAM, LPARAM, BOOL&);
    LRESULT OnTreeDoubleClick(int, LPNMHDR, BOOL&);
    LRESULT OnTreeRightClick(int, LPNMHDR, BOOL&);
    LRESULT OnTreeCustomDraw(int, LPNMHDR, BOOL&);
    LRESULT OnTreeKeyDown(int, LPNMHDR, BOOL&);
    LRESULT OnTreeSelChanged(int, LPNMHDR, BOOL&);
    LRESULT OnTreeGetInfoTip(int, LPNMHDR, BOOL&);
    LRESULT OnTreeGetDispInfo(int, LPNMHDR, BOOL&);
    LRESULT OnTooltipShow(int, LPNMHDR, BOOL&);
    LRESULT OnStoreChanged(UINT, WPARAM, LPARAM, BOOL&);
    LRESULT OnTimer(UINT, WPARAM, LPARAM, BOOL&);
    LRESULT OnIconsFound(UINT, WPARAM, LPARAM, BOOL&);

    // Outside changes: the tree is loaded again and the view rebuilt, keeping the selection and
    // the scroll position where their items still exist. Deferred while a window of the manager's
    // own is up (its caller holds items of the tree) or the colour list is open, and spaced out
    // while another process writes without pause, so that the manager stays usable.
    void ReloadTree();
    void ReloadWhenIdle();
    HTREEITEM FindNodeByKeyPath(const std::wstring& keyPath) const;

    // Tree view.
    HTREEITEM BuildNode(const store::BookmarkItem& item, HTREEITEM parent, HTREEITEM insertAfter);
    // A separator has no icon; any other node asks for its icon when it is drawn.
    static void SetNodeImages(TVITEMW& node, const store::BookmarkItem& item) noexcept;
    const store::BookmarkItem* ItemOf(HTREEITEM node) const noexcept;
    HTREEITEM Selection() const noexcept;
    void UpdateCommandStates();
    void EnableCommand(int controlId, UINT menuId, bool enable);
    HWND ColorCombo() const noexcept;
    bool ColorListDropped() const noexcept;
    void SizeColorList();

    // Layout.
    void MeasureLayout();
    void Layout();

    // Editing commands.
    void NewItem();
    void EditItem();
    void RemoveItem();
    void MoveSelected(Move move);
    void ChooseColor();
    void SortSiblings(bool ascending);
    void PasteFromExplorer();

    // Options and Help.
    void UpdateOptionsMenu(HMENU menu);
    void UpdatePasteItem(HMENU menu);
    void UseAnotherEditor();
    void ShowAbout();
    void OpenWebPage(const wchar_t* address);

    HINSTANCE resourceInstance_;
    HIMAGELIST systemImages_ = nullptr;  // shared by the system; never destroyed here
    HWND tree_ = nullptr;
    unique_hfont arrowFont_;
    store::BookmarkTreePtr bookmarks_;
    bool checkForUpdatesOnOpen_;
    unique_himagelist swatches_;
    int treeMarginX_ = 0, treeMarginY_ = 0;
    ControlPlace places_[8] = {};
    bool layoutMeasured_ = false;
    RECT lastWindowRect_ = {};
    unique_haccel accelerators_;
    StoreWatcher storeWatcher_;
    bool reloadPending_ = false;
    DWORD lastReloadEnd_ = 0, lastReloadCost_ = 0;  // tick counts
    IconLookup icons_;
};

// Hooks for tests: the warning sound of the impossible moves; a change of the store taken in (after
// the view was brought in line, or the rebuild was put off).
namespace testing {
extern void (*WarningBeep)();
extern void (*StoreChangeSeen)();
}

} // namespace dv::manager
