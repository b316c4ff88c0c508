// The program entry: usage box, termination by identifier, or the search.
#include "tessaly.h"
#include "common/handles.h"
#include "system_dll.h"
#include <cwchar>

namespace tessaly {

const wchar_t kUsageText[] =
    L"Command line usage:\n\n"
    L"Find locking processes:\n"
    L"Tessaly.exe <search_filename> <output_file>\n\n"
    L"<search_filename>\n"
    L"File name or file mask, for example shell32.dll or shell??.*\n\n"
    L"<output_file>\n"
    L"File name or file name with full path where to output the results.\n"
    L"If full path is not specified, then file created in Tessaly's directory.\n\n"
    L"OR\n\n"
    L"Terminate a process:\n"
    L"Tessaly.exe <process_id>\n\n"
    L"<process_id>\n"
    L"Target process ID numeric value";

namespace {

bool IsBlank(wchar_t c) { return c == L' ' || c == L'\t'; }

} // namespace

const wchar_t* CommandLineTail(const wchar_t* commandLine) noexcept {
    const wchar_t* p = commandLine ? commandLine : L"";
    // The program name ends at its closing quote, or at the first blank when it is not quoted.
    if (*p == L'"') {
        ++p;
        while (*p && *p != L'"') ++p;
        if (*p) ++p;
    } else {
        while (*p && !IsBlank(*p)) ++p;
    }
    while (IsBlank(*p)) ++p;
    return p;
}

std::vector<std::wstring> SplitCommandLine(const wchar_t* commandLine) {
    const wchar_t* s = commandLine ? commandLine : L"";
    std::vector<std::wstring> args(1);
    // The program name: up to its closing quote, or to the first blank; nothing is escaped in it.
    if (*s == L'"') {
        for (++s; *s && *s != L'"'; ++s) args[0] += *s;
        if (*s) ++s;
    } else {
        for (; *s && !IsBlank(*s); ++s) args[0] += *s;
    }
    while (IsBlank(*s)) ++s;
    if (!*s) return args;
    args.emplace_back();
    int quotes = 0;  // 1 inside quotes
    size_t backslashes = 0;
    while (*s) {
        std::wstring& arg = args.back();
        if (IsBlank(*s) && quotes == 0) {
            backslashes = 0;
            while (IsBlank(*s)) ++s;
            if (*s) args.emplace_back();
        } else if (*s == L'\\') {
            arg += *s++;
            ++backslashes;
        } else if (*s == L'"') {
            // 2n backslashes: n of them and a quote that opens or closes; 2n+1: n and a literal quote.
            arg.resize(arg.size() - backslashes / 2 - (backslashes & 1));
            if (backslashes & 1)
                arg += L'"';
            else
                ++quotes;
            ++s;
            backslashes = 0;
            // In a run of quotes every third one (counting an open quote) is a literal quote.
            for (; *s == L'"'; ++s) {
                if (++quotes == 3) {
                    arg += L'"';
                    quotes = 0;
                }
            }
            if (quotes == 2) quotes = 0;
        } else {
            arg += *s++;
            backslashes = 0;
        }
    }
    return args;
}

std::wstring ToolDirectory() {
    std::wstring path(MAX_PATH, L'\0');
    for (;;) {
        DWORD length = ::GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
        if (length == 0) return std::wstring();
        if (length < path.size()) {
            path.resize(length);
            break;
        }
        if (path.size() >= 32768) return std::wstring();
        path.resize(path.size() * 2);
    }
    size_t slash = path.find_last_of(L'\\');
    if (slash == std::wstring::npos) return std::wstring();
    path.resize(slash + 1);
    return path;
}

bool ParseProcessId(const wchar_t* text, DWORD& processId) noexcept {
    const wchar_t* p = text ? text : L"";
    while (*p == L' ' || (*p >= L'\t' && *p <= L'\r')) ++p;
    bool negative = false;
    if (*p == L'+' || *p == L'-') negative = (*p++ == L'-');
    if (*p < L'0' || *p > L'9') return false;
    unsigned long long value = 0;
    for (; *p >= L'0' && *p <= L'9'; ++p) {
        value = value * 10 + static_cast<unsigned>(*p - L'0');
        if (value > 0xFFFFFFFFull) return false;  // no such identifier
    }
    processId = negative ? 0u - static_cast<DWORD>(value) : static_cast<DWORD>(value);
    return true;
}

bool BuildSearchRequest(const wchar_t* mask, const wchar_t* output, const std::wstring& toolDirectory,
                        SearchRequest& request) noexcept {
    if (!mask || !output || !*output) return false;
    const size_t maskLength = wcslen(mask);
    if (maskLength >= kPathChars) return false;
    wmemcpy(request.mask, mask, maskLength + 1);
    FoldAZ(request.mask);

    // A bare file name goes into the tool directory; anything else is taken as given.
    const bool bare = IsFileSpec(output);
    if (bare && toolDirectory.empty()) return false;
    const size_t directoryLength = bare ? toolDirectory.size() : 0;
    const size_t outputLength = wcslen(output);
    if (directoryLength + outputLength >= kPathChars) return false;
    wmemcpy(request.outputPath, toolDirectory.c_str(), directoryLength);
    wmemcpy(request.outputPath + directoryLength, output, outputLength + 1);
    return true;
}

void Run(HINSTANCE instance, const wchar_t* commandLine) {
    const wchar_t* tail = CommandLineTail(commandLine);
    if (!*tail) {
        static const auto messageBox = SystemFunction<decltype(&::MessageBoxW)>(L"user32.dll", "MessageBoxW");
        if (messageBox) messageBox(nullptr, kUsageText, kUsageCaption, MB_ICONWARNING | MB_OK);
        return;
    }
    const std::wstring toolDirectory = ToolDirectory();

    if (IsRunningUnderWow64()) {
        // The 64-bit build sees the modules of 32-bit and 64-bit processes alike: let it do the work.
        if (toolDirectory.empty()) return;
        const std::wstring companion = toolDirectory + kCompanionName;
        if (!ExtractCompanion(instance, companion.c_str())) return;
        RunAndWait(companion.c_str(), tail);
        ::DeleteFileW(companion.c_str());
        return;
    }
    const std::vector<std::wstring> args = SplitCommandLine(commandLine);
    if (args.size() == 2) {
        DWORD processId = 0;
        if (ParseProcessId(args[1].c_str(), processId)) TerminateById(processId);
    } else if (args.size() == 3) {
        SearchRequest request;
        if (!BuildSearchRequest(args[1].c_str(), args[2].c_str(), toolDirectory, request)) return;
        ::DeleteFileW(request.outputPath);
        EnumerateModules(AppendMatchingRecord, &request, ModuleMatchesRequest);
    }
}

} // namespace tessaly
