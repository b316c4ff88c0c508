// Mask matching, the record format and the record writer; ending a process by identifier.
#include "tessaly.h"
#include "common/handles.h"
#include <cwchar>
#include <string>

namespace tessaly {

namespace {

// Copies at most capacity-1 characters of a possibly unterminated field.
std::wstring Field(const wchar_t* text, size_t capacity) { return std::wstring(text, wcsnlen(text, capacity - 1)); }

// A field as one line of a record: any program chooses its own title, and a line break in it
// would forge records, so every control character (and the Unicode line breaks) becomes a blank.
std::wstring OneLineField(const wchar_t* text, size_t capacity) {
    std::wstring field = Field(text, capacity);
    for (wchar_t& c : field) {
        if (c < 0x20 || (c >= 0x7F && c <= 0x9F) || c == 0x2028 || c == 0x2029) c = L' ';
    }
    return field;
}

// The whole text in the thread's ANSI code page; false when it cannot be converted.
bool ToThreadAnsi(const std::wstring& text, std::string& bytes) {
    const int units = static_cast<int>(text.size());
    int size = ::WideCharToMultiByte(CP_THREAD_ACP, 0, text.data(), units, nullptr, 0, nullptr, nullptr);
    if (size <= 0) return false;
    bytes.assign(static_cast<size_t>(size), '\0');
    return ::WideCharToMultiByte(CP_THREAD_ACP, 0, text.data(), units, bytes.data(), size, nullptr, nullptr) == size;
}

} // namespace

void FoldAZ(wchar_t* text) noexcept {
    for (; text && *text; ++text) {
        if (*text >= L'A' && *text <= L'Z') *text = static_cast<wchar_t>(*text + (L'a' - L'A'));
    }
}

bool MatchFileMask(const wchar_t* mask, const wchar_t* name) noexcept {
    const wchar_t* m = mask ? mask : L"";
    const wchar_t* n = name ? name : L"";
    // Up to the first '*' every mask character must stand for exactly one name character.
    while (*n && *m != L'*') {
        if (*m != L'?' && *m != *n) return false;
        ++m;
        ++n;
    }
    // After a '*': on a mismatch go back to the last '*' and let it swallow one more character.
    const wchar_t* starMask = m;
    const wchar_t* restart = n;
    while (*n) {
        if (*m == L'*') {
            if (!*++m) return true;
            starMask = m;
            restart = n + 1;
        } else if (*m == L'?' || *m == *n) {
            ++m;
            ++n;
        } else {
            m = starMask;
            n = restart++;
        }
    }
    while (*m == L'*') ++m;
    return !*m;
}

bool IsFileSpec(const wchar_t* path) noexcept {
    if (!path) return false;
    for (; *path; ++path) {
        if (*path == L'\\' || *path == L':') return false;
    }
    return true;
}

const wchar_t* FindFileName(const wchar_t* path) noexcept {
    const wchar_t* name = path;
    for (const wchar_t* p = path; p && *p; ++p) {
        const bool separator = *p == L'\\' || *p == L'/' || *p == L':';
        if (separator && p[1] && p[1] != L'\\' && p[1] != L'/') name = p + 1;
    }
    return name;
}

std::wstring FormatRecord(const ModuleRecord& record) {
    std::wstring image = OneLineField(record.imagePath, kPathChars);
    std::wstring text = std::to_wstring(static_cast<int>(record.processId));  // "%d", as callers parse it
    text += L"\r\n";
    text += OneLineField(record.title, kTitleChars);
    text += L"\r\n";
    text += FindFileName(image.c_str());
    text += L"\r\n";
    text += image;
    text += L"\r\n\r\n";
    return text;
}

bool ModuleMatchesRequest(const wchar_t* modulePath, const void* context) {
    const SearchRequest& request = *static_cast<const SearchRequest*>(context);
    wchar_t candidate[kPathChars];
    std::wstring module = Field(modulePath, kPathChars);
    wmemcpy(candidate, module.c_str(), module.size() + 1);
    FoldAZ(candidate);
    return MatchFileMask(request.mask, FindFileName(candidate));
}

bool AppendMatchingRecord(ModuleRecord record, void* context) {
    const SearchRequest& request = *static_cast<const SearchRequest*>(context);
    if (!ModuleMatchesRequest(record.modulePath, context)) return true;

    // Convert before the file is opened: a record that cannot be converted is dropped whole and
    // must not leave an empty output file behind.
    std::string bytes;
    if (!ToThreadAnsi(FormatRecord(record), bytes)) return true;

    // Opened per record with append-only access, so every write lands at the end.
    dv::unique_hfile file(::CreateFileW(request.outputPath, FILE_APPEND_DATA, FILE_SHARE_WRITE, nullptr,
                                        OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) return true;
    size_t total = 0;
    while (total < bytes.size()) {
        DWORD written = 0;
        if (!::WriteFile(file.get(), bytes.data() + total, static_cast<DWORD>(bytes.size() - total), &written,
                         nullptr) || written == 0)
            break;
        total += written;
    }
    return total > 0;
}

bool TerminateById(DWORD processId) {
    dv::unique_handle process(::OpenProcess(PROCESS_TERMINATE, FALSE, processId));
    if (!process) return false;
    DWORD error = ::TerminateProcess(process.get(), 0xFFFFFFFF) ? ERROR_SUCCESS : ::GetLastError();
    process.reset();
    ::SetLastError(error);
    return error == ERROR_SUCCESS;
}

} // namespace tessaly
