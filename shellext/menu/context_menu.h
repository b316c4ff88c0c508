// The context-menu handler that the shell creates for each right-click: its selection, and the
// menu model that QueryContextMenu built and the other calls look up. Its images are the process's
// (SharedMenuImages): making and releasing a handler draws and loads nothing.
#pragma once
#include "common/com.h"
#include "common/handles.h"
#include "common/text.h"
#include "menu_model.h"
#include "menu_render.h"
#include "updater/updater.h"
#include <memory>
#include <shlobj.h>
#include <initializer_list>
#include <string>
#include <vector>

namespace dv::menu {

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
    const std::vector<std::wstring>& Selection() const { return selection_.paths; }
    const wchar_t* FirstPath() const { return selection_.firstPath; }
    const wchar_t* DisplayName() const { return selection_.displayName; }
    UINT SelectionCount() const { return selection_.count; }
    bool OwnPathOnly() const { return selection_.ownPathOnly; }
    // The menu the last QueryContextMenu built.
    const MenuModel& Model() const { return model_; }

protected:
    HRESULT ReadDataObject(IDataObject* dataObject);

    // Seam for the update check, asked once per menu being built (never for a handler that is only
    // made and released): starts the day's check when due; true when a newer version is known.
    virtual bool UpdateIsAvailable();
    // Opens the bookmark manager over owner (with its update offer when updateRequested).
    virtual void OpenManager(HWND owner, bool updateRequested);

private:
    class InvocationWindow;  // what the commands need of the window named in the invocation

    MenuSelection selection_;
    MenuModel model_;
    std::unique_ptr<updater::CUpdater> updater_;  // its destruction only signals the background check to stop
};

// What a menu being built shows of updates, from one opening of the product key: starts the day's
// quiet check into updater when none runs there and none ran today (at most one at a time per
// process, none for an hour after one failed); true when the running check, or else the last
// check's stored outcome, found a newer version.
bool UpdateOfferForMenu(std::unique_ptr<updater::CUpdater>& updater);

// The model for selection as a menu of this process shows it now: the add-on switches, the bookmark
// tree and the foreground window are read afresh.
MenuModel BuildCurrentMenuModel(const MenuSelection& selection, UINT firstId, UINT lastId, UINT flags,
                                bool updateAvailable);

// True when some item of menu has a caption containing text (case-sensitive, "&" included).
bool MenuHasItemText(HMENU menu, const wchar_t* text);
// True when some caption contains any of texts; one pass over the menu.
bool MenuHasItemText(HMENU menu, std::initializer_list<const wchar_t*> texts);
bool MenuHasItemText(HMENU menu, UINT stringId);

// Path of an item identifier list: the file-system path, or the "::{...}" parsing name of a
// virtual folder. False when it has neither.
bool PathFromItemIdList(PCIDLIST_ABSOLUTE list, wchar_t (&path)[kMaxText]);

// Short name of a path: the folder's own name (a file gives its folder's), or the display name
// of a namespace path. knownFolder: the caller knows path is a folder (a view's own), no disk access.
void DisplayNameOf(const wchar_t* path, wchar_t (&name)[kMaxText], bool knownFolder = false);

// Sorts paths in descending order, only A-Z folded, and removes entries that compare equal.
void SortAndRemoveDuplicatePaths(std::vector<std::wstring>& paths);

// Adds the path of one selected item (or of a clicked folder) to selection.paths: with selection.count
// (the number of items selected) 2 or more, a file stands for its folder. False when the item has no
// path that fits.
bool AddSelectedItem(PCIDLIST_ABSOLUTE item, MenuSelection& selection);
// Once every item is in: sorts and removes duplicates, then sets firstPath, displayName and count.
// E_FAIL when no path is left.
HRESULT CompleteSelection(MenuSelection& selection);

} // namespace dv::menu
