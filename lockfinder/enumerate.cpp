// The search engine: every process, its executable and title, and every module it has loaded.
#include "tessaly.h"
#include "common/handles.h"
#include <psapi.h>
#include <cwchar>
#include <memory>
#include <type_traits>

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
    HMODULE psapi = ::LoadLibraryW(L"psapi.dll");
    if (!psapi) return api;
    auto bind = [psapi](auto& slot, const char* name) {
        slot = reinterpret_cast<std::remove_reference_t<decltype(slot)>>(::GetProcAddress(psapi, name));
    };
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

struct TitleSearch {
    DWORD processId;
    wchar_t* title;
};

BOOL CALLBACK TakeCaptionText(HWND window, LPARAM param) {
    auto& search = *reinterpret_cast<TitleSearch*>(param);
    DWORD owner = 0;
    ::GetWindowThreadProcessId(window, &owner);
    if (owner != search.processId) return TRUE;
    // Hidden windows count; either caption bit will do.
    if (!(::GetWindowLongPtrW(window, GWL_STYLE) & WS_CAPTION)) return TRUE;
    if (::GetWindowTextW(window, search.title, static_cast<int>(kTitleChars)) > 0 && search.title[0]) return FALSE;
    search.title[0] = 0;
    return TRUE;
}

// The U.S. English (Unicode) file description of the executable, cut to the title buffer.
bool ReadFileDescription(const wchar_t* imagePath, wchar_t* title) {
    if (!imagePath[0]) return false;
    DWORD ignored = 0;
    DWORD size = ::GetFileVersionInfoSizeW(imagePath, &ignored);
    if (size == 0) return false;
    std::unique_ptr<BYTE[]> data(new (std::nothrow) BYTE[size]);
    if (!data || !::GetFileVersionInfoW(imagePath, 0, size, data.get())) return false;
    void* value = nullptr;
    UINT length = 0;
    if (!::VerQueryValueW(data.get(), L"\\StringFileInfo\\040904B0\\FileDescription", &value, &length) || !value ||
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

void GetProcessTitle(ModuleRecord& record) {
    record.title[0] = 0;
    TitleSearch search = {record.processId, record.title};
    ::EnumWindows(TakeCaptionText, reinterpret_cast<LPARAM>(&search));
    if (record.title[0]) return;
    if (ReadFileDescription(record.imagePath, record.title)) return;
    swprintf(record.title, kTitleChars, L"Process Id: %d", static_cast<int>(record.processId));
}

bool EnumerateModules(CandidateFn candidate, void* context) {
    const Psapi& api = BindPsapi();
    if (!api.Bound()) return true;

    std::vector<DWORD> ids;
    if (!TakeProcessList([&api](DWORD* buffer, DWORD bytes, DWORD* written) {
            return api.enumProcesses(buffer, bytes, written);
        }, ids))
        return true;

    auto record = std::make_unique<ModuleRecord>();
    std::vector<HMODULE> modules;
    for (DWORD processId : ids) {
        ModuleRecord& r = *record;
        r.processId = processId;
        r.imagePath[0] = 0;
        if (api.getProcessImageFileName) {
            dv::unique_handle process(::OpenProcess(PROCESS_QUERY_INFORMATION, FALSE, processId));
            if (!process) continue;
            DWORD length = api.getProcessImageFileName(process.get(), r.imagePath, kPathChars);
            if (length > 0 && length < kPathChars)
                DeviceToDosPath(r.imagePath, kPathChars);  // else the device form stays
            else
                r.imagePath[0] = 0;
        } else {
            dv::unique_handle process(::OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ, FALSE, processId));
            if (!process) continue;
            if (!ReadModulePath(api, process.get(), nullptr, r.imagePath)) r.imagePath[0] = 0;
        }
        wmemcpy(r.modulePath, r.imagePath, kPathChars);
        GetProcessTitle(r);

        // The executable is always its process's first candidate.
        if (!candidate(r, context)) return false;

        dv::unique_handle process(::OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ, FALSE, processId));
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
            if (!candidate(r, context)) return false;
        }
    }
    return true;
}

} // namespace tessaly
