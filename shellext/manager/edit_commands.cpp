// The manager's editing commands: each changes the bookmark tree through the store, which writes
// the registry at once, then brings the tree view in line without reloading.
#include "manager_dlg.h"
#include "clipboard.h"
#include "item_dlg.h"
#include "ui/manager_shortcuts.h"
#include "ui/removal.h"
#include "ui/images.h"
#include <memory>
#include <string>
#include <vector>

namespace dv {

namespace {

int CALLBACK CompareNodes(LPARAM first, LPARAM second, LPARAM ascending) {
    const auto* a = reinterpret_cast<const BookmarkItem*>(first);
    const auto* b = reinterpret_cast<const BookmarkItem*>(second);
    if (!a || !b) return 0;
    return ascending ? CManagerDlg::CompareCaptions(a->title.c_str(), b->title.c_str())
                     : CManagerDlg::CompareCaptions(b->title.c_str(), a->title.c_str());
}

} // namespace

void CManagerDlg::NewItem() {
    // The place is taken now: when the dialog closes, a tree without a selection selects its first
    // node as it gets the focus back.
    HTREEITEM selected = Selection();
    CItemEditDlg dialog;
    {
        ManagerAcceleratorsSuspension suspended;
        if (dialog.DoModal(m_hWnd) != IDOK) return;
    }
    if (!bookmarks_) return;
    BookmarkItem* parent = &bookmarks_->root;
    HTREEITEM parentNode = TVI_ROOT;
    if (selected && !dialog.appendToRoot) {
        parent = ItemOf(selected);
        parentNode = selected;
        if (!parent) return;
    }
    BookmarkItem* added = AddItem(*parent, dialog.path.c_str(), dialog.caption.c_str());
    if (!added) return;
    if (HTREEITEM node = BuildNode(*added, parentNode, TVI_LAST)) TreeView_SelectItem(tree_, node);
}

void CManagerDlg::EditItem() {
    HTREEITEM node = Selection();
    BookmarkItem* item = ItemOf(node);
    if (!item) return;
    CItemEditDlg dialog(item->title, item->address);
    {
        ManagerAcceleratorsSuspension suspended;
        if (dialog.DoModal(m_hWnd) != IDOK) return;
    }
    SetItemAddressAndTitle(*item, dialog.path.c_str(), dialog.caption.c_str());
    // The node shows what a fresh build of the tree would show.
    TVITEMW update = {};
    update.mask = TVIF_TEXT | TVIF_IMAGE | TVIF_SELECTEDIMAGE;
    update.hItem = node;
    update.pszText = const_cast<wchar_t*>(NodeText(*item));
    update.iImage = update.iSelectedImage = IsSeparatorTitle(item->title) ? 0 : GetShellIconIndex(item->address.c_str());
    TreeView_SetItem(tree_, &update);
}

void CManagerDlg::RemoveItem() {
    HTREEITEM node = Selection();
    BookmarkItem* item = ItemOf(node);
    if (!item) return;
    bool confirmed;
    {
        ManagerAcceleratorsSuspension suspended;
        confirmed = ConfirmRemoval(m_hWnd, item->title.c_str());
    }
    if (!confirmed) return;
    DeleteItemKey(*item);
    // The node goes first, so that no node is left pointing at a freed item meanwhile.
    TreeView_DeleteItem(tree_, node);
    DestroyItem(item);
    UpdateCommandStates();
}

void CManagerDlg::MoveSelected(Move move) {
    HTREEITEM node = Selection();
    BookmarkItem* item = ItemOf(node);
    if (!item || !item->parent) return;
    BookmarkItem* parent = item->parent;
    HTREEITEM parentNode = TreeView_GetParent(tree_, node);

    BookmarkItem* newParent = parent;
    HTREEITEM newParentNode = parentNode ? parentNode : TVI_ROOT;
    const BookmarkItem* anchor = nullptr;
    HTREEITEM insertAfter = TVI_FIRST;
    switch (move) {
    case Move::Up: {
        // After the sibling two places up; first when there is none (also when it is first already).
        HTREEITEM previous = TreeView_GetPrevSibling(tree_, node);
        HTREEITEM beforePrevious = previous ? TreeView_GetPrevSibling(tree_, previous) : nullptr;
        if (beforePrevious) {
            anchor = ItemOf(beforePrevious);
            if (!anchor) return;
            insertAfter = beforePrevious;
        }
        break;
    }
    case Move::Down: {
        HTREEITEM next = TreeView_GetNextSibling(tree_, node);
        if (next) {
            anchor = ItemOf(next);
            if (!anchor) return;
            insertAfter = next;
        } else {
            anchor = &kMoveToEnd;
            insertAfter = TVI_LAST;
        }
        break;
    }
    case Move::Indent: {
        HTREEITEM previous = TreeView_GetPrevSibling(tree_, node);
        if (!previous) {
            manager_testing::WarningBeep();
            return;
        }
        newParent = ItemOf(previous);
        if (!newParent) return;
        newParentNode = previous;
        anchor = &kMoveToEnd;
        insertAfter = TVI_LAST;
        break;
    }
    case Move::Unindent: {
        if (!parentNode || !parent->parent) {
            manager_testing::WarningBeep();
            return;
        }
        newParent = parent->parent;
        HTREEITEM grandparentNode = TreeView_GetParent(tree_, parentNode);
        newParentNode = grandparentNode ? grandparentNode : TVI_ROOT;
        anchor = parent;
        insertAfter = parentNode;
        break;
    }
    }

    if (!MoveItem(*item, *newParent, anchor)) return;  // the registry refused: the view stays as it is
    TreeView_DeleteItem(tree_, node);
    if (HTREEITEM rebuilt = BuildNode(*item, newParentNode, insertAfter)) TreeView_SelectItem(tree_, rebuilt);
    UpdateCommandStates();
}

void CManagerDlg::ChooseColor() {
    const LRESULT index = ::SendMessageW(GetDlgItem(IDC_COLOR_BOX), CB_GETCURSEL, 0, 0);
    if (index < 0) return;
    HTREEITEM node = Selection();
    BookmarkItem* item = ItemOf(node);
    if (!item) return;
    SetColorIndex(*item, static_cast<UINT>(index));
    TreeView_SetItemState(tree_, node, INDEXTOSTATEIMAGEMASK(item->colorIndex), TVIS_STATEIMAGEMASK);
}

void CManagerDlg::SortSiblings(bool ascending) {
    if (!bookmarks_) return;
    // The selection's sibling group; with nothing selected, the top level.
    HTREEITEM selected = Selection();
    HTREEITEM groupNode = selected ? TreeView_GetParent(tree_, selected) : nullptr;
    BookmarkItem* group = groupNode ? ItemOf(groupNode) : &bookmarks_->root;
    if (!group) return;

    TVSORTCB sort = {};
    sort.hParent = groupNode ? groupNode : TVI_ROOT;
    sort.lpfnCompare = CompareNodes;
    sort.lParam = ascending ? 1 : 0;
    TreeView_SortChildrenCB(tree_, &sort, FALSE);

    // The children list takes the order of the nodes.
    std::vector<std::unique_ptr<BookmarkItem>> unordered = std::move(group->children);
    group->children.clear();
    HTREEITEM child = groupNode ? TreeView_GetChild(tree_, groupNode) : TreeView_GetRoot(tree_);
    for (; child; child = TreeView_GetNextSibling(tree_, child)) {
        BookmarkItem* item = ItemOf(child);
        for (auto& slot : unordered) {
            if (slot && slot.get() == item) {
                group->children.push_back(std::move(slot));
                break;
            }
        }
    }
    for (auto& slot : unordered) {
        if (slot) group->children.push_back(std::move(slot));  // no node of its own: keep it, last
    }
    WriteChildOrder(*group);
}

void CManagerDlg::PasteFromExplorer() {
    std::vector<std::wstring> paths;
    if (!GetClipboardFolderPaths(paths) || !bookmarks_) return;
    HTREEITEM selected = Selection();
    BookmarkItem* parent = selected ? ItemOf(selected) : &bookmarks_->root;
    if (!parent) return;
    HTREEITEM parentNode = selected ? selected : TVI_ROOT;
    for (const std::wstring& path : paths) {
        BookmarkItem* added = AddItem(*parent, path.c_str(), L"");
        if (!added) break;
        if (HTREEITEM node = BuildNode(*added, parentNode, TVI_LAST)) TreeView_SelectItem(tree_, node);
    }
}

} // namespace dv
