// The update server's reply and the rules for the addresses it names: plain C++, no network.
//
//     UpdateReply reply = ParseUpdateReply(DecodeReplyText(bytes));
//     bool offer = reply.hasSha256 && IsAllowedDownloadUrl(reply.downloadUrl.c_str(), server);
#pragma once
#include <string>

namespace dv::updater {

// The keys of the section "Info". Section and key names match in any case, blanks around names
// and values are dropped, a value in double quotes loses them, and the first occurrence of a key
// counts (as the system's own INI reader does).
struct UpdateReply {
    std::wstring version;      // "Ver"
    std::wstring description;  // "Dsc"
    std::wstring downloadUrl;  // "DL"
    std::wstring fileName;     // "FN"
    std::wstring sha256Text;   // "SHA256", as sent
    bool hasSha256 = false;    // sha256Text was 64 hexadecimal digits
    unsigned char sha256[32] = {};
};
UpdateReply ParseUpdateReply(const std::wstring& text);

// Bytes of a reply as text: UTF-8 when they are valid UTF-8 (a byte-order mark is dropped), else
// the ANSI code page, as the reply files of earlier versions were read.
std::wstring DecodeReplyText(const std::string& bytes);

// Exactly 64 hexadecimal digits, either case, blanks around them allowed.
bool ParseSha256Hex(const std::wstring& text, unsigned char (&digest)[32]) noexcept;
std::wstring Sha256Hex(const unsigned char (&digest)[32]);

// Where the installer may come from: "https://" whatever the server's scheme, "http://" only when
// the update server itself is "http://" (test and local builds), never another scheme, a UNC or
// a relative path. The host may differ from the server's (a mirror) but must be there, and the
// address holds no blanks, control characters, backslashes or user name.
bool IsAllowedDownloadUrl(const wchar_t* url, const wchar_t* server) noexcept;

} // namespace dv::updater
