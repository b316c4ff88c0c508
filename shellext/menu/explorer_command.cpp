// The command tree: the top-level command, its sub-commands and their enumerator.
#include "explorer_command.h"
#include "commands.h"
#include "context_menu.h"
#include "common/system.h"
#include "common/trace.h"
#include "manager/manager.h"
#include "navigate/navigate.h"
#include "res/resource.h"
#include <shlguid.h>
#include <shlobj.h>
#include <shlwapi.h>
#include <vector>

namespace dv::menu {

using dv::updater::CUpdater;

namespace {

// {8E4F2A61-C93B-4D07-B5E8-1A7C6D2F0E94}: the top-level command's canonical name.
constexpr GUID kTopCommandName = {0x8E4F2A61, 0xC93B, 0x4D07, {0xB5, 0xE8, 0x1A, 0x7C, 0x6D, 0x2F, 0x0E, 0x94}};

// The model's identifiers start at 0 and may use every offset the model allows.
constexpr UINT kFirstId = 0;
constexpr UINT kLastId = 0x7FFF;  // as much room as Explorer gives a classic menu

// The text that make gives, for the host, which frees it with CoTaskMemFree; E_FAIL for no text.
template <class Make>
HRESULT HandOut(LPWSTR* out, Make make) {
    if (!out) return E_POINTER;
    *out = nullptr;
    try {
        const std::wstring text = make();
        return text.empty() ? E_FAIL : ::SHStrDupW(text.c_str(), out);
    } catch (...) {
        DV_TRACE_EXCEPTION();
        return E_OUTOFMEMORY;
    }
}

// "<path of this DLL>,-<icon>", the form the shell loads an icon resource from.
std::wstring IconLocation(UINT iconId) {
    const std::wstring path = ModuleFilePath(ResourceInstance());
    return path.empty() ? path : path + L",-" + std::to_wstring(iconId);
}

com_ptr<IShellBrowser> TopLevelBrowser(IUnknown* site) {
    com_ptr<IShellBrowser> browser;
    if (site) ::IUnknown_QueryService(site, SID_STopLevelBrowser, IID_IShellBrowser, browser.put_void());
    return browser;
}

// The commands act on the window of the site's browser: a bookmark is shown in it, and without
// one (no site, or a browser that refuses) it opens in a new window as the classic menu's fallback does.
class SiteHost final : public CommandHost {
public:
    explicit SiteHost(IUnknown* site) : browser_(TopLevelBrowser(site)) {
        const HRESULT hr = browser_ ? browser_->GetWindow(&window_) : site ? ::IUnknown_GetWindow(site, &window_) : E_FAIL;
        // What a failing site leaves behind is no window: as an owner it would make the questions fail.
        if (FAILED(hr) || !::IsWindow(window_)) window_ = nullptr;
    }
    HWND OwnerWindow() override { return window_; }
    void JumpTo(const wchar_t* folder) override {
        wchar_t prepared[kMaxText];
        if (!nav::PrepareFolderText(folder, prepared)) return;
        if (browser_) {
            const HRESULT hr = nav::BrowseFolder(browser_.get(), prepared, SBSP_SAMEBROWSER | SBSP_ABSOLUTE);
            if (SUCCEEDED(hr) || hr == nav::kFolderNotParsed) return;  // shown, or nowhere to show it
        }
        nav::OpenWithShell(window_, prepared);
    }
    void OpenManager(bool updateRequested) override { dv::manager::OpenManager(window_, updateRequested); }

private:
    com_ptr<IShellBrowser> browser_;
    HWND window_ = nullptr;
};

// The sub-commands of one submenu, handed out in order.
class CommandEnumerator : public IEnumExplorerCommand {
public:
    explicit CommandEnumerator(std::vector<com_ptr<IExplorerCommand>> commands, size_t next = 0)
        : commands_(std::move(commands)), next_(next) {}
    virtual ~CommandEnumerator() = default;

    static const QITAB* InterfaceTable() {
        static const QITAB table[] = {QITABENT(CommandEnumerator, IEnumExplorerCommand), {nullptr, 0}};
        return table;
    }

    STDMETHODIMP Next(ULONG count, IExplorerCommand** out, ULONG* fetched) override {
        if (!out || (count != 1 && !fetched)) return E_POINTER;
        ULONG given = 0;
        for (; given < count && next_ < commands_.size(); ++given, ++next_) {
            out[given] = commands_[next_].get();
            out[given]->AddRef();
        }
        if (fetched) *fetched = given;
        return given == count ? S_OK : S_FALSE;
    }
    STDMETHODIMP Skip(ULONG count) override {
        const size_t left = commands_.size() - next_;
        next_ += count < left ? count : left;
        return count <= left ? S_OK : S_FALSE;
    }
    STDMETHODIMP Reset() override {
        next_ = 0;
        return S_OK;
    }
    STDMETHODIMP Clone(IEnumExplorerCommand** out) override {
        if (!out) return E_POINTER;
        try {
            return ComObject<CommandEnumerator>::CreateInstance(IID_IEnumExplorerCommand, reinterpret_cast<void**>(out),
                                                                commands_, next_);
        } catch (...) {
            DV_TRACE_EXCEPTION();
            return E_OUTOFMEMORY;
        }
    }

private:
    std::vector<com_ptr<IExplorerCommand>> commands_;
    size_t next_;
};

} // namespace

std::wstring WithoutAccelerators(const std::wstring& caption) {
    std::wstring title;
    title.reserve(caption.size());
    for (size_t i = 0; i < caption.size(); ++i) {
        if (caption[i] != L'&') {
            title.push_back(caption[i]);
        } else if (i + 1 < caption.size() && caption[i + 1] == L'&') {
            title.push_back(L'&');
            ++i;
        }
    }
    return title;
}

HRESULT ReadShellItems(IShellItemArray* items, MenuSelection& selection) {
    selection = MenuSelection();
    DWORD count = 0;
    if (!items || FAILED(items->GetCount(&count))) return E_INVALIDARG;
    if (count == 0) return E_FAIL;
    selection.count = count;
    // One by one: Wine's arrays, for one, give no data object for their items.
    for (DWORD i = 0; i < count; ++i) {
        com_ptr<IShellItem> item;
        unique_pidl list;
        if (FAILED(items->GetItemAt(i, item.put())) || !item ||
            FAILED(::SHGetIDListFromObject(item.get(), reinterpret_cast<PIDLIST_ABSOLUTE*>(list.put()))) || !list ||
            !AddSelectedItem(list.get(), selection))
            return E_FAIL;
    }
    return CompleteSelection(selection);
}

HRESULT ReadSiteFolder(IUnknown* site, MenuSelection& selection) {
    selection = MenuSelection();
    com_ptr<IShellBrowser> browser = TopLevelBrowser(site);
    com_ptr<IShellView> view;
    if (!browser || FAILED(browser->QueryActiveShellView(view.put())) || !view) return E_FAIL;
    com_ptr<IFolderView> folderView = view.query<IFolderView>();
    com_ptr<IPersistFolder2> folder;
    unique_pidl list;
    if (!folderView || FAILED(folderView->GetFolder(IID_IPersistFolder2, folder.put_void())) || !folder ||
        FAILED(folder->GetCurFolder(reinterpret_cast<PIDLIST_ABSOLUTE*>(list.put()))) || !list)
        return E_FAIL;
    selection.ownPathOnly = true;
    return AddSelectedItem(list.get(), selection) ? CompleteSelection(selection) : E_FAIL;
}

CDirvaneExplorerCommand::CDirvaneExplorerCommand() = default;

CDirvaneExplorerCommand::CDirvaneExplorerCommand(std::shared_ptr<const CommandMenu> menu, UINT offset, IUnknown* site)
    : menu_(std::move(menu)), offset_(offset), site_(site) {}

CDirvaneExplorerCommand::~CDirvaneExplorerCommand() = default;

const QITAB* CDirvaneExplorerCommand::InterfaceTable() {
    static const QITAB table[] = {
        QITABENT(CDirvaneExplorerCommand, IExplorerCommand),
        QITABENT(CDirvaneExplorerCommand, IObjectWithSite),
        {nullptr, 0},
    };
    return table;
}

const MenuEntry* CDirvaneExplorerCommand::Entry() const {
    return IsTop() || offset_ == kAddOnSeparator ? nullptr : menu_->model.At(offset_);
}

void CDirvaneExplorerCommand::BuildMenu(IShellItemArray* items) {
    menu_.reset();
    auto menu = std::make_shared<CommandMenu>();
    // Some hosts give no items for a folder's background: then it is the folder the window shows.
    const HRESULT hr = items ? ReadShellItems(items, menu->selection) : ReadSiteFolder(site_.get(), menu->selection);
    if (FAILED(hr)) return;
    menu->model = BuildCurrentMenuModel(menu->selection, kFirstId, kLastId, CMF_NORMAL, UpdateOfferForMenu(updater_));
    if (menu->model.Find(EntryKind::Top)) menu_ = std::move(menu);
}

STDMETHODIMP CDirvaneExplorerCommand::GetTitle(IShellItemArray*, LPWSTR* title) {
    const MenuEntry* entry = Entry();
    return HandOut(title, [&] {
        return WithoutAccelerators(IsTop() ? LoadResString(IDS_PRODUCT_NAME) : entry ? entry->caption : L"");
    });
}

STDMETHODIMP CDirvaneExplorerCommand::GetIcon(IShellItemArray*, LPWSTR* icon) {
    const MenuEntry* entry = Entry();
    const ImageKind image = IsTop() ? ImageKind::Product : entry ? entry->image : ImageKind::None;
    UINT iconId = 0;
    if (image == ImageKind::Product) iconId = IDI_PRODUCT;
    else if (image == ImageKind::Update) iconId = IDI_UPDATE;
    else if (image == ImageKind::Swatch && entry->colorIndex != 0) iconId = IDI_SWATCH_BASE + entry->colorIndex;
    if (iconId == 0) {  // the marks of the add-ons are no icons
        if (icon) *icon = nullptr;
        return E_NOTIMPL;
    }
    return HandOut(icon, [&] { return IconLocation(iconId); });
}

STDMETHODIMP CDirvaneExplorerCommand::GetToolTip(IShellItemArray*, LPWSTR* tip) {
    if (!IsTop() && !Entry()) {  // the line above the add-ons
        if (tip) *tip = nullptr;
        return E_NOTIMPL;
    }
    return HandOut(tip, [&] { return IsTop() ? LoadResString(IDS_HELP_DEFAULT) : menu_->model.HelpText(offset_); });
}

STDMETHODIMP CDirvaneExplorerCommand::GetCanonicalName(GUID* name) {
    if (!name) return E_POINTER;
    *name = IsTop() ? kTopCommandName : GUID_NULL;
    return IsTop() ? S_OK : E_NOTIMPL;
}

STDMETHODIMP CDirvaneExplorerCommand::GetState(IShellItemArray* items, BOOL, EXPCMDSTATE* state) {
    if (!state) return E_POINTER;
    if (!IsTop()) {
        const MenuEntry* entry = Entry();
        *state = entry && !entry->enabled ? ECS_DISABLED : ECS_ENABLED;
        return S_OK;
    }
    *state = ECS_HIDDEN;
    stateAsked_ = true;
    try {
        BuildMenu(items);
    } catch (...) {
        DV_TRACE_EXCEPTION();
        menu_.reset();
    }
    if (menu_) *state = ECS_ENABLED;
    return S_OK;
}

STDMETHODIMP CDirvaneExplorerCommand::Invoke(IShellItemArray*, IBindCtx*) {
    if (IsTop()) return E_NOTIMPL;  // it opens its submenu
    if (!Entry()) return E_INVALIDARG;
    try {
        // A copy: the commands may change the selection (the command prompt's folder), and the
        // host may invoke an entry of the same menu again.
        MenuSelection selection = menu_->selection;
        SiteHost host(site_.get());
        return RunMenuCommand(menu_->model, selection, offset_, host);
    } catch (...) {
        DV_TRACE_EXCEPTION();
        return E_OUTOFMEMORY;
    }
}

STDMETHODIMP CDirvaneExplorerCommand::GetFlags(EXPCMDFLAGS* flags) {
    if (!flags) return E_POINTER;
    const MenuEntry* entry = Entry();
    const EntryKind kind = IsTop() ? EntryKind::Top : entry ? entry->kind : EntryKind::Separator;
    switch (kind) {
    case EntryKind::Top:
    case EntryKind::BookmarkFolder: *flags = ECF_HASSUBCOMMANDS; break;
    case EntryKind::Separator:
    case EntryKind::BookmarkSeparator: *flags = ECF_ISSEPARATOR; break;
    default: *flags = ECF_DEFAULT; break;
    }
    return S_OK;
}

STDMETHODIMP CDirvaneExplorerCommand::EnumSubCommands(IEnumExplorerCommand** commands) {
    if (!commands) return E_POINTER;
    *commands = nullptr;
    try {
        // Asked without a state first: the folder the site shows. After a state, only its menu: a
        // selection it refused must not turn into the window's folder for Bookmark or Ctrl+copy.
        if (IsTop() && !menu_ && !stateAsked_) BuildMenu(nullptr);
        if (!menu_) return E_FAIL;
        const MenuModel& model = menu_->model;
        const MenuEntry* top = model.Find(EntryKind::Top);
        const UINT parent = IsTop() ? top->offset : offset_;
        std::vector<UINT> offsets;
        for (const MenuEntry& entry : model.entries)
            if (entry.parent == parent) offsets.push_back(entry.offset);
        if (IsTop()) {
            // The classic menu's items beside "Dirvane" (the add-ons) end its submenu here.
            bool lineAdded = false;
            for (const MenuEntry& entry : model.entries) {
                if (entry.parent != kHostMenu || entry.kind == EntryKind::Top) continue;
                if (!lineAdded) offsets.push_back(kAddOnSeparator);
                lineAdded = true;
                offsets.push_back(entry.offset);
            }
        }
        if (offsets.empty()) return E_FAIL;
        std::vector<com_ptr<IExplorerCommand>> subCommands;
        for (UINT offset : offsets) {
            com_ptr<IExplorerCommand> command;
            const HRESULT hr = ComObject<CDirvaneExplorerCommand>::CreateInstance(
                IID_IExplorerCommand, command.put_void(), std::shared_ptr<const CommandMenu>(menu_), offset, site_.get());
            if (FAILED(hr)) return hr;
            subCommands.push_back(std::move(command));
        }
        return ComObject<CommandEnumerator>::CreateInstance(IID_IEnumExplorerCommand, reinterpret_cast<void**>(commands),
                                                            std::move(subCommands));
    } catch (...) {
        DV_TRACE_EXCEPTION();
        return E_OUTOFMEMORY;
    }
}

STDMETHODIMP CDirvaneExplorerCommand::SetSite(IUnknown* site) {
    site_ = com_ptr<IUnknown>(site);
    return S_OK;
}

STDMETHODIMP CDirvaneExplorerCommand::GetSite(REFIID iid, void** site) {
    if (!site) return E_POINTER;
    *site = nullptr;
    return site_ ? site_->QueryInterface(iid, site) : E_FAIL;
}

} // namespace dv::menu
