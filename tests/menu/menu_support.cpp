#include "menu_support.h"
#include "common/test_com.h"
#include "common/test_support.h"
#include "common/text.h"
#include <shlobj.h>
#include <shlwapi.h>
#include <tlhelp32.h>
#include <winternl.h>
#include <chrono>

namespace menutest {

using dv::com_ptr;
using dv::unique_pidl;

std::vector<Row> ReadMenu(HMENU menu) {
    std::vector<Row> rows;
    struct Level { HMENU menu; int depth; int next; };
    std::vector<Level> pending{{menu, 0, 0}};
    while (!pending.empty()) {
        Level& level = pending.back();
        if (level.next >= ::GetMenuItemCount(level.menu)) {
            pending.pop_back();
            continue;
        }
        const int position = level.next++;
        const int depth = level.depth;
        HMENU current = level.menu;
        wchar_t text[1024] = {};
        MENUITEMINFOW info = {sizeof(info)};
        info.fMask = MIIM_ID | MIIM_STRING | MIIM_SUBMENU | MIIM_FTYPE | MIIM_STATE | MIIM_BITMAP | MIIM_CHECKMARKS;
        info.dwTypeData = text;
        info.cch = ARRAYSIZE(text);
        ::GetMenuItemInfoW(current, position, TRUE, &info);
        Row row;
        row.depth = depth;
        row.id = info.wID;
        row.separator = (info.fType & MFT_SEPARATOR) != 0;
        row.text = row.separator ? L"" : text;
        row.grayed = (info.fState & MFS_GRAYED) != 0;
        row.submenu = info.hSubMenu != nullptr;
        row.image = info.hbmpItem;
        row.checkMark = info.hbmpUnchecked;
        rows.push_back(row);
        if (info.hSubMenu) pending.push_back({info.hSubMenu, depth + 1, 0});
    }
    return rows;
}

const Row* Find(const std::vector<Row>& rows, const std::wstring& text) {
    for (const Row& row : rows)
        if (row.text == text) return &row;
    return nullptr;
}

std::wstring Describe(const std::vector<Row>& rows) {
    std::wstring out;
    for (const Row& row : rows) {
        out += std::wstring(row.depth * 2, L' ') + (row.separator ? L"----" : row.text) + L" [" +
               std::to_wstring(row.id) + L"]";
        if (row.grayed) out += L" grayed";
        if (row.image == HBMMENU_CALLBACK) out += L" callback";
        else if (row.image) out += L" image";
        if (row.checkMark) out += L" mark";
        out += L"\n";
    }
    return out;
}

HeldKeys::HeldKeys(bool ctrl, bool shift) {
    ::GetKeyboardState(saved_);
    BYTE state[256];
    memcpy(state, saved_, sizeof(state));
    auto hold = [&state](int key, bool down) { state[key] = down ? 0x80 : 0; };
    hold(VK_CONTROL, ctrl);
    hold(VK_LCONTROL, ctrl);
    hold(VK_RCONTROL, false);
    hold(VK_SHIFT, shift);
    hold(VK_LSHIFT, shift);
    hold(VK_RSHIFT, false);
    ::SetKeyboardState(state);
}

HeldKeys::~HeldKeys() { ::SetKeyboardState(saved_); }

Answerer::Answerer(const wchar_t* caption, int button) : caption_(caption), button_(button) {
    thread_ = std::thread([this] { Run(); });
}

Answerer::~Answerer() {
    stop_ = true;
    thread_.join();
}

std::wstring Answerer::Text() const { return answered_ ? text_ : std::wstring(); }

void Answerer::Run() {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (!stop_ && !answered_ && std::chrono::steady_clock::now() < deadline) {
        HWND box = nullptr;
        for (HWND w = ::FindWindowExW(nullptr, nullptr, L"#32770", caption_.c_str()); w;
             w = ::FindWindowExW(nullptr, w, L"#32770", caption_.c_str())) {
            DWORD process = 0;
            ::GetWindowThreadProcessId(w, &process);
            if (process == ::GetCurrentProcessId() && ::IsWindowVisible(w)) box = w;
        }
        if (box && ::GetDlgItem(box, button_)) {
            // The message text is the static control of the box.
            for (HWND child = ::FindWindowExW(box, nullptr, L"Static", nullptr); child;
                 child = ::FindWindowExW(box, child, L"Static", nullptr)) {
                std::wstring text = dv::WindowText(child);
                if (!text.empty()) text_ = text;
            }
            answered_ = true;
            ::PostMessageW(box, WM_COMMAND, MAKEWPARAM(button_, BN_CLICKED),
                           reinterpret_cast<LPARAM>(::GetDlgItem(box, button_)));
            return;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
}

std::wstring NameOf(PCIDLIST_ABSOLUTE list) {
    wchar_t path[MAX_PATH] = {};
    if (::SHGetPathFromIDListW(list, path) && path[0]) return path;
    com_ptr<IShellFolder> desktop;
    ::SHGetDesktopFolder(desktop.put());
    STRRET name = {};
    wchar_t text[MAX_PATH] = {};
    if (desktop && SUCCEEDED(desktop->GetDisplayNameOf(list, SHGDN_FORPARSING, &name)))
        ::StrRetToBufW(&name, list, text, MAX_PATH);
    return text;
}

// ---- The shell browser, its view and the view's item enumerator ----

namespace {

class ItemEnum final : public dvtest::SingleInterfaceObject<IEnumIDList> {
public:
    explicit ItemEnum(std::vector<PCUITEMID_CHILD> items) : items_(std::move(items)) {}
    STDMETHODIMP Next(ULONG count, PITEMID_CHILD* out, ULONG* fetched) override {
        ULONG n = 0;
        while (n < count && next_ < items_.size()) out[n++] = ::ILCloneChild(items_[next_++]);
        if (fetched) *fetched = n;
        return n == count ? S_OK : S_FALSE;
    }
    STDMETHODIMP Skip(ULONG count) override { next_ += count; return S_OK; }
    STDMETHODIMP Reset() override { next_ = 0; return S_OK; }
    STDMETHODIMP Clone(IEnumIDList** out) override { *out = nullptr; return E_NOTIMPL; }
private:
    std::vector<PCUITEMID_CHILD> items_;
    size_t next_ = 0;
};

class FolderView final : public IShellView, public IFolderView {
public:
    com_ptr<IShellFolder> folder;
    std::vector<unique_pidl> items;

    STDMETHODIMP QueryInterface(REFIID iid, void** out) override {
        if (iid == IID_IUnknown || iid == IID_IShellView || iid == IID_IOleWindow) *out = static_cast<IShellView*>(this);
        else if (iid == IID_IFolderView) *out = static_cast<IFolderView*>(this);
        else {
            *out = nullptr;
            return E_NOINTERFACE;
        }
        AddRef();
        return S_OK;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return 2; }   // owned by the window's state
    STDMETHODIMP_(ULONG) Release() override { return 1; }
    // IOleWindow, IShellView
    STDMETHODIMP GetWindow(HWND* window) override { *window = nullptr; return E_NOTIMPL; }
    STDMETHODIMP ContextSensitiveHelp(BOOL) override { return E_NOTIMPL; }
    STDMETHODIMP TranslateAccelerator(MSG*) override { return S_FALSE; }
    STDMETHODIMP EnableModeless(BOOL) override { return E_NOTIMPL; }
    STDMETHODIMP UIActivate(UINT) override { return E_NOTIMPL; }
    STDMETHODIMP Refresh() override { return E_NOTIMPL; }
    STDMETHODIMP CreateViewWindow(IShellView*, LPCFOLDERSETTINGS, IShellBrowser*, RECT*, HWND*) override { return E_NOTIMPL; }
    STDMETHODIMP DestroyViewWindow() override { return E_NOTIMPL; }
    STDMETHODIMP GetCurrentInfo(LPFOLDERSETTINGS) override { return E_NOTIMPL; }
    STDMETHODIMP AddPropertySheetPages(DWORD, LPFNSVADDPROPSHEETPAGE, LPARAM) override { return E_NOTIMPL; }
    STDMETHODIMP SaveViewState() override { return E_NOTIMPL; }
    STDMETHODIMP SelectItem(PCUITEMID_CHILD, SVSIF) override { return E_NOTIMPL; }
    STDMETHODIMP GetItemObject(UINT, REFIID, void** out) override { *out = nullptr; return E_NOTIMPL; }
    // IFolderView
    STDMETHODIMP GetCurrentViewMode(UINT*) override { return E_NOTIMPL; }
    STDMETHODIMP SetCurrentViewMode(UINT) override { return E_NOTIMPL; }
    STDMETHODIMP GetFolder(REFIID iid, void** out) override {
        if (!folder) { *out = nullptr; return E_FAIL; }
        return folder->QueryInterface(iid, out);
    }
    STDMETHODIMP Item(int, PITEMID_CHILD*) override { return E_NOTIMPL; }
    STDMETHODIMP ItemCount(UINT, int* count) override { *count = static_cast<int>(items.size()); return S_OK; }
    STDMETHODIMP Items(UINT flags, REFIID iid, void** out) override {
        *out = nullptr;
        if ((flags & SVGIO_TYPE_MASK) != SVGIO_SELECTION || !(flags & SVGIO_FLAG_VIEWORDER) || iid != IID_IEnumIDList)
            return E_INVALIDARG;
        std::vector<PCUITEMID_CHILD> raw;
        for (auto& item : items) raw.push_back(reinterpret_cast<PCUITEMID_CHILD>(item.get()));
        *out = static_cast<IEnumIDList*>(new ItemEnum(raw));
        return S_OK;
    }
    STDMETHODIMP GetSelectionMarkedItem(int*) override { return E_NOTIMPL; }
    STDMETHODIMP GetFocusedItem(int*) override { return E_NOTIMPL; }
    STDMETHODIMP GetItemPosition(PCUITEMID_CHILD, POINT*) override { return E_NOTIMPL; }
    STDMETHODIMP GetSpacing(POINT*) override { return E_NOTIMPL; }
    STDMETHODIMP GetDefaultSpacing(POINT*) override { return E_NOTIMPL; }
    STDMETHODIMP GetAutoArrange() override { return E_NOTIMPL; }
    STDMETHODIMP SelectItem(int, DWORD) override { return E_NOTIMPL; }
    STDMETHODIMP SelectAndPositionItems(UINT, PCUITEMID_CHILD_ARRAY, POINT*, DWORD) override { return E_NOTIMPL; }
};

class ShellBrowser final : public dvtest::ShellBrowserStubs {
public:
    std::vector<std::wstring> browsed;
    std::vector<UINT> browseFlags;
    FolderView* view = nullptr;

    STDMETHODIMP QueryInterface(REFIID iid, void** out) override {
        if (iid == IID_IUnknown || iid == IID_IShellBrowser || iid == IID_IOleWindow) {
            *out = static_cast<IShellBrowser*>(this);
            return S_OK;
        }
        *out = nullptr;
        return E_NOINTERFACE;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return 2; }
    STDMETHODIMP_(ULONG) Release() override { return 1; }
    STDMETHODIMP BrowseObject(PCUIDLIST_RELATIVE list, UINT flags) override {
        browsed.push_back(NameOf(reinterpret_cast<PCIDLIST_ABSOLUTE>(list)));
        browseFlags.push_back(flags);
        return S_OK;
    }
    STDMETHODIMP QueryActiveShellView(IShellView** out) override {
        *out = view;
        return view ? S_OK : E_FAIL;
    }
};

constexpr wchar_t kBrowserClass[] = L"DirvaneMenuTestBrowser";

LRESULT CALLBACK BrowserProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_USER + 7) return ::GetWindowLongPtrW(window, GWLP_USERDATA);
    return ::DefWindowProcW(window, message, wParam, lParam);
}

} // namespace

struct BrowserWindow::Impl {
    ShellBrowser browser;
    FolderView view;
};

BrowserWindow::BrowserWindow() : impl_(new Impl) {
    WNDCLASSW wc = {};
    wc.lpfnWndProc = BrowserProc;
    wc.hInstance = ::GetModuleHandleW(nullptr);
    wc.lpszClassName = kBrowserClass;
    ::RegisterClassW(&wc);
    window_ = ::CreateWindowExW(0, kBrowserClass, L"Browser", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 600, 500, 300, 200,
                                nullptr, nullptr, wc.hInstance, nullptr);
    ::SetWindowLongPtrW(window_, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(static_cast<IShellBrowser*>(&impl_->browser)));
}

BrowserWindow::~BrowserWindow() {
    if (window_) ::DestroyWindow(window_);
}

void BrowserWindow::ShowSelection(const std::wstring& folder, const std::vector<std::wstring>& names) {
    com_ptr<IShellFolder> desktop;
    ::SHGetDesktopFolder(desktop.put());
    impl_->view.folder = desktop;
    if (!folder.empty()) {
        unique_pidl list;
        ::SHParseDisplayName(folder.c_str(), nullptr, reinterpret_cast<PIDLIST_ABSOLUTE*>(list.put()), 0, nullptr);
        impl_->view.folder.reset();
        desktop->BindToObject(list.get(), nullptr, IID_IShellFolder, impl_->view.folder.put_void());
    }
    impl_->view.items.clear();
    for (const auto& name : names) {
        std::wstring parse = name;
        unique_pidl child;
        if (impl_->view.folder)
            impl_->view.folder->ParseDisplayName(nullptr, nullptr, parse.data(), nullptr,
                                                 reinterpret_cast<PIDLIST_RELATIVE*>(child.put()), nullptr);
        if (child) impl_->view.items.push_back(std::move(child));
    }
    impl_->browser.view = &impl_->view;
}

std::vector<std::wstring> BrowserWindow::Browsed() const { return impl_->browser.browsed; }

std::vector<UINT> BrowserWindow::BrowseFlags() const { return impl_->browser.browseFlags; }

IShellBrowser* BrowserWindow::browser() const { return &impl_->browser; }

bool BrowserWindow::MakeForeground() {
    ::SetForegroundWindow(window_);
    return dvtest::WaitFor([this] { return ::GetForegroundWindow() == window_; }, std::chrono::seconds(5));
}

std::wstring ReadTextFile(const std::wstring& path) {
    dv::unique_hfile file(::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                        OPEN_EXISTING, 0, nullptr));
    if (!file) return L"";
    std::string bytes(::GetFileSize(file.get(), nullptr), '\0');
    DWORD read = 0;
    if (!::ReadFile(file.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &read, nullptr)) return L"";
    bytes.resize(read);
    if (bytes.compare(0, 3, "\xEF\xBB\xBF") == 0) bytes.erase(0, 3);
    std::wstring text(bytes.size(), L'\0');
    int n = ::MultiByteToWideChar(CP_UTF8, 0, bytes.data(), static_cast<int>(bytes.size()), text.data(),
                                  static_cast<int>(text.size()));
    text.resize(n > 0 ? n : 0);
    return text;
}

std::wstring ClipboardText() {
    std::wstring text;
    if (!dvtest::WaitFor([] { return ::OpenClipboard(nullptr) != FALSE; }, std::chrono::seconds(5))) return text;
    if (HANDLE data = ::GetClipboardData(CF_UNICODETEXT)) {
        dv::global_lock<wchar_t> locked(data);
        if (locked) text = locked.get();
    }
    ::CloseClipboard();
    return text;
}

void SetClipboardText(const std::wstring& text) {
    if (!dvtest::WaitFor([] { return ::OpenClipboard(nullptr) != FALSE; }, std::chrono::seconds(5))) return;
    ::EmptyClipboard();
    HGLOBAL memory = ::GlobalAlloc(GMEM_MOVEABLE, (text.size() + 1) * sizeof(wchar_t));
    if (memory) {
        memcpy(dv::global_lock<wchar_t>(memory).get(), text.c_str(), (text.size() + 1) * sizeof(wchar_t));
        if (!::SetClipboardData(CF_UNICODETEXT, memory)) ::GlobalFree(memory);
    }
    ::CloseClipboard();
}

namespace {

// The head of another process's RTL_USER_PROCESS_PARAMETERS, up to its command line.
struct ParametersHead {
    BYTE flags[16];
    HANDLE console[5];
    UNICODE_STRING currentDirectory;
    HANDLE currentDirectoryHandle;
    UNICODE_STRING dllPath, imagePath, commandLine;
};

std::wstring ReadString(HANDLE process, const UNICODE_STRING& text) {
    std::wstring value(text.Length / sizeof(wchar_t), L'\0');
    SIZE_T read = 0;
    if (!::ReadProcessMemory(process, text.Buffer, value.data(), text.Length, &read)) return L"";
    return value;
}

// What another process was started with, read from its process parameters and its image.
StartedProgram ReadStartedProgram(HANDLE process) {
    using QueryFn = NTSTATUS(NTAPI*)(HANDLE, PROCESSINFOCLASS, PVOID, ULONG, PULONG);
    auto query = reinterpret_cast<QueryFn>(
        ::GetProcAddress(::GetModuleHandleW(L"ntdll.dll"), "NtQueryInformationProcess"));
    PROCESS_BASIC_INFORMATION basic = {};
    if (!query || query(process, ProcessBasicInformation, &basic, sizeof(basic), nullptr) != 0) return {};
    PEB peb = {};
    ParametersHead parameters = {};
    SIZE_T read = 0;
    if (!::ReadProcessMemory(process, basic.PebBaseAddress, &peb, sizeof(peb), &read) ||
        !::ReadProcessMemory(process, peb.ProcessParameters, &parameters, sizeof(parameters), &read))
        return {};
    StartedProgram program;
    program.commandLine = ReadString(process, parameters.commandLine);
    program.currentDirectory = ReadString(process, parameters.currentDirectory);
    wchar_t image[MAX_PATH * 2];
    DWORD size = ARRAYSIZE(image);
    if (::QueryFullProcessImageNameW(process, 0, image, &size)) program.image.assign(image, size);
    return program;
}

DWORD FindChild(const wchar_t* exeName) {
    dv::unique_handle snapshot(::CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
    if (!snapshot || snapshot.get() == INVALID_HANDLE_VALUE) return 0;
    PROCESSENTRY32W entry = {sizeof(entry)};
    for (BOOL more = ::Process32FirstW(snapshot.get(), &entry); more; more = ::Process32NextW(snapshot.get(), &entry)) {
        if (entry.th32ParentProcessID == ::GetCurrentProcessId() && ::lstrcmpiW(entry.szExeFile, exeName) == 0)
            return entry.th32ProcessID;
    }
    return 0;
}

} // namespace

std::wstring StartedProgram::Parameters() const {
    size_t end = commandLine[0] == L'"' ? commandLine.find(L'"', 1) : commandLine.find(L' ');
    if (end == std::wstring::npos) return L"";
    end = commandLine.find_first_not_of(L' ', end + 1);
    return end == std::wstring::npos ? L"" : commandLine.substr(end);
}

StartedProgram NewChild(const wchar_t* exeName, const std::function<bool(const StartedProgram&)>& settled) {
    DWORD id = 0;
    if (!dvtest::WaitFor([&] { return (id = FindChild(exeName)) != 0; }, std::chrono::seconds(15))) return {};
    dv::unique_handle process(::OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ | PROCESS_TERMINATE |
                                                SYNCHRONIZE, FALSE, id));
    if (!process) return {};
    StartedProgram program;
    // The parameters are in place once the process runs; read until they are, and it has settled.
    dvtest::WaitFor([&] {
        program = ReadStartedProgram(process.get());
        return !program.commandLine.empty() && (!settled || settled(program));
    }, std::chrono::seconds(10));
    ::TerminateProcess(process.get(), 0);
    ::WaitForSingleObject(process.get(), 10000);
    return program;
}

} // namespace menutest
