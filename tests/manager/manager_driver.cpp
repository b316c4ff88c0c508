#include "manager_driver.h"
#include "common/test_support.h"
#include "common/shell_objects.h"
#include "common/registry.h"
#include "common/text.h"
#include <ole2.h>
#include <shlobj.h>
#include <cstring>
#include <chrono>
#include <cstdio>
#include <cstdlib>

namespace mgrtest {

namespace {

constexpr wchar_t kItemsKey[] = L"Software\\Ostrelan\\Dirvane\\Items";

std::wstring ClassOf(HWND window) {
    wchar_t name[64] = {};
    ::GetClassNameW(window, name, 64);
    return name;
}

std::vector<HWND> ThreadWindows(DWORD threadId) {
    std::vector<HWND> windows;
    ::EnumThreadWindows(
        threadId,
        [](HWND window, LPARAM list) -> BOOL {
            reinterpret_cast<std::vector<HWND>*>(list)->push_back(window);
            return TRUE;
        },
        reinterpret_cast<LPARAM>(&windows));
    return windows;
}

} // namespace

ManagerSession::ManagerSession(std::function<void()> open, bool withOle) : open_(std::move(open)), withOle_(withOle) {
    thread_.reset(::CreateThread(nullptr, 0, &ManagerSession::ThreadMain, this, 0, &threadId_));
    if (!thread_) return;
    window_ = WaitForWindow(kManagerTitle);
}

ManagerSession::~ManagerSession() { CloseAll(); }

DWORD WINAPI ManagerSession::ThreadMain(void* param) {
    auto* self = static_cast<ManagerSession*>(param);
    const bool ole = self->withOle_ && SUCCEEDED(::OleInitialize(nullptr));
    self->open_();
    if (ole) ::OleUninitialize();
    return 0;
}

bool ManagerSession::ended() const { return !thread_ || ::WaitForSingleObject(thread_.get(), 0) == WAIT_OBJECT_0; }

bool ManagerSession::WaitEnded(DWORD milliseconds) const {
    return dvtest::WaitFor([this] { return ended(); }, std::chrono::milliseconds(milliseconds));
}

HWND ManagerSession::FindWindowOfThread(const wchar_t* title) const {
    for (HWND window : ThreadWindows(threadId_)) {
        if (::IsWindowVisible(window) && dv::WindowText(window) == title) return window;
    }
    return nullptr;
}

HWND ManagerSession::WaitForWindow(const wchar_t* title, DWORD milliseconds) const {
    HWND found = nullptr;
    dvtest::WaitFor([&] { return (found = FindWindowOfThread(title)) != nullptr || ended(); },
                    std::chrono::milliseconds(milliseconds));
    return found;
}

bool ManagerSession::WaitGone(const wchar_t* title, DWORD milliseconds) const {
    return dvtest::WaitFor([&] { return FindWindowOfThread(title) == nullptr; },
                           std::chrono::milliseconds(milliseconds));
}

bool ManagerSession::CloseAll(DWORD milliseconds) {
    if (!thread_) return true;
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(milliseconds);
    while (!ended() && std::chrono::steady_clock::now() < deadline) {
        std::vector<HWND> dialogs;
        for (HWND window : ThreadWindows(threadId_)) {
            if (ClassOf(window) == L"#32770" && ::IsWindowVisible(window)) dialogs.push_back(window);
        }
        bool nested = false;
        for (HWND dialog : dialogs) {
            if (dialog == window_) continue;
            nested = true;
            ::PostMessageW(dialog, WM_COMMAND, IDNO, 0);
            ::PostMessageW(dialog, WM_COMMAND, IDCANCEL, 0);
        }
        if (!nested && window_ && ::IsWindow(window_)) ::PostMessageW(window_, WM_CLOSE, 0, 0);
        dvtest::WaitFor([this] { return ended(); }, std::chrono::milliseconds(200));
    }
    return ended();
}

void PostKey(HWND window, UINT vk) {
    const LPARAM lParam = 1 | (static_cast<LPARAM>(::MapVirtualKeyW(vk, MAPVK_VK_TO_VSC)) << 16);
    ::PostMessageW(window, WM_KEYDOWN, vk, lParam);
    ::PostMessageW(window, WM_KEYUP, vk, lParam | (1u << 30) | (1u << 31));
}

void Click(HWND dialog, int id) {
    ::PostMessageW(dialog, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), reinterpret_cast<LPARAM>(::GetDlgItem(dialog, id)));
}

std::vector<Node> ReadTree(HWND tree) {
    std::vector<Node> nodes;
    std::vector<std::pair<HTREEITEM, int>> pending;  // next sibling chains to visit, depth first
    HTREEITEM node = TreeView_GetRoot(tree);
    int depth = 0;
    while (node) {
        wchar_t text[1024] = {};
        TVITEMW item = {};
        item.mask = TVIF_TEXT | TVIF_IMAGE | TVIF_SELECTEDIMAGE | TVIF_STATE | TVIF_PARAM;
        item.hItem = node;
        item.pszText = text;
        item.cchTextMax = 1024;
        item.stateMask = TVIS_STATEIMAGEMASK | TVIS_EXPANDED;
        TreeView_GetItem(tree, &item);
        nodes.push_back(Node{node, text, item.iImage, item.iSelectedImage,
                             static_cast<int>((item.state & TVIS_STATEIMAGEMASK) >> 12),
                             (item.state & TVIS_EXPANDED) != 0, item.lParam, depth});
        HTREEITEM child = TreeView_GetChild(tree, node);
        HTREEITEM next = TreeView_GetNextSibling(tree, node);
        if (child) {
            pending.emplace_back(next, depth);
            node = child;
            ++depth;
        } else {
            node = next;
            while (!node && !pending.empty()) {
                node = pending.back().first;
                depth = pending.back().second;
                pending.pop_back();
            }
        }
    }
    return nodes;
}

std::vector<std::wstring> Texts(const std::vector<Node>& nodes) {
    std::vector<std::wstring> texts;
    for (const Node& node : nodes) texts.push_back(node.text);
    return texts;
}

HTREEITEM FindNode(HWND tree, const std::wstring& text) {
    for (const Node& node : ReadTree(tree)) {
        if (node.text == text) return node.handle;
    }
    return nullptr;
}

void SelectNode(HWND tree, HTREEITEM node) { TreeView_SelectItem(tree, node); }

std::wstring MessageBoxText(HWND box) {
    std::wstring longest;
    for (HWND child = ::GetWindow(box, GW_CHILD); child; child = ::GetWindow(child, GW_HWNDNEXT)) {
        if (ClassOf(child) != L"Static") continue;
        std::wstring text = dv::WindowText(child);
        if (text.size() > longest.size()) longest = text;
    }
    return longest;
}

void Screenshot(const char* name) {
    const char* folder = std::getenv("DIRVANE_SCREENSHOTS");
    if (!folder || !*folder) return;
    // Whatever is still to be painted in this process's windows is painted first.
    ::EnumWindows(
        [](HWND window, LPARAM) -> BOOL {
            DWORD process = 0;
            ::GetWindowThreadProcessId(window, &process);
            if (process == ::GetCurrentProcessId() && ::IsWindowVisible(window))
                ::RedrawWindow(window, nullptr, nullptr, RDW_UPDATENOW | RDW_ALLCHILDREN);
            return TRUE;
        },
        0);
    dvtest::WriteScreenBitmap(dvtest::WinPathFromUnix(folder), name);
}

// Starts empty: what an earlier test or program left on the Clipboard outlives its process.
ClipboardFiles::ClipboardFiles()
    : owner_(::CreateWindowExW(0, L"STATIC", L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, nullptr, nullptr)) {
    Put({});
}

ClipboardFiles::~ClipboardFiles() { Put({}); }

void ClipboardFiles::Put(const std::vector<std::wstring>& files) {
    PutBlock(files.empty() ? std::vector<BYTE>() : dvtest::DropFilesBlock(files));
}

void ClipboardFiles::PutBlock(const std::vector<BYTE>& block) {
    if (!::OpenClipboard(owner_.get())) return;
    ::EmptyClipboard();
    if (!block.empty()) {
        HGLOBAL memory = dvtest::CopyToGlobal(block);
        if (memory && !::SetClipboardData(CF_HDROP, memory)) ::GlobalFree(memory);
    }
    ::CloseClipboard();
}

void SeedItem(const std::wstring& relativeKey, const wchar_t* address, const wchar_t* title, DWORD order,
              DWORD color) {
    dv::unique_hkey key = dv::CreateRegKey(HKEY_CURRENT_USER, (std::wstring(kItemsKey) + L"\\" + relativeKey).c_str());
    if (address) dv::WriteRegString(key.get(), L"Address", address);
    if (title) dv::WriteRegString(key.get(), L"Title", title);
    dv::WriteRegDword(key.get(), L"Order", order);
    if (color) dv::WriteRegDword(key.get(), L"ColorIndex", color);
}

bool ItemKeyExists(const std::wstring& relativeKey) {
    return static_cast<bool>(dv::OpenRegKey(HKEY_CURRENT_USER, (std::wstring(kItemsKey) + L"\\" + relativeKey).c_str()));
}

std::wstring ItemString(const std::wstring& relativeKey, const wchar_t* value) {
    dv::unique_hkey key = dv::OpenRegKey(HKEY_CURRENT_USER, (std::wstring(kItemsKey) + L"\\" + relativeKey).c_str());
    wchar_t text[1024] = {};
    if (!key || !dv::ReadRegString(key.get(), value, text, 1024)) return L"<none>";
    return text;
}

DWORD ItemDword(const std::wstring& relativeKey, const wchar_t* value, DWORD fallback) {
    dv::unique_hkey key = dv::OpenRegKey(HKEY_CURRENT_USER, (std::wstring(kItemsKey) + L"\\" + relativeKey).c_str());
    DWORD data = fallback;
    if (!key || !dv::ReadRegDword(key.get(), value, data)) return fallback;
    return data;
}

} // namespace mgrtest
