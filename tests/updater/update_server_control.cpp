#include "update_server_control.h"
#include "updater/updater.h"
#include "common/registry.h"
#include <gtest/gtest.h>
#include <wincrypt.h>
#include <cstdlib>
#include <fstream>
#include <sstream>

namespace updtest {

namespace {

std::wstring Widen(const std::string& text) { return std::wstring(text.begin(), text.end()); }

std::string ReadUnixFile(const std::string& unixPath) {
    std::ifstream in(dvtest::WinPathFromUnix(unixPath).c_str(), std::ios::binary);
    std::stringstream content;
    content << in.rdbuf();
    return content.str();
}

void WriteUnixFile(const std::string& unixPath, const std::string& content) {
    // Written beside and moved into place, so the server never reads half a file.
    std::wstring target = dvtest::WinPathFromUnix(unixPath);
    std::wstring temp = target + L".tmp";
    {
        std::ofstream out(temp.c_str(), std::ios::binary | std::ios::trunc);
        out << content;
    }
    ::MoveFileExW(temp.c_str(), target.c_str(), MOVEFILE_REPLACE_EXISTING);
}

std::string Json(const std::string& text) {
    std::string out = "\"";
    for (char c : text) {
        switch (c) {
        case '"': out += "\\\""; break;
        case '\\': out += "\\\\"; break;
        case '\n': out += "\\n"; break;
        case '\r': out += "\\r"; break;
        case '\t': out += "\\t"; break;
        default: out += c;
        }
    }
    return out + "\"";
}

std::string PortFile(const char* name) {
    std::string port = ReadUnixFile(ServerFolderUnix() + "/" + name);
    while (!port.empty() && (port.back() == '\n' || port.back() == '\r')) port.pop_back();
    return port;
}

} // namespace

std::string ServerFolderUnix() {
    const char* build = std::getenv("DIRVANE_BUILD");
    return std::string(build ? build : ".") + "/updater-server";
}

std::wstring ServerBase() { return L"http://127.0.0.1:" + Widen(PortFile("port")); }
std::wstring DownServerBase() { return L"http://127.0.0.1:" + Widen(PortFile("down-port")); }

void UseScenario(const Scenario& s) {
    std::ostringstream json;
    json << "{\"reply\": " << Json(s.reply) << ", \"status\": " << s.status
         << ", \"stall\": " << (s.stallAfterHeaders ? "\"headers\"" : s.stall ? "true" : "false") << ", \"stall_seconds\": " << s.stallSeconds
         << ", \"installer\": " << (s.installer.empty() ? "null" : Json(s.installer))
         << ", \"download_status\": " << s.downloadStatus << ", \"chunk\": " << s.chunk
         << ", \"delay\": " << s.delay << ", \"partial\": " << (s.partial ? "true" : "false")
         << ", \"no_length\": " << (s.noLength ? "true" : "false") << "}";
    WriteUnixFile(ServerFolderUnix() + "/control.json", json.str());
    WriteUnixFile(ServerFolderUnix() + "/requests.log", "");
}

std::vector<std::string> Requests() {
    std::vector<std::string> lines;
    std::istringstream in(ReadUnixFile(ServerFolderUnix() + "/requests.log"));
    for (std::string line; std::getline(in, line);) {
        if (!line.empty()) lines.push_back(line);
    }
    return lines;
}

std::string Reply(const char* ver, const char* dsc, const char* dl, const char* fn, const char* sha256) {
    std::string text = "[Info]\r\n";
    if (ver) text += std::string("Ver=") + ver + "\r\n";
    if (dsc) text += std::string("Dsc=") + dsc + "\r\n";
    if (dl) text += std::string("DL=") + dl + "\r\n";
    if (fn) text += std::string("FN=") + fn + "\r\n";
    if (sha256) text += std::string("SHA256=") + sha256 + "\r\n";
    return text;
}

int CountTempReplyFiles() {
    wchar_t temp[MAX_PATH];
    ::GetTempPathW(MAX_PATH, temp);
    std::wstring pattern = std::wstring(temp) + L"upd*.tmp";
    WIN32_FIND_DATAW data;
    HANDLE find = ::FindFirstFileW(pattern.c_str(), &data);
    if (find == INVALID_HANDLE_VALUE) return 0;
    int count = 0;
    do ++count;
    while (::FindNextFileW(find, &data));
    ::FindClose(find);
    return count;
}

bool StoredUpdateAvail(DWORD& value) {
    dv::unique_hkey key = dv::OpenRegKey(HKEY_CURRENT_USER, dvtest::kProductKey);
    return key && dv::ReadRegDword(key.get(), L"UpdateAvail", value);
}

bool StoredLastCheck(std::wstring& value) {
    dv::unique_hkey key = dv::OpenRegKey(HKEY_CURRENT_USER, dvtest::kProductKey);
    wchar_t text[260];
    if (!key || !dv::ReadRegString(key.get(), L"UpdateLastCheck", text, 260)) return false;
    value = text;
    return true;
}

void StoreUpdateState(DWORD avail, const wchar_t* lastCheck) {
    dv::unique_hkey key = dv::CreateRegKey(HKEY_CURRENT_USER, dvtest::kProductKey);
    ASSERT_TRUE(key);
    dv::WriteRegDword(key.get(), L"UpdateAvail", avail);
    dv::WriteRegString(key.get(), L"UpdateLastCheck", lastCheck);
}

std::wstring TodayUtc() {
    SYSTEMTIME now;
    ::GetSystemTime(&now);
    wchar_t text[16];
    swprintf(text, 16, L"%04d%02d%02d", now.wYear, now.wMonth, now.wDay);
    return text;
}

NotificationRecorder::NotificationRecorder() {
    WNDCLASSW wc = {};
    wc.lpfnWndProc = &NotificationRecorder::Proc;
    wc.hInstance = ::GetModuleHandleW(nullptr);
    wc.lpszClassName = L"DirvaneUpdaterTestRecorder";
    ::RegisterClassW(&wc);
    window_ = ::CreateWindowExW(0, wc.lpszClassName, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, wc.hInstance, this);
}

NotificationRecorder::~NotificationRecorder() {
    if (window_) ::DestroyWindow(window_);
}

LRESULT CALLBACK NotificationRecorder::Proc(HWND window, UINT msg, WPARAM wParam, LPARAM lParam) {
    if (msg == WM_NCCREATE) {
        auto* create = reinterpret_cast<CREATESTRUCTW*>(lParam);
        ::SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(create->lpCreateParams));
    }
    auto* self = reinterpret_cast<NotificationRecorder*>(::GetWindowLongPtrW(window, GWLP_USERDATA));
    if (msg == dv::updater::kUpdaterNotifyMessage && self) {
        self->notifications_.emplace_back(wParam, lParam);
        return 0;
    }
    return ::DefWindowProcW(window, msg, wParam, lParam);
}

std::vector<int> NotificationRecorder::ProgressPercents() const {
    std::vector<int> percents;
    for (auto& n : notifications_) {
        if (n.second == dv::updater::kUpdaterProgress) percents.push_back(static_cast<int>(n.first));
    }
    return percents;
}

bool NotificationRecorder::Completed() const {
    for (auto& n : notifications_) {
        if (n.first == 100 && n.second == dv::updater::kUpdaterCompletion) return true;
    }
    return false;
}

std::string SignedFileUnix(const char* name) {
    const char* build = std::getenv("DIRVANE_BUILD");
    return std::string(build ? build : ".") + "/updater-signed/" + name;
}

std::wstring SignedFile(const char* name) { return dvtest::WinPathFromUnix(SignedFileUnix(name)); }

std::wstring Thumbprint(const char* who) {
    std::string text = ReadUnixFile(SignedFileUnix((std::string(who) + ".sha256").c_str()));
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
    return Widen(text);
}

TrustedTestRoot::TrustedTestRoot() {
    const std::string der = ReadUnixFile(SignedFileUnix("root.cer"));
    store_ = ::CertOpenStore(CERT_STORE_PROV_SYSTEM_W, 0, 0, CERT_SYSTEM_STORE_CURRENT_USER, L"Root");
    PCCERT_CONTEXT added = nullptr;
    if (store_)
        ::CertAddEncodedCertificateToStore(store_, X509_ASN_ENCODING, reinterpret_cast<const BYTE*>(der.data()),
                                           static_cast<DWORD>(der.size()), CERT_STORE_ADD_REPLACE_EXISTING, &added);
    added_ = added;
}

TrustedTestRoot::~TrustedTestRoot() {
    if (added_) ::CertDeleteCertificateFromStore(static_cast<PCCERT_CONTEXT>(added_));  // frees the context too
    if (store_) ::CertCloseStore(store_, 0);
}

HWND SaveDialogNameField(HWND save) {
    HWND edit = nullptr;
    if (HWND combo = ::GetDlgItem(save, 0x47C)) {
        ::EnumChildWindows(
            combo,
            [](HWND window, LPARAM param) -> BOOL {
                wchar_t cls[16] = {};
                ::GetClassNameW(window, cls, 16);
                if (wcscmp(cls, L"Edit") != 0) return TRUE;
                *reinterpret_cast<HWND*>(param) = window;
                return FALSE;
            },
            reinterpret_cast<LPARAM>(&edit));
    }
    return edit ? edit : ::GetDlgItem(save, 0x480);
}

void Click(HWND dialog, int id) {
    ::PostMessageW(dialog, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), reinterpret_cast<LPARAM>(::GetDlgItem(dialog, id)));
}

} // namespace updtest
