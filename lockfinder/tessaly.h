// Tessaly: finds the processes that have a module matching a file name or mask loaded,
// writes them as records to a text file, and ends a process by its identifier.
// One source for the 32-bit build (which carries the 64-bit one) and the 64-bit build.
#pragma once
#include <windows.h>
#include <functional>
#include <string>
#include <vector>

namespace tessaly {

constexpr size_t kPathChars = 260;     // paths, the mask and the output path: 259 + null
constexpr size_t kTitleChars = 1024;   // a process title: 1,023 + null
constexpr size_t kInitialListSlots = 256;
constexpr UINT kCompanionResource = 102;
constexpr const wchar_t kCompanionName[] = L"Tessaly64.exe";
constexpr const wchar_t kUsageCaption[] = L"Tessaly.exe";
extern const wchar_t kUsageText[];

struct SearchRequest {
    wchar_t mask[kPathChars];        // folded A-Z to a-z
    wchar_t outputPath[kPathChars];
};

struct ModuleRecord {
    DWORD processId;
    wchar_t modulePath[kPathChars];
    wchar_t title[kTitleChars];
    wchar_t imagePath[kPathChars];
};

// Per-candidate operation of the enumeration; false stops the whole search.
using CandidateFn = bool (*)(ModuleRecord record, void* context);

// --- names, masks and records ---

// Folds only A-Z to a-z, in place.
void FoldAZ(wchar_t* text) noexcept;
// '*' any run, '?' one character, anything else itself; the whole name must be consumed.
bool MatchFileMask(const wchar_t* mask, const wchar_t* name) noexcept;
// The record's text: "%d\r\n%s\r\n%s\r\n%s\r\n\r\n" (identifier, title, executable name, image path).
std::wstring FormatRecord(const ModuleRecord& record);
// No '\\' and no ':' in the path (as PathIsFileSpecW).
bool IsFileSpec(const wchar_t* path) noexcept;
// The part after the last separator ('\\', '/', ':') that something follows (as PathFindFileNameW).
const wchar_t* FindFileName(const wchar_t* path) noexcept;
// The module's file name (folder stripped, A-Z folded) matches the SearchRequest's mask.
bool ModuleMatchesRequest(const wchar_t* modulePath, const void* request);
// Appends the record to the output file when its module matches the mask.
bool AppendMatchingRecord(ModuleRecord record, void* request);
// Ends the process with exit code 0xFFFFFFFF; the error code of a failure stays as the last error.
bool TerminateById(DWORD processId);

// --- process and module enumeration ---

// Says, before a record is made, whether a module can be a candidate at all.
using InterestFn = bool (*)(const wchar_t* modulePath, const void* context);
// Calls candidate for the executable and then every other module of every process it can open.
// With interest, only modules it accepts reach candidate, and a process's title is looked up only
// once one of its modules does: the search then costs little more than the walk itself.
bool EnumerateModules(CandidateFn candidate, void* context, InterestFn interest = nullptr);

// Answers the device name behind a drive ("C:"), like QueryDosDeviceW; false when there is none.
using DeviceQueryFn = std::function<bool(const wchar_t* drive, wchar_t* device, DWORD capacity)>;
bool QueryDosDeviceName(const wchar_t* drive, wchar_t* device, DWORD capacity);
// Turns "\Device\...\rest" into "X:\rest" in place (path holds capacity characters).
// The device name must end where the path has a separator (or ends). False leaves path unchanged.
bool DeviceToDosPath(wchar_t* path, size_t capacity, const DeviceQueryFn& query = QueryDosDeviceName);
// "\Device\LanmanRedirector\;X:0000\server\share" becomes "\Device\LanmanRedirector\server\share".
void RewriteRedirectorName(wchar_t* device) noexcept;

// First captioned top-level window's text, else the U.S. English file description, else "Process Id: %d".
void GetProcessTitle(ModuleRecord& record);

// Takes a whole list from an API that fills a caller's buffer, growing the buffer until the list fits.
// fill(buffer, bytes, &bytesNeeded) follows EnumProcesses / EnumProcessModules: bytesNeeded is the size
// written (EnumProcesses, so a full buffer means "maybe more") or the size needed (EnumProcessModules).
template <class T>
using ListFillFn = std::function<BOOL(T* buffer, DWORD bytes, DWORD* bytesNeeded)>;
bool TakeProcessList(const ListFillFn<DWORD>& fill, std::vector<DWORD>& ids, size_t initialSlots = kInitialListSlots);
bool TakeModuleList(const ListFillFn<HMODULE>& fill, std::vector<HMODULE>& modules,
                    size_t initialSlots = kInitialListSlots);

// --- 64-bit companion ---

bool IsRunningUnderWow64();
bool ExtractCompanion(HINSTANCE instance, const wchar_t* companionPath);
void RunAndWait(const wchar_t* companionPath, const wchar_t* parameters);

// --- program entry ---

// The command line after the program name, as the process received it (leading blanks skipped).
const wchar_t* CommandLineTail(const wchar_t* commandLine) noexcept;
// The arguments as CommandLineToArgvW splits them, the program name first (the program's own path
// for an empty line is left out: callers never split one).
std::vector<std::wstring> SplitCommandLine(const wchar_t* commandLine);
// The folder of the running executable, ending in a backslash.
std::wstring ToolDirectory();
// A decimal number at the start of text (leading blanks and a sign allowed, the rest ignored).
bool ParseProcessId(const wchar_t* text, DWORD& processId) noexcept;
// Fills the request from the two arguments; false when either does not fit its buffer.
bool BuildSearchRequest(const wchar_t* mask, const wchar_t* output, const std::wstring& toolDirectory,
                        SearchRequest& request) noexcept;
// Runs one mode for the whole command line; the program always ends with exit code 0.
void Run(HINSTANCE instance, const wchar_t* commandLine);

} // namespace tessaly
