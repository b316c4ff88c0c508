// The search engine: every process, its executable and title, and every module it has loaded.
#include "tessaly.h"
#include "common/handles.h"
#include "system_dll.h"
#include <psapi.h>
#include <cwchar>
#include <memory>
#include <unordered_map>

namespace tessaly {

namespace {

using EnumProcessesPtr = BOOL(WINAPI*)(DWORD*, DWORD, DWORD*);
using EnumProcessModulesPtr = BOOL(WINAPI*)(HANDLE, HMODULE*, DWORD, DWORD*);
using EnumProcessModulesExPtr = BOOL(WINAPI*)(HANDLE, HMODULE*, DWORD, DWORD*, DWORD);
using GetModuleFileNameExPtr = DWORD(WINAPI*)(HANDLE, HMODULE, LPWSTR, DWORD);
using GetProcessImageFileNamePtr = DWORD(WINAPI*)(HANDLE, LPWSTR, DWORD);

// Looked up at run time so the tool starts on systems without the newer functions.
struct Psapi {
    EnumProcessesPtr enumProcesses = nullptr;
    EnumProcessModulesPtr enumProcessModules = nullptr;
    GetModuleFileNameExPtr getModuleFileNameEx = nullptr;
    EnumProcessModulesExPtr enumProcessModulesEx = nullptr;            // optional
    GetProcessImageFileNamePtr getProcessImageFileName = nullptr;      // optional
    bool Bound() const { return enumProcesses && enumProcessModules && getModuleFileNameEx; }
};

const Psapi& BindPsapi() {
    static Psapi api;
    if (api.Bound()) return api;
    // Kept loaded for the life of the process: the bound pointers stay valid.
    auto bind = [](auto& slot, const char* name) { BindSystemFunction(slot, L"psapi.dll", name); };
    bind(api.enumProcesses, "EnumProcesses");
    bind(api.enumProcessModules, "EnumProcessModules");
    bind(api.getModuleFileNameEx, "GetModuleFileNameExW");
    bind(api.enumProcessModulesEx, "EnumProcessModulesEx");
    bind(api.getProcessImageFileName, "GetProcessImageFileNameW");
    return api;
}

// A module's full path into a record field; false when it cannot be read or does not fit whole
// (a cut path would give a wrong file name).
bool ReadModulePath(const Psapi& api, HANDLE process, HMODULE module, wchar_t (&path)[kPathChars]) {
    wchar_t buffer[kPathChars + 1];
    DWORD length = api.getModuleFileNameEx(process, module, buffer, kPathChars + 1);
    if (length == 0 || length >= kPathChars) return false;
    wmemcpy(path, buffer, length);
    path[length] = 0;
    return true;
}

// The window and version functions, bound when a search first needs a title.
struct TitleApi {
    decltype(&::EnumWindows) enumWindows = nullptr;
    decltype(&::GetWindowThreadProcessId) getWindowThreadProcessId = nullptr;
    decltype(&::GetWindowLongPtrW) getWindowLongPtr = nullptr;
    decltype(&::GetWindowTextW) getWindowText = nullptr;
    decltype(&::GetFileVersionInfoSizeW) getFileVersionInfoSize = nullptr;
    decltype(&::GetFileVersionInfoW) getFileVersionInfo = nullptr;
    decltype(&::VerQueryValueW) verQueryValue = nullptr;

    TitleApi() noexcept {
        BindSystemFunction(enumWindows, L"user32.dll", "EnumWindows");
        BindSystemFunction(getWindowThreadProcessId, L"user32.dll", "GetWindowThreadProcessId");
#ifdef _WIN64
        BindSystemFunction(getWindowLongPtr, L"user32.dll", "GetWindowLongPtrW");
#else  // GetWindowLongPtrW is a macro for GetWindowLongW there
        BindSystemFunction(getWindowLongPtr, L"user32.dll", "GetWindowLongW");
#endif
        BindSystemFunction(getWindowText, L"user32.dll", "GetWindowTextW");
        BindSystemFunction(getFileVersionInfoSize, L"version.dll", "GetFileVersionInfoSizeW");
        BindSystemFunction(getFileVersionInfo, L"version.dll", "GetFileVersionInfoW");
        BindSystemFunction(verQueryValue, L"version.dll", "VerQueryValueW");
    }
    bool VersionBound() const { return getFileVersionInfoSize && getFileVersionInfo && verQueryValue; }

    // Calls back for every top-level window; for none when user32 could not be bound.
    void ForEachTopWindow(WNDENUMPROC callback, LPARAM param) const {
        if (enumWindows && getWindowThreadProcessId && getWindowLongPtr && getWindowText) enumWindows(callback, param);
    }
    // The window's text into text (kTitleChars), when it has a caption and the text is not empty.
    // Hidden windows count; either caption bit will do.
    bool CaptionText(HWND window, wchar_t* text) const {
        if (!(getWindowLongPtr(window, GWL_STYLE) & WS_CAPTION)) return false;
        return getWindowText(window, text, static_cast<int>(kTitleChars)) > 0 && text[0];
    }
};

const TitleApi& BindTitleApi() {
    static const TitleApi api;
    return api;
}

struct TitleSearch {
    DWORD processId;
    wchar_t* title;
};

BOOL CALLBACK TakeCaptionText(HWND window, LPARAM param) {
    auto& search = *reinterpret_cast<TitleSearch*>(param);
    const TitleApi& api = BindTitleApi();
    DWORD owner = 0;
    api.getWindowThreadProcessId(window, &owner);
    if (owner != search.processId) return TRUE;
    if (api.CaptionText(window, search.title)) return FALSE;
    search.title[0] = 0;
    return TRUE;
}

// The U.S. English (Unicode) file description of the executable, cut to the title buffer.
bool ReadFileDescription(const wchar_t* imagePath, wchar_t* title) {
    const TitleApi& api = BindTitleApi();
    if (!imagePath[0] || !api.VersionBound()) return false;
    DWORD ignored = 0;
    DWORD size = api.getFileVersionInfoSize(imagePath, &ignored);
    if (size == 0) return false;
    std::unique_ptr<BYTE[]> data(new (std::nothrow) BYTE[size]);
    if (!data || !api.getFileVersionInfo(imagePath, 0, size, data.get())) return false;
    void* value = nullptr;
    UINT length = 0;
    if (!api.verQueryValue(data.get(), L"\\StringFileInfo\\040904B0\\FileDescription", &value, &length) || !value ||
        length == 0)
        return false;
    const wchar_t* text = static_cast<const wchar_t*>(value);
    size_t n = wcsnlen(text, length);
    if (n > kTitleChars - 1) {
        n = kTitleChars - 1;
        if (IS_HIGH_SURROGATE(text[n - 1])) --n;  // never keep half a pair
    }
    wmemcpy(title, text, n);
    title[n] = 0;
    return n > 0;
}

} // namespace

bool TakeProcessList(const ListFillFn<DWORD>& fill, std::vector<DWORD>& ids, size_t initialSlots) {
    // EnumProcesses reports only what it wrote: a full buffer may mean that more processes exist.
    constexpr size_t kMaxSlots = size_t(1) << 22;
    size_t slots = initialSlots ? initialSlots : 1;
    for (;;) {
        ids.assign(slots, 0);
        const DWORD bytes = static_cast<DWORD>(slots * sizeof(DWORD));
        DWORD written = 0;
        if (!fill(ids.data(), bytes, &written)) {
            ids.clear();
            return false;
        }
        if (written > bytes) written = bytes;
        if (written < bytes || slots >= kMaxSlots) {
            ids.resize(written / sizeof(DWORD));
            return true;
        }
        slots *= 2;
    }
}

bool TakeModuleList(const ListFillFn<HMODULE>& fill, std::vector<HMODULE>& modules, size_t initialSlots) {
    // EnumProcessModules reports the size it needs; modules may load meanwhile, so leave some room.
    constexpr int kAttempts = 8;
    size_t slots = initialSlots ? initialSlots : 1;
    for (int attempt = 0;; ++attempt) {
        modules.assign(slots, nullptr);
        const DWORD bytes = static_cast<DWORD>(slots * sizeof(HMODULE));
        DWORD needed = 0;
        if (!fill(modules.data(), bytes, &needed)) {
            modules.clear();
            return false;
        }
        if (needed <= bytes || attempt + 1 == kAttempts) {
            modules.resize((needed < bytes ? needed : bytes) / sizeof(HMODULE));
            return true;
        }
        slots = needed / sizeof(HMODULE) + 16;
    }
}

bool QueryDosDeviceName(const wchar_t* drive, wchar_t* device, DWORD capacity) {
    return ::QueryDosDeviceW(drive, device, capacity) != 0;
}

void RewriteRedirectorName(wchar_t* device) noexcept {
    // "\Device\LanmanRedirector\;X:<session>\server\share": drop the ";X:<session>" part.
    static const wchar_t kPrefix[] = L"\\Device\\LanmanRedirector\\;";
    constexpr size_t kPrefixLength = ARRAYSIZE(kPrefix) - 1;  // 26
    constexpr size_t kKeep = kPrefixLength - 2;               // "\Device\LanmanRedirector"
    if (wcsncmp(device, kPrefix, kPrefixLength) != 0) return;
    if (device[kPrefixLength] == 0 || device[kPrefixLength + 1] != L':') return;
    wchar_t* share = wcschr(device + kPrefixLength + 2, L'\\');
    if (!share) return;
    wmemmove(device + kKeep, share, wcslen(share) + 1);
}

bool DeviceToDosPath(wchar_t* path, size_t capacity, const DeviceQueryFn& query) {
    const size_t pathLength = wcsnlen(path, capacity);
    if (pathLength == capacity) return false;
    wchar_t device[1024];
    for (wchar_t letter = L'A'; letter <= L'Z'; ++letter) {
        const wchar_t drive[3] = {letter, L':', 0};
        device[0] = 0;
        if (!query(drive, device, ARRAYSIZE(device))) continue;
        device[ARRAYSIZE(device) - 1] = 0;
        RewriteRedirectorName(device);
        const size_t length = wcslen(device);
        if (length == 0 || length > pathLength || wcsncmp(path, device, length) != 0) continue;
        // \Device\HarddiskVolume1 must not claim a path on \Device\HarddiskVolume10.
        if (path[length] != 0 && path[length] != L'\\') continue;
        const size_t rest = pathLength - length;
        if (rest + 3 > capacity) return false;
        wmemmove(path + 2, path + length, rest + 1);
        path[0] = letter;
        path[1] = L':';
        return true;
    }
    return false;
}

namespace {

// The title when no captioned window gives one.
void TitleWithoutWindow(ModuleRecord& record) {
    if (ReadFileDescription(record.imagePath, record.title)) return;
    swprintf(record.title, kTitleChars, L"Process Id: %d", static_cast<int>(record.processId));
}

// The first captioned window's text of every process, taken in one pass over the top-level windows
// when a search first needs a title: the same answer as a pass per process, for far less work.
class WindowTitles {
public:
    // False when the process has no captioned window with text.
    bool Take(DWORD processId, wchar_t* title) {
        if (!taken_) {
            taken_ = true;
            BindTitleApi().ForEachTopWindow(Collect, reinterpret_cast<LPARAM>(this));
        }
        auto found = titles_.find(processId);
        if (found == titles_.end()) return false;
        const size_t n = found->second.size() < kTitleChars ? found->second.size() : kTitleChars - 1;
        wmemcpy(title, found->second.c_str(), n);
        title[n] = 0;
        return true;
    }

private:
    static BOOL CALLBACK Collect(HWND window, LPARAM param) {
        auto& self = *reinterpret_cast<WindowTitles*>(param);
        const TitleApi& api = BindTitleApi();
        DWORD owner = 0;
        api.getWindowThreadProcessId(window, &owner);
        if (self.titles_.count(owner)) return TRUE;
        wchar_t text[kTitleChars];
        if (api.CaptionText(window, text)) {
            try {
                self.titles_.emplace(owner, text);
            } catch (...) {  // out of memory: that process falls back to its description
            }
        }
        return TRUE;
    }

    bool taken_ = false;
    std::unordered_map<DWORD, std::wstring> titles_;
};

} // namespace

void GetProcessTitle(ModuleRecord& record) {
    record.title[0] = 0;
    TitleSearch search = {record.processId, record.title};
    BindTitleApi().ForEachTopWindow(TakeCaptionText, reinterpret_cast<LPARAM>(&search));
    if (record.title[0]) return;
    TitleWithoutWindow(record);
}

bool EnumerateModules(CandidateFn candidate, void* context, InterestFn interest) {
    const Psapi& api = BindPsapi();
    if (!api.Bound()) return true;

    std::vector<DWORD> ids;
    if (!TakeProcessList([&api](DWORD* buffer, DWORD bytes, DWORD* written) {
            return api.enumProcesses(buffer, bytes, written);
        }, ids))
        return true;

    auto record = std::make_unique<ModuleRecord>();
    WindowTitles windowTitles;
    std::vector<HMODULE> modules;
    for (DWORD processId : ids) {
        ModuleRecord& r = *record;
        r.processId = processId;
        r.imagePath[0] = 0;
        r.title[0] = 0;
        bool titled = false;
        // A process's title is looked up only when one of its modules is a candidate.
        auto offer = [&]() {
            if (interest && !interest(r.modulePath, context)) return true;
            if (!titled) {
                titled = true;
                if (!windowTitles.Take(processId, r.title)) TitleWithoutWindow(r);
            }
            return candidate(r, context);
        };

        // One open serves both the image path and the module list; a process that refuses the
        // wider rights still has its executable tested.
        dv::unique_handle process(::OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ, FALSE, processId));
        if (api.getProcessImageFileName) {
            dv::unique_handle queryOnly;
            if (!process) queryOnly.reset(::OpenProcess(PROCESS_QUERY_INFORMATION, FALSE, processId));
            HANDLE query = process ? process.get() : queryOnly.get();
            if (!query) continue;
            DWORD length = api.getProcessImageFileName(query, r.imagePath, kPathChars);
            if (length > 0 && length < kPathChars)
                DeviceToDosPath(r.imagePath, kPathChars);  // else the device form stays
            else
                r.imagePath[0] = 0;
        } else {
            if (!process) continue;
            if (!ReadModulePath(api, process.get(), nullptr, r.imagePath)) r.imagePath[0] = 0;
        }
        wmemcpy(r.modulePath, r.imagePath, kPathChars);

        // The executable is always its process's first candidate.
        if (!offer()) return false;

        if (!process) continue;
        HANDLE h = process.get();
        bool listed = false;
        if (api.enumProcessModulesEx) {
            listed = TakeModuleList([&api, h](HMODULE* buffer, DWORD bytes, DWORD* needed) {
                return api.enumProcessModulesEx(h, buffer, bytes, needed, LIST_MODULES_ALL);
            }, modules);
        }
        if (!listed) {
            listed = TakeModuleList([&api, h](HMODULE* buffer, DWORD bytes, DWORD* needed) {
                return api.enumProcessModules(h, buffer, bytes, needed);
            }, modules);
        }
        if (!listed) continue;
        for (HMODULE module : modules) {
            r.modulePath[0] = 0;
            if (!ReadModulePath(api, h, module, r.modulePath)) continue;
            if (wcscmp(r.modulePath, r.imagePath) == 0) continue;  // already tested as the executable
            if (!offer()) return false;
        }
    }
    return true;
}

} // namespace tessaly
