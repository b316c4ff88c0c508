// The manager's editing commands: each changes the bookmark tree through the store, which writes
// the registry at once, then brings the tree view in line without reloading.
#include "manager_dlg.h"
#include "clipboard.h"
#include "item_dlg.h"
#include "common/trace.h"
#include "ui/manager_shortcuts.h"
#include "ui/removal.h"
#include "ui/images.h"
#include <memory>
#include <string>
#include <vector>

namespace dv::manager {

using dv::store::BookmarkItem;
using dv::store::IsSeparatorTitle;
using dv::store::ItemKeyPath;
using dv::store::kMoveToEnd;
using dv::ui::ConfirmRemoval;
using dv::ui::GetShellIconIndex;
using dv::ui::ManagerAcceleratorsSuspension;

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
        if (dialog.DoModal(window_) != IDOK) return;
    }
    if (!bookmarks_) return;
    const BookmarkItem* parent = &bookmarks_->root;
    HTREEITEM parentNode = TVI_ROOT;
    if (selected && !dialog.appendToRoot) {
        parent = ItemOf(selected);
        parentNode = selected;
        if (!parent) return;
    }
    const BookmarkItem* added = bookmarks_->Add(*parent, dialog.path.c_str(), dialog.caption.c_str());
    if (!added) {
        DV_TRACE(L"new bookmark not stored under %ls", ItemKeyPath(*parent).c_str());
        return;
    }
    if (HTREEITEM node = BuildNode(*added, parentNode, TVI_LAST)) TreeView_SelectItem(tree_, node);
}

void CManagerDlg::EditItem() {
    HTREEITEM node = Selection();
    const BookmarkItem* item = ItemOf(node);
    if (!item || !bookmarks_) return;
    CItemEditDlg dialog(item->title, item->address);
    {
        ManagerAcceleratorsSuspension suspended;
        if (dialog.DoModal(window_) != IDOK) return;
    }
    if (!bookmarks_->Edit(*item, dialog.path.c_str(), dialog.caption.c_str()))
        DV_TRACE(L"edited bookmark not stored: %ls", ItemKeyPath(*item).c_str());
    // The node shows what a fresh build of the tree would show.
    TVITEMW update = {};
    update.mask = TVIF_TEXT;
    update.hItem = node;
    update.pszText = const_cast<wchar_t*>(NodeText(*item));
    SetNodeImages(update, *item);
    TreeView_SetItem(tree_, &update);
}

void CManagerDlg::RemoveItem() {
    HTREEITEM node = Selection();
    const BookmarkItem* item = ItemOf(node);
    if (!item || !bookmarks_) return;
    bool confirmed;
    {
        ManagerAcceleratorsSuspension suspended;
        confirmed = ConfirmRemoval(window_, item->title.c_str());
    }
    if (!confirmed) return;
    // The node goes first, so that no node is left pointing at a freed item meanwhile.
    const std::wstring keyPath = ItemKeyPath(*item);
    TreeView_DeleteItem(tree_, node);
    if (!bookmarks_->Remove(*item)) DV_TRACE(L"removed bookmark still stored: %ls", keyPath.c_str());
    UpdateCommandStates();
}

void CManagerDlg::MoveSelected(Move move) {
    HTREEITEM node = Selection();
    const BookmarkItem* item = ItemOf(node);
    if (!item || !item->parent || !bookmarks_) return;
    const BookmarkItem* parent = item->parent.get();
    HTREEITEM parentNode = TreeView_GetParent(tree_, node);

    const BookmarkItem* newParent = parent;
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
            testing::WarningBeep();
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
            testing::WarningBeep();
            return;
        }
        newParent = parent->parent.get();
        HTREEITEM grandparentNode = TreeView_GetParent(tree_, parentNode);
        newParentNode = grandparentNode ? grandparentNode : TVI_ROOT;
        anchor = parent;
        insertAfter = parentNode;
        break;
    }
    }

    if (!bookmarks_->Move(*item, *newParent, anchor)) {
        DV_TRACE(L"bookmark not moved: %ls", ItemKeyPath(*item).c_str());
        return;  // the registry refused: the view stays as it is
    }
    TreeView_DeleteItem(tree_, node);
    if (HTREEITEM rebuilt = BuildNode(*item, newParentNode, insertAfter)) TreeView_SelectItem(tree_, rebuilt);
    UpdateCommandStates();
}

void CManagerDlg::ChooseColor() {
    const LRESULT index = ::SendMessageW(GetDlgItem(IDC_COLOR_BOX), CB_GETCURSEL, 0, 0);
    if (index < 0) return;
    HTREEITEM node = Selection();
    const BookmarkItem* item = ItemOf(node);
    if (!item || !bookmarks_) return;
    if (!bookmarks_->SetColor(*item, static_cast<UINT>(index)))
        DV_TRACE(L"bookmark colour not stored: %ls", ItemKeyPath(*item).c_str());
    TreeView_SetItemState(tree_, node, INDEXTOSTATEIMAGEMASK(item->colorIndex), TVIS_STATEIMAGEMASK);
}

void CManagerDlg::SortSiblings(bool ascending) {
    if (!bookmarks_) return;
    // The selection's sibling group; with nothing selected, the top level.
    HTREEITEM selected = Selection();
    HTREEITEM groupNode = selected ? TreeView_GetParent(tree_, selected) : nullptr;
    const BookmarkItem* group = groupNode ? ItemOf(groupNode) : &bookmarks_->root;
    if (!group) return;

    TVSORTCB sort = {};
    sort.hParent = groupNode ? groupNode : TVI_ROOT;
    sort.lpfnCompare = CompareNodes;
    sort.lParam = ascending ? 1 : 0;
    TreeView_SortChildrenCB(tree_, &sort, FALSE);

    // The children take the order of the nodes; one without a node of its own stays, last.
    std::vector<const BookmarkItem*> order;
    HTREEITEM child = groupNode ? TreeView_GetChild(tree_, groupNode) : TreeView_GetRoot(tree_);
    for (; child; child = TreeView_GetNextSibling(tree_, child)) order.push_back(ItemOf(child));
    if (!bookmarks_->Reorder(*group, order)) DV_TRACE(L"sorted order not stored: %ls", ItemKeyPath(*group).c_str());
}

void CManagerDlg::PasteFromExplorer() {
    std::vector<std::wstring> paths;
    if (!GetClipboardFolderPaths(paths) || !bookmarks_) return;
    HTREEITEM selected = Selection();
    const BookmarkItem* parent = selected ? ItemOf(selected) : &bookmarks_->root;
    if (!parent) return;
    HTREEITEM parentNode = selected ? selected : TVI_ROOT;
    for (const std::wstring& path : paths) {
        const BookmarkItem* added = bookmarks_->Add(*parent, path.c_str(), L"");
        if (!added) {
            DV_TRACE(L"pasted bookmark not stored under %ls", ItemKeyPath(*parent).c_str());
            break;
        }
        if (HTREEITEM node = BuildNode(*added, parentNode, TVI_LAST)) TreeView_SelectItem(tree_, node);
    }
}

} // namespace dv::manager
