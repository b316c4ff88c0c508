#include "update_reply.h"
#include "common/text.h"
#include <windows.h>

namespace dv::updater {

namespace {

bool IsBlank(wchar_t c) { return c == L' ' || c == L'\t'; }

std::wstring Trim(const std::wstring& text, size_t begin, size_t end) {
    while (begin < end && IsBlank(text[begin])) ++begin;
    while (end > begin && IsBlank(text[end - 1])) --end;
    return text.substr(begin, end - begin);
}

int HexDigit(wchar_t c) noexcept {
    if (c >= L'0' && c <= L'9') return c - L'0';
    if (c >= L'a' && c <= L'f') return c - L'a' + 10;
    if (c >= L'A' && c <= L'F') return c - L'A' + 10;
    return -1;
}

// "scheme://" at the start of url, any case.
bool HasScheme(const wchar_t* url, const wchar_t* scheme) noexcept {
    const size_t length = wcslen(scheme);
    return CompareFoldAZ(url, scheme, length) == 0 && wcsncmp(url + length, L"://", 3) == 0;
}

} // namespace

UpdateReply ParseUpdateReply(const std::wstring& text) {
    UpdateReply reply;
    struct Key {
        const wchar_t* name;
        std::wstring* value;
        bool seen;
    } keys[] = {{L"Ver", &reply.version, false},       {L"Dsc", &reply.description, false},
                {L"DL", &reply.downloadUrl, false},    {L"FN", &reply.fileName, false},
                {L"SHA256", &reply.sha256Text, false}};
    bool inInfo = false;
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find(L'\n', start);
        if (end == std::wstring::npos) end = text.size();
        size_t lineEnd = end;
        if (lineEnd > start && text[lineEnd - 1] == L'\r') --lineEnd;
        const std::wstring line = Trim(text, start, lineEnd);
        start = end + 1;
        if (!line.empty() && line[0] == L'[') {
            const size_t close = line.find(L']');
            inInfo = close != std::wstring::npos && EqualsFoldAZ(Trim(line, 1, close).c_str(), L"Info");
            continue;
        }
        const size_t equals = line.find(L'=');
        if (!inInfo || equals == std::wstring::npos) continue;
        const std::wstring name = Trim(line, 0, equals);
        std::wstring value = Trim(line, equals + 1, line.size());
        if (value.size() >= 2 && value.front() == L'"' && value.back() == L'"') value = value.substr(1, value.size() - 2);
        for (Key& key : keys) {
            if (!key.seen && EqualsFoldAZ(name.c_str(), key.name)) {
                key.seen = true;
                *key.value = value;
            }
        }
    }
    reply.hasSha256 = ParseSha256Hex(reply.sha256Text, reply.sha256);
    return reply;
}

std::wstring DecodeReplyText(const std::string& bytes) {
    std::string data = bytes;
    if (data.compare(0, 3, "\xEF\xBB\xBF") == 0) data.erase(0, 3);
    if (data.empty() || data.size() > 0x7FFFFFFF) return std::wstring();
    const int size = static_cast<int>(data.size());
    UINT codePage = CP_UTF8;
    int length = ::MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, data.data(), size, nullptr, 0);
    if (length <= 0) {
        codePage = CP_ACP;
        length = ::MultiByteToWideChar(CP_ACP, 0, data.data(), size, nullptr, 0);
        if (length <= 0) return std::wstring();
    }
    std::wstring text(static_cast<size_t>(length), L'\0');
    ::MultiByteToWideChar(codePage, 0, data.data(), size, &text[0], length);
    return text;
}

bool ParseSha256Hex(const std::wstring& text, unsigned char (&digest)[32]) noexcept {
    size_t begin = 0, end = text.size();
    while (begin < end && IsBlank(text[begin])) ++begin;
    while (end > begin && IsBlank(text[end - 1])) --end;
    if (end - begin != 64) return false;
    unsigned char parsed[32];
    for (size_t i = 0; i < 32; ++i) {
        const int high = HexDigit(text[begin + 2 * i]), low = HexDigit(text[begin + 2 * i + 1]);
        if (high < 0 || low < 0) return false;
        parsed[i] = static_cast<unsigned char>(high * 16 + low);
    }
    memcpy(digest, parsed, sizeof(parsed));
    return true;
}

std::wstring Sha256Hex(const unsigned char (&digest)[32]) {
    static const wchar_t digits[] = L"0123456789abcdef";
    std::wstring hex;
    for (unsigned char byte : digest) {
        hex += digits[byte >> 4];
        hex += digits[byte & 15];
    }
    return hex;
}

bool IsAllowedDownloadUrl(const wchar_t* url, const wchar_t* server) noexcept {
    if (!url || !server) return false;
    size_t authority;
    if (HasScheme(url, L"https")) authority = 8;
    else if (HasScheme(url, L"http") && HasScheme(server, L"http")) authority = 7;
    else return false;
    for (const wchar_t* p = url; *p; ++p) {
        if (*p <= L' ' || *p == 0x7F || *p == L'\\') return false;
    }
    const size_t hostEnd = authority + wcscspn(url + authority, L"/?#");
    if (hostEnd == authority || url[authority] == L':') return false;  // no host
    for (size_t i = authority; i < hostEnd; ++i) {
        if (url[i] == L'@') return false;  // a user name, or a host disguised as one
    }
    return true;
}

} // namespace dv::updater
