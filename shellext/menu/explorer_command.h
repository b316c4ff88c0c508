// The command tree of Windows 11's first-level context menu: a top-level command "Dirvane" whose
// sub-commands are the entries of the same menu model that the classic context menu renders. The
// host asks the top-level command for its state with the selection, then for its sub-commands; each
// sub-command stands for one entry of that right-click's model and runs it as the classic menu does.
#pragma once
#include "common/com.h"
#include "common/handles.h"
#include "menu_model.h"
#include "updater/updater.h"
#include <shobjidl.h>
#include <memory>
#include <string>

namespace dv::menu {

// One right-click's menu: the selection and the model built from it, shared by the top-level
// command and every sub-command it hands out.
struct CommandMenu {
    MenuSelection selection;
    MenuModel model;
};

class CDirvaneExplorerCommand : public IExplorerCommand, public IObjectWithSite {
public:
    // The top-level command, as the class object makes it.
    CDirvaneExplorerCommand();
    // A sub-command: the entry at offset of menu (kAddOnSeparator: the line above the add-ons).
    CDirvaneExplorerCommand(std::shared_ptr<const CommandMenu> menu, UINT offset, IUnknown* site);
    virtual ~CDirvaneExplorerCommand();
    CDirvaneExplorerCommand(const CDirvaneExplorerCommand&) = delete;
    CDirvaneExplorerCommand& operator=(const CDirvaneExplorerCommand&) = delete;

    static const QITAB* InterfaceTable();

    // IExplorerCommand
    STDMETHODIMP GetTitle(IShellItemArray* items, LPWSTR* title) override;
    STDMETHODIMP GetIcon(IShellItemArray* items, LPWSTR* icon) override;
    STDMETHODIMP GetToolTip(IShellItemArray* items, LPWSTR* tip) override;
    STDMETHODIMP GetCanonicalName(GUID* name) override;
    STDMETHODIMP GetState(IShellItemArray* items, BOOL okToBeSlow, EXPCMDSTATE* state) override;
    STDMETHODIMP Invoke(IShellItemArray* items, IBindCtx* context) override;
    STDMETHODIMP GetFlags(EXPCMDFLAGS* flags) override;
    STDMETHODIMP EnumSubCommands(IEnumExplorerCommand** commands) override;
    // IObjectWithSite
    STDMETHODIMP SetSite(IUnknown* site) override;
    STDMETHODIMP GetSite(REFIID iid, void** site) override;

    // The offset of the line between the fixed commands and the add-ons, which the classic menu
    // shows in the host menu below "Dirvane" and the command tree at the end of its submenu.
    static constexpr UINT kAddOnSeparator = kNoCommand - 1;

private:
    bool IsTop() const { return !menu_ || offset_ == kNoCommand; }
    // The model's entry of a sub-command; null for the top level and the add-ons' line.
    const MenuEntry* Entry() const;
    // Reads the selection (items, or the folder the site shows when there are none) and builds the
    // model for it; menu_ stays null when there is nothing to offer.
    void BuildMenu(IShellItemArray* items);

    std::shared_ptr<const CommandMenu> menu_;
    // The top level's state was asked: its answer stands, a refused selection is not replaced by
    // the folder the site shows.
    bool stateAsked_ = false;
    UINT offset_ = kNoCommand;
    com_ptr<IUnknown> site_;
    std::unique_ptr<updater::CUpdater> updater_;  // the top level's background update check
};

// A caption as a title: each "&" that marks an accelerator removed, "&&" as one "&".
std::wstring WithoutAccelerators(const std::wstring& caption);

// The selection of an item array, read item by item with the rules of the classic Initialize.
HRESULT ReadShellItems(IShellItemArray* items, MenuSelection& selection);
// The folder the site's browser shows, as the classic Initialize takes a folder's background.
HRESULT ReadSiteFolder(IUnknown* site, MenuSelection& selection);

} // namespace dv::menu
