#include "manager_dlg.h"
#include "common/trace.h"
#include "manager.h"
#include "ui/manager_shortcuts.h"
#include "common/text.h"
#include "ui/images.h"
#include "store/settings.h"
#include <algorithm>
#include <vector>

namespace dv::manager {

using dv::store::AddOnFlags;
using dv::store::BookmarkItem;
using dv::store::BookmarkTreePtr;
using dv::store::IsSeparatorTitle;
using dv::store::ItemKeyPath;
using dv::store::LoadBookmarkTree;
using dv::store::ReadManagerSize;
using dv::store::ResetTextEditor;
using dv::store::SameSubtrees;
using dv::store::ToggleAddOn;
using dv::store::WriteManagerSize;
using dv::store::kItemsKeyPath;
using dv::ui::GetShellIconIndex;
using dv::ui::GetSmallSystemImageList;
using dv::ui::MakeSwatchBitmaps;
using dv::ui::ManagerAcceleratorsSuspended;
using dv::ui::kSwatchCount;

namespace testing {
void (*WarningBeep)() = [] { ::MessageBeep(MB_ICONEXCLAMATION); };
void (*StoreChangeSeen)() = [] {};
}

namespace {

// Module-wide: one manager per process at a time (OpenManager makes sure of it).
CManagerDlg* volatile g_activeManagerDlg = nullptr;
unique_hhook g_managerHook;
// The window rectangle as created from the template, before a saved size; it sets the minimum width.
RECT g_managerInitialRect = {};
HWND volatile g_managerWindow = nullptr;

constexpr int kRightControls[8] = {IDC_NEW,     IDC_EDIT,    IDC_REMOVE, IDC_COLOR_BOX,
                                   IDC_MOVE_UP, IDC_UNINDENT, IDC_INDENT, IDC_MOVE_DOWN};
constexpr int kSizeGrip = 12;
constexpr wchar_t kSeparatorLine[] = L"\x2014\x2014\x2014\x2014\x2014\x2014\x2014\x2014\x2014";

// The accelerator table of the module's resources, as a table of our own to destroy.
unique_haccel LoadOwnAccelerators(HINSTANCE instance, UINT id) {
    // Resource layout of one entry: flags, key, command, padding; the last entry has flag 0x80.
    struct Entry {
        WORD flags, key, command, padding;
    };
    HRSRC found = ::FindResourceW(instance, MAKEINTRESOURCEW(id), RT_ACCELERATOR);
    if (!found) return unique_haccel();
    HGLOBAL loaded = ::LoadResource(instance, found);
    const auto* entries = static_cast<const Entry*>(loaded ? ::LockResource(loaded) : nullptr);
    DWORD count = ::SizeofResource(instance, found) / sizeof(Entry);
    if (!entries || count == 0) return unique_haccel();
    std::vector<ACCEL> table;
    for (DWORD i = 0; i < count; ++i) {
        table.push_back(ACCEL{static_cast<BYTE>(entries[i].flags & 0x7F), entries[i].key, entries[i].command});
        if (entries[i].flags & 0x80) break;
    }
    return unique_haccel(::CreateAcceleratorTableW(table.data(), static_cast<int>(table.size())));
}

} // namespace

CManagerDlg::CManagerDlg(bool checkForUpdatesOnOpen)
    : resourceInstance_(ResourceInstance()),
      bookmarks_(LoadBookmarkTree()),
      checkForUpdatesOnOpen_(checkForUpdatesOnOpen),
      accelerators_(LoadOwnAccelerators(ResourceInstance(), IDR_MANAGER_ACCEL)) {
    ManagerAcceleratorsSuspended = false;
    g_activeManagerDlg = this;
    g_managerHook.reset(::SetWindowsHookExW(WH_GETMESSAGE, &CManagerDlg::ManagerAcceleratorHook, resourceInstance_,
                                            ::GetCurrentThreadId()));
}

CManagerDlg::~CManagerDlg() {
    g_managerHook.reset();
    g_activeManagerDlg = nullptr;
}

LRESULT CALLBACK CManagerDlg::ManagerAcceleratorHook(int code, WPARAM wParam, LPARAM lParam) {
    // Only messages taken off the queue: a message merely peeked at comes again when it is removed.
    if (code == HC_ACTION && wParam == PM_REMOVE && !ManagerAcceleratorsSuspended) {
        CManagerDlg* manager = g_activeManagerDlg;
        auto* msg = reinterpret_cast<MSG*>(lParam);
        if (manager && manager->window_ && manager->accelerators_ && msg &&
            (msg->message == WM_KEYDOWN || msg->message == WM_SYSKEYDOWN) &&
            // An open colour list takes Enter, Escape and the arrows itself.
            !manager->ColorListDropped() &&
            ::TranslateAcceleratorW(manager->window_, manager->accelerators_.get(), msg)) {
            *msg = MSG{};
            return 0;
        }
    }
    return ::CallNextHookEx(g_managerHook.get(), code, wParam, lParam);
}

const wchar_t* CManagerDlg::NodeText(const BookmarkItem& item) noexcept {
    return IsSeparatorTitle(item.title) ? kSeparatorLine : item.title.c_str();
}

int CManagerDlg::CompareCaptions(const wchar_t* a, const wchar_t* b) noexcept {
    auto fold = [](wchar_t c) -> unsigned { return (c >= L'a' && c <= L'z') ? c - (L'a' - L'A') : c; };
    for (;; ++a, ++b) {
        unsigned ca = fold(*a), cb = fold(*b);
        if (ca != cb) return ca < cb ? -1 : 1;
        if (ca == 0) return 0;
    }
}

// ---- Initialisation -------------------------------------------------------------------------

HWND CManagerDlg::OpenWindow() noexcept { return g_managerWindow; }

LRESULT CManagerDlg::OnInitDialog(UINT, WPARAM, LPARAM, BOOL&) {
    g_managerWindow = window_;
    tree_ = GetDlgItem(IDC_BOOKMARK_TREE);

    icons_.Start(window_, kIconsFoundMessage);
    systemImages_ = icons_.SystemImages();  // asks no drive, unlike the drives' own icons
    TreeView_SetImageList(tree_, systemImages_, TVSIL_NORMAL);

    // The eleven colour swatches, for the colour box and as the tree's state images. The state
    // list is in place before the first node, so that every node leaves room for its swatch.
    swatches_.reset(::ImageList_Create(14, 14, ILC_COLOR24, static_cast<int>(kSwatchCount), 0));
    if (swatches_) {
        unique_hbitmap bitmaps[kSwatchCount];
        MakeSwatchBitmaps(bitmaps);
        for (auto& bitmap : bitmaps) {
            if (bitmap) ::ImageList_Add(swatches_.get(), bitmap.get(), nullptr);
            bitmap.reset();
        }
    }
    TreeView_SetImageList(tree_, swatches_.get(), TVSIL_STATE);

    // One redraw for the whole tree instead of a layout pass per inserted and expanded node.
    ::SendMessageW(tree_, WM_SETREDRAW, FALSE, 0);
    if (bookmarks_) {
        for (auto& item : bookmarks_->root.children) BuildNode(*item, TVI_ROOT, TVI_LAST);
    }
    TreeView_Expand(tree_, TVI_ROOT, TVE_EXPAND);
    ::SendMessageW(tree_, WM_SETREDRAW, TRUE, 0);
    ::InvalidateRect(tree_, nullptr, TRUE);
    UpdateCommandStates();

    // Arrow glyphs on the move buttons; without the font they keep ^ v > <.
    LOGFONTW face = {};
    face.lfCharSet = SYMBOL_CHARSET;
    CopyText(face.lfFaceName, LF_FACESIZE, L"Wingdings");
    arrowFont_.reset(::CreateFontIndirectW(&face));
    if (arrowFont_) {
        // The font mapper hands out another face when Wingdings is missing; its letters are no arrows.
        unique_hdc dc(::CreateCompatibleDC(nullptr));
        wchar_t chosen[LF_FACESIZE] = {};
        if (dc) {
            select_object selected(dc.get(), arrowFont_.get());
            ::GetTextFaceW(dc.get(), LF_FACESIZE, chosen);
        }
        if (lstrcmpiW(chosen, L"Wingdings") != 0) arrowFont_.reset();
    }
    if (arrowFont_) {
        // Wingdings 0xE1, 0xE2, 0xE0, 0xDF: up, down, right and left arrows. Set as Unicode text,
        // so that the glyphs do not depend on the system's ANSI code page.
        const struct { int id; const wchar_t* glyph; } arrows[] = {
            {IDC_MOVE_UP, L"\x00E1"}, {IDC_MOVE_DOWN, L"\x00E2"}, {IDC_INDENT, L"\x00E0"}, {IDC_UNINDENT, L"\x00DF"}};
        for (const auto& arrow : arrows) {
            ::SendDlgItemMessageW(window_, arrow.id, WM_SETFONT, reinterpret_cast<WPARAM>(arrowFont_.get()), TRUE);
            ::SetDlgItemTextW(window_, arrow.id, arrow.glyph);
        }
    }

    ::GetWindowRect(window_, &g_managerInitialRect);
    MeasureLayout();
    Layout();  // the colour box takes its centred place now, not at the first resize

    HWND colorBox = GetDlgItem(IDC_COLOR_BOX);
    for (int i = 0; i < static_cast<int>(kSwatchCount); ++i) {
        wchar_t space[] = L" ";
        COMBOBOXEXITEMW entry = {};
        entry.mask = CBEIF_TEXT | CBEIF_IMAGE | CBEIF_SELECTEDIMAGE;
        entry.iItem = i;
        entry.pszText = space;
        entry.iImage = entry.iSelectedImage = i;
        if (::SendMessageW(colorBox, CBEM_INSERTITEMW, 0, reinterpret_cast<LPARAM>(&entry)) < 0) break;
    }
    ::SendMessageW(colorBox, CB_SETCURSEL, 0, 0);
    ::SendMessageW(colorBox, CBEM_SETIMAGELIST, 0, reinterpret_cast<LPARAM>(swatches_.get()));
    UpdateCommandStates();

    SIZE saved;
    if (ReadManagerSize(saved)) {
        ::SetWindowPos(window_, nullptr, 0, 0, saved.cx, saved.cy, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
        Layout();
    }

    storeWatcher_.Start(window_, kStoreChangedMessage, kItemsKeyPath);
    if (checkForUpdatesOnOpen_) ::PostMessageW(window_, WM_COMMAND, MAKEWPARAM(ID_HELP_CHECK_UPDATES, 0), 0);
    return TRUE;  // the dialog manager focuses the first tab stop, the tree
}

LRESULT CManagerDlg::OnDestroy(UINT, WPARAM, LPARAM, BOOL& handled) {
    g_managerWindow = nullptr;
    storeWatcher_.Stop();
    icons_.Stop();
    RECT window;
    if (::GetWindowRect(window_, &window))
        WriteManagerSize(window.right - window.left, window.bottom - window.top);
    // The buttons go after their parent; they must not draw with a deleted font meanwhile.
    for (int id : {IDC_MOVE_UP, IDC_MOVE_DOWN, IDC_INDENT, IDC_UNINDENT})
        ::SendDlgItemMessageW(window_, id, WM_SETFONT, 0, FALSE);
    arrowFont_.reset();
    handled = FALSE;
    return 0;
}

LRESULT CManagerDlg::OnClose(UINT, WPARAM, LPARAM, BOOL&) {
    EndDialog(IDCANCEL);
    return 0;
}

// ---- Layout ---------------------------------------------------------------------------------

void CManagerDlg::MeasureLayout() {
    RECT window, client, treeRect;
    ::GetWindowRect(window_, &window);
    ::GetClientRect(window_, &client);
    ::GetWindowRect(tree_, &treeRect);
    treeMarginX_ = (window.right - window.left) - (treeRect.right - treeRect.left);
    treeMarginY_ = (window.bottom - window.top) - (treeRect.bottom - treeRect.top);

    // Positions in client coordinates, offsets from the client area's right edge: measured and
    // applied in the same space, nothing moves until the size changes.
    auto clientRectOf = [this](int id) {
        RECT r = {};
        HWND control = GetDlgItem(id);
        ::GetWindowRect(control, &r);
        ::MapWindowPoints(nullptr, window_, reinterpret_cast<POINT*>(&r), 2);
        return r;
    };
    const RECT newRect = clientRectOf(IDC_NEW), removeRect = clientRectOf(IDC_REMOVE),
               comboRect = clientRectOf(IDC_COLOR_BOX), upRect = clientRectOf(IDC_MOVE_UP);
    const int newOffset = client.right - newRect.left;
    const int upOffset = client.right - upRect.left;
    const int comboOffset =
        newOffset - ((removeRect.right - removeRect.left) - (comboRect.right - comboRect.left)) / 2;
    for (int i = 0; i < 8; ++i) {
        const int id = kRightControls[i];
        const RECT r = clientRectOf(id);
        int offset = client.right - r.left;
        switch (id) {
        case IDC_NEW: case IDC_EDIT: case IDC_REMOVE: offset = newOffset; break;
        case IDC_COLOR_BOX: offset = comboOffset; break;
        case IDC_MOVE_UP: case IDC_MOVE_DOWN: offset = upOffset; break;
        default: break;
        }
        places_[i] = ControlPlace{id, offset, static_cast<int>(r.top)};
    }
    layoutMeasured_ = true;
}

void CManagerDlg::Layout() {
    if (!layoutMeasured_) return;
    RECT window;
    if (!::GetWindowRect(window_, &window) || ::EqualRect(&window, &lastWindowRect_)) return;
    lastWindowRect_ = window;
    RECT client;
    ::GetClientRect(window_, &client);
    ::SetWindowPos(tree_, nullptr, 0, 0, (window.right - window.left) - treeMarginX_,
                   (window.bottom - window.top) - treeMarginY_, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
    for (const ControlPlace& place : places_) {
        ::SetWindowPos(GetDlgItem(place.id), nullptr, client.right - place.xOffset, place.y, 0, 0,
                       SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
    }
    // Repaint everything, the size grip's old corner included.
    ::InvalidateRect(window_, nullptr, TRUE);
}

LRESULT CManagerDlg::OnSize(UINT, WPARAM, LPARAM, BOOL&) {
    Layout();
    return 0;
}

LRESULT CManagerDlg::OnGetMinMaxInfo(UINT, WPARAM, LPARAM lParam, BOOL& handled) {
    if (!layoutMeasured_) {
        handled = FALSE;  // still being created
        return 0;
    }
    auto* info = reinterpret_cast<MINMAXINFO*>(lParam);
    const LONG width = g_managerInitialRect.right - g_managerInitialRect.left;
    info->ptMinTrackSize.x = width / 6 + width / 2;
    for (const ControlPlace& place : places_) {
        if (place.id == IDC_MOVE_DOWN) info->ptMinTrackSize.y = place.y + 90;
    }
    return 0;
}

LRESULT CManagerDlg::OnPaint(UINT, WPARAM, LPARAM, BOOL&) {
    PAINTSTRUCT paint;
    HDC dc = ::BeginPaint(window_, &paint);
    if (dc) {
        RECT client;
        ::GetClientRect(window_, &client);
        RECT grip = {client.right - kSizeGrip, client.bottom - kSizeGrip, client.right, client.bottom};
        ::DrawFrameControl(dc, &grip, DFC_SCROLL, DFCS_SCROLLSIZEGRIP);
        ::EndPaint(window_, &paint);
    }
    return 0;
}

// ---- Tree view and command states -----------------------------------------------------------

HTREEITEM CManagerDlg::BuildNode(const BookmarkItem& item, HTREEITEM parent, HTREEITEM insertAfter) {
    TVINSERTSTRUCTW insert = {};
    insert.hParent = parent;
    insert.hInsertAfter = insertAfter;
    insert.item.mask = TVIF_TEXT | TVIF_PARAM;
    insert.item.pszText = const_cast<wchar_t*>(NodeText(item));
    insert.item.lParam = reinterpret_cast<LPARAM>(&item);
    SetNodeImages(insert.item, item);
    insert.item.mask |= TVIF_STATE;
    insert.item.stateMask = TVIS_STATEIMAGEMASK | TVIS_EXPANDED | TVIS_EXPANDEDONCE;
    insert.item.state = INDEXTOSTATEIMAGEMASK(item.colorIndex);
    // Expanded from the start: an expand request per node lays the tree out again each time.
    if (!item.children.empty()) insert.item.state |= TVIS_EXPANDED | TVIS_EXPANDEDONCE;
    HTREEITEM node = TreeView_InsertItem(tree_, &insert);
    if (!node) return nullptr;
    for (auto& child : item.children) BuildNode(*child, node, TVI_LAST);
    return node;
}

void CManagerDlg::SetNodeImages(TVITEMW& node, const BookmarkItem& item) noexcept {
    node.mask |= TVIF_IMAGE | TVIF_SELECTEDIMAGE;
    node.iImage = node.iSelectedImage = IsSeparatorTitle(item.title) ? 0 : I_IMAGECALLBACK;
}

const BookmarkItem* CManagerDlg::ItemOf(HTREEITEM node) const noexcept {
    if (!node || node == TVI_ROOT) return nullptr;
    TVITEMW item = {};
    item.mask = TVIF_PARAM;
    item.hItem = node;
    if (!TreeView_GetItem(tree_, &item)) return nullptr;
    return reinterpret_cast<const BookmarkItem*>(item.lParam);
}

HTREEITEM CManagerDlg::Selection() const noexcept { return TreeView_GetSelection(tree_); }

void CManagerDlg::EnableCommand(int controlId, UINT menuId, bool enable) {
    HWND control = GetDlgItem(controlId);
    if (control) {
        // A control that is disabled must not keep the focus, or the keyboard goes dead.
        HWND focus = ::GetFocus();
        if (!enable && focus && (focus == control || ::IsChild(control, focus)))
            ::SendMessageW(window_, WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(tree_), TRUE);
        ::EnableWindow(control, enable);
    }
    if (menuId) ::EnableMenuItem(::GetMenu(window_), menuId, MF_BYCOMMAND | (enable ? MF_ENABLED : MF_GRAYED));
}

void CManagerDlg::UpdateCommandStates() {
    if (!tree_) return;
    HTREEITEM selected = Selection();
    const bool any = selected != nullptr;
    EnableCommand(IDC_EDIT, ID_FOLDER_EDIT, any);
    EnableCommand(IDC_REMOVE, ID_FOLDER_REMOVE, any);
    EnableCommand(IDC_COLOR_BOX, 0, any);
    if (any) {
        const BookmarkItem* item = ItemOf(selected);
        ::SendMessageW(GetDlgItem(IDC_COLOR_BOX), CB_SETCURSEL, item ? static_cast<WPARAM>(item->colorIndex)
                                                                     : static_cast<WPARAM>(-1), 0);
    }
    const bool previous = any && TreeView_GetPrevSibling(tree_, selected);
    const bool next = any && TreeView_GetNextSibling(tree_, selected);
    HTREEITEM parentNode = any ? TreeView_GetParent(tree_, selected) : nullptr;
    EnableCommand(IDC_MOVE_UP, ID_FOLDER_MOVE_UP, previous);
    EnableCommand(IDC_INDENT, ID_FOLDER_INDENT, previous);
    EnableCommand(IDC_MOVE_DOWN, ID_FOLDER_MOVE_DOWN, next);
    EnableCommand(IDC_UNINDENT, ID_FOLDER_UNINDENT, parentNode != nullptr);

    const BookmarkItem* group = parentNode ? ItemOf(parentNode) : nullptr;
    if (!group && bookmarks_) group = &bookmarks_->root;
    const bool sortable = group && group->children.size() > 1;
    HMENU menu = ::GetMenu(window_);
    for (UINT id : {ID_FOLDER_SORT_AZ, ID_FOLDER_SORT_ZA})
        ::EnableMenuItem(menu, id, MF_BYCOMMAND | (sortable ? MF_ENABLED : MF_GRAYED));
}

HWND CManagerDlg::ColorCombo() const noexcept {
    HWND box = ::GetDlgItem(window_, IDC_COLOR_BOX);
    return box ? reinterpret_cast<HWND>(::SendMessageW(box, CBEM_GETCOMBOCONTROL, 0, 0)) : nullptr;
}

bool CManagerDlg::ColorListDropped() const noexcept {
    HWND combo = ColorCombo();
    return combo && ::SendMessageW(combo, CB_GETDROPPEDSTATE, 0, 0) != FALSE;
}

void CManagerDlg::SizeColorList() {
    HWND box = GetDlgItem(IDC_COLOR_BOX);
    HWND combo = ColorCombo();
    if (!box || !combo) return;
    RECT r;
    ::GetWindowRect(box, &r);
    const LRESULT count = ::SendMessageW(combo, CB_GETCOUNT, 0, 0);
    const LRESULT entryHeight = ::SendMessageW(combo, CB_GETITEMHEIGHT, 0, 0);
    if (count < 0 || entryHeight <= 0) return;
    ::SetWindowPos(combo, nullptr, 0, 0, r.right - r.left, static_cast<int>((count + 2) * entryHeight),
                   SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
}

// ---- Messages -------------------------------------------------------------------------------

LRESULT CManagerDlg::OnColorBox(WORD code, WORD, HWND, BOOL& handled) {
    if (code == CBN_DROPDOWN) SizeColorList();
    else if (code == CBN_SELENDOK) ChooseColor();
    else if (code == CBN_CLOSEUP) ReloadWhenIdle();
    handled = FALSE;  // on to the command table, where nothing matches
    return 0;
}

LRESULT CManagerDlg::OnCommand(UINT, WPARAM wParam, LPARAM, BOOL& handled) {
    const WORD id = LOWORD(wParam);
    const bool clicked = HIWORD(wParam) == BN_CLICKED;
    switch (id) {
    case IDC_NEW: if (clicked) NewItem(); break;
    case IDC_EDIT: if (clicked) EditItem(); break;
    case IDC_REMOVE: if (clicked) RemoveItem(); break;
    case IDC_MOVE_UP: if (clicked) MoveSelected(Move::Up); break;
    case IDC_MOVE_DOWN: if (clicked) MoveSelected(Move::Down); break;
    case IDC_INDENT: if (clicked) MoveSelected(Move::Indent); break;
    case IDC_UNINDENT: if (clicked) MoveSelected(Move::Unindent); break;
    case ID_FOLDER_NEW: case ID_ACCEL_NEW: NewItem(); break;
    case ID_FOLDER_EDIT: case ID_ACCEL_EDIT: EditItem(); break;
    case ID_FOLDER_REMOVE: case ID_ACCEL_REMOVE: RemoveItem(); break;
    case ID_FOLDER_PASTE: case ID_ACCEL_PASTE: case ID_ACCEL_PASTE_SHIFT: PasteFromExplorer(); break;
    case ID_FOLDER_SORT_AZ: SortSiblings(true); break;
    case ID_FOLDER_SORT_ZA: SortSiblings(false); break;
    case ID_FOLDER_MOVE_UP: case ID_ACCEL_MOVE_UP: MoveSelected(Move::Up); break;
    case ID_FOLDER_MOVE_DOWN: case ID_ACCEL_MOVE_DOWN: MoveSelected(Move::Down); break;
    case ID_FOLDER_INDENT: case ID_ACCEL_INDENT: MoveSelected(Move::Indent); break;
    case ID_FOLDER_UNINDENT: case ID_ACCEL_UNINDENT: MoveSelected(Move::Unindent); break;
    case ID_FOLDER_EXIT: EndDialog(IDCANCEL); break;
    case ID_OPTIONS_RUN_CMD: ToggleAddOn(AddOnFlags::RunCmd); break;
    case ID_OPTIONS_COPY_PATHS: ToggleAddOn(AddOnFlags::CopyToClipboard); break;
    case ID_OPTIONS_EDITOR: ToggleAddOn(AddOnFlags::NotepadView); break;
    case ID_OPTIONS_OTHER_EDITOR: UseAnotherEditor(); break;
    case ID_OPTIONS_RESET_EDITOR: ResetTextEditor(); break;
    case ID_HELP_HOMEPAGE: OpenWebPage(DV_HOMEPAGE_URL); break;
    case ID_HELP_SUPPORT: OpenWebPage(DV_SUPPORT_URL); break;
    case ID_HELP_CHECK_UPDATES: ShowUpdateCheck(window_); break;
    case ID_HELP_ABOUT: ShowAbout(); break;
    default: handled = FALSE; break;  // OK and Cancel included: Escape does not close the manager
    }
    ReloadWhenIdle();
    return 0;
}

LRESULT CManagerDlg::OnTreeDoubleClick(int, LPNMHDR, BOOL&) {
    EditItem();
    ReloadWhenIdle();
    return 0;
}

LRESULT CManagerDlg::OnTreeRightClick(int, LPNMHDR, BOOL&) {
    DWORD position = ::GetMessagePos();
    TVHITTESTINFO hit = {};
    hit.pt = {static_cast<short>(LOWORD(position)), static_cast<short>(HIWORD(position))};
    ::ScreenToClient(tree_, &hit.pt);
    HTREEITEM node = TreeView_HitTest(tree_, &hit);
    if (!(hit.flags & TVHT_ONITEM)) node = nullptr;
    TreeView_SelectItem(tree_, node);
    UpdateCommandStates();
    return TRUE;  // no context menu
}

LRESULT CManagerDlg::OnTreeCustomDraw(int, LPNMHDR header, BOOL&) {
    auto* draw = reinterpret_cast<NMTVCUSTOMDRAW*>(header);
    switch (draw->nmcd.dwDrawStage) {
    case CDDS_PREPAINT:
        return ::GetFocus() == tree_ ? CDRF_DODEFAULT : CDRF_NOTIFYITEMDRAW;
    case CDDS_ITEMPREPAINT:
        // The selected bit alone: the focused item may report the focus bit as well.
        if (draw->nmcd.uItemState & CDIS_SELECTED) {
            draw->clrText = ::GetSysColor(COLOR_HIGHLIGHTTEXT);
            draw->clrTextBk = ::GetSysColor(COLOR_HIGHLIGHT);
            return CDRF_NEWFONT;
        }
        return CDRF_DODEFAULT;
    default:
        return CDRF_DODEFAULT;
    }
}

LRESULT CManagerDlg::OnTreeKeyDown(int, LPNMHDR header, BOOL&) {
    auto* key = reinterpret_cast<NMTVKEYDOWN*>(header);
    if (::GetKeyState(VK_CONTROL) < 0) {
        switch (key->wVKey) {
        case VK_UP: MoveSelected(Move::Up); break;
        case VK_DOWN: MoveSelected(Move::Down); break;
        case VK_RIGHT: MoveSelected(Move::Indent); break;
        case VK_LEFT: MoveSelected(Move::Unindent); break;
        default: break;
        }
    }
    return 0;
}

LRESULT CManagerDlg::OnTreeSelChanged(int, LPNMHDR, BOOL&) {
    UpdateCommandStates();
    return 0;
}

LRESULT CManagerDlg::OnTreeGetInfoTip(int, LPNMHDR header, BOOL&) {
    constexpr size_t kInfoTipLimit = 1024;
    auto* tip = reinterpret_cast<NMTVGETINFOTIPW*>(header);
    const BookmarkItem* item = ItemOf(tip->hItem);
    if (!item || !tip->pszText || tip->cchTextMax <= 0) return 0;
    const size_t capacity = std::min<size_t>(static_cast<size_t>(tip->cchTextMax), kInfoTipLimit);
    CopyText(tip->pszText, capacity, item->address.c_str());
    tip->cchTextMax = static_cast<int>(std::min(item->address.size() + 1, capacity));
    return 0;
}

LRESULT CManagerDlg::OnTreeGetDispInfo(int, LPNMHDR header, BOOL&) {
    auto* info = reinterpret_cast<NMTVDISPINFOW*>(header);
    if (!(info->item.mask & (TVIF_IMAGE | TVIF_SELECTEDIMAGE))) return 0;
    const auto* item = reinterpret_cast<const BookmarkItem*>(info->item.lParam);
    int icon = icons_.GenericFolderIcon();
    try {
        if (item) icon = icons_.IconFor(item->address);
    } catch (...) {
        DV_TRACE_EXCEPTION();
    }
    info->item.iImage = info->item.iSelectedImage = icon;
    return 0;
}

LRESULT CManagerDlg::OnTooltipShow(int, LPNMHDR, BOOL&) { return 0; }

LRESULT CManagerDlg::OnIconsFound(UINT, WPARAM, LPARAM, BOOL&) {
    bool found = false;
    try {
        found = icons_.TakeResults();
    } catch (...) {
        DV_TRACE_EXCEPTION();
    }
    if (found) ::InvalidateRect(tree_, nullptr, FALSE);
    return 0;
}

// ---- Changes made elsewhere -----------------------------------------------------------------

LRESULT CManagerDlg::OnStoreChanged(UINT, WPARAM, LPARAM, BOOL&) {
    storeWatcher_.Acknowledge();
    reloadPending_ = true;
    ReloadWhenIdle();
    testing::StoreChangeSeen();
    return 0;
}

LRESULT CManagerDlg::OnTimer(UINT, WPARAM id, LPARAM, BOOL& handled) {
    if (id != kReloadTimer) {
        handled = FALSE;
        return 0;
    }
    ::KillTimer(window_, kReloadTimer);
    ReloadWhenIdle();
    return 0;
}

void CManagerDlg::ReloadWhenIdle() {
    // A command that waits on a window of ours holds items of the tree; it calls again when done.
    if (!reloadPending_ || ManagerAcceleratorsSuspended || ColorListDropped()) return;
    // At least as long between two reloads as the last one took, and never under 200 ms.
    const DWORD gap = std::max<DWORD>(200, lastReloadCost_);
    const DWORD since = ::GetTickCount() - lastReloadEnd_;
    if (lastReloadEnd_ != 0 && since < gap) {
        ::SetTimer(window_, kReloadTimer, gap - since, nullptr);
        return;
    }
    reloadPending_ = false;
    const DWORD start = ::GetTickCount();
    try {
        ReloadTree();
    } catch (...) {
        DV_TRACE_EXCEPTION();
        DV_TRACE(L"the manager could not show the bookmarks changed elsewhere");
    }
    lastReloadEnd_ = ::GetTickCount();
    lastReloadCost_ = lastReloadEnd_ - start;
    if (lastReloadEnd_ == 0) lastReloadEnd_ = 1;  // 0 means "never"
}

HTREEITEM CManagerDlg::FindNodeByKeyPath(const std::wstring& keyPath) const {
    if (keyPath.empty()) return nullptr;
    std::vector<HTREEITEM> pending;
    for (HTREEITEM node = TreeView_GetRoot(tree_); node; node = TreeView_GetNextSibling(tree_, node))
        pending.push_back(node);
    while (!pending.empty()) {
        HTREEITEM node = pending.back();
        pending.pop_back();
        const BookmarkItem* item = ItemOf(node);
        if (!item) continue;
        const std::wstring path = ItemKeyPath(*item);
        if (path == keyPath) return node;
        // Only an ancestor's subtree can hold it.
        if (keyPath.size() <= path.size() || keyPath.compare(0, path.size(), path) != 0 || keyPath[path.size()] != L'\\')
            continue;
        for (HTREEITEM child = TreeView_GetChild(tree_, node); child; child = TreeView_GetNextSibling(tree_, child))
            pending.push_back(child);
    }
    return nullptr;
}

void CManagerDlg::ReloadTree() {
    BookmarkTreePtr fresh = LoadBookmarkTree();
    if (!fresh) return;
    // The manager's own writes come back as notifications too: the view shows them already.
    if (bookmarks_ && SameSubtrees(bookmarks_->root, fresh->root)) return;

    auto keyPathOf = [this](HTREEITEM node) {
        const BookmarkItem* item = ItemOf(node);
        return item ? ItemKeyPath(*item) : std::wstring();
    };
    const std::wstring selectedPath = keyPathOf(Selection());
    const std::wstring topPath = keyPathOf(TreeView_GetFirstVisible(tree_));

    // One redraw for the whole rebuild, on every way out; the nodes go before the items they point to.
    struct Rebuilding {
        CManagerDlg& dialog;
        ~Rebuilding() {
            ::SendMessageW(dialog.tree_, WM_SETREDRAW, TRUE, 0);
            ::InvalidateRect(dialog.tree_, nullptr, TRUE);
            dialog.UpdateCommandStates();
        }
    } rebuilding{*this};
    ::SendMessageW(tree_, WM_SETREDRAW, FALSE, 0);
    TreeView_DeleteAllItems(tree_);
    bookmarks_ = std::move(fresh);
    for (auto& item : bookmarks_->root.children) BuildNode(*item, TVI_ROOT, TVI_LAST);
    if (HTREEITEM selected = FindNodeByKeyPath(selectedPath)) TreeView_SelectItem(tree_, selected);
    if (HTREEITEM top = FindNodeByKeyPath(topPath)) TreeView_Select(tree_, top, TVGN_FIRSTVISIBLE);
}

} // namespace dv::manager
