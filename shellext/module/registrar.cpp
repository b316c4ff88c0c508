#include "registrar.h"
#include "common/trace.h"
#include "common/handles.h"
#include <shlwapi.h>
#include <cwctype>

namespace dv::module {

namespace {

constexpr size_t kMaxReplacementName = 31;

struct RootName { const wchar_t* name; HKEY key; };
const RootName kRoots[] = {
    {L"HKCR", HKEY_CLASSES_ROOT}, {L"HKCU", HKEY_CURRENT_USER}, {L"HKLM", HKEY_LOCAL_MACHINE},
    {L"HKU", HKEY_USERS}, {L"HKPD", HKEY_PERFORMANCE_DATA}, {L"HKDD", HKEY_DYN_DATA},
    {L"HKCC", HKEY_CURRENT_CONFIG}, {L"HKEY_CLASSES_ROOT", HKEY_CLASSES_ROOT},
    {L"HKEY_CURRENT_USER", HKEY_CURRENT_USER}, {L"HKEY_LOCAL_MACHINE", HKEY_LOCAL_MACHINE},
    {L"HKEY_USERS", HKEY_USERS}, {L"HKEY_PERFORMANCE_DATA", HKEY_PERFORMANCE_DATA},
    {L"HKEY_DYN_DATA", HKEY_DYN_DATA}, {L"HKEY_CURRENT_CONFIG", HKEY_CURRENT_CONFIG},
};

// Keys that ForceRemove never deletes.
const wchar_t* const kProtectedKeys[] = {
    L"AppID", L"CLSID", L"Component Categories", L"FileType", L"Interface", L"Hardware",
    L"Mime", L"SAM", L"SECURITY", L"SYSTEM", L"Software", L"TypeLib",
};

bool IsProtectedKey(const std::wstring& name) {
    for (const wchar_t* p : kProtectedKeys)
        if (::lstrcmpiW(p, name.c_str()) == 0) return true;
    return false;
}

// Replaces %NAME% by its value; %% stands for one percent sign.
bool ExpandReplacements(const std::wstring& script, const ScriptReplacements& replacements, std::wstring& out) {
    out.clear();
    out.reserve(script.size());
    for (size_t i = 0; i < script.size(); ++i) {
        if (script[i] != L'%') {
            out += script[i];
            continue;
        }
        size_t end = script.find(L'%', i + 1);
        if (end == std::wstring::npos) return false;
        if (end == i + 1) {
            out += L'%';
        } else {
            std::wstring name = script.substr(i + 1, end - i - 1);
            if (name.size() > kMaxReplacementName) return false;
            const std::wstring* value = nullptr;
            for (const auto& r : replacements)
                if (::lstrcmpiW(r.first.c_str(), name.c_str()) == 0) value = &r.second;
            if (!value) return false;
            out += *value;
        }
        i = end;
    }
    return true;
}

enum class TokenKind { End, Word, Quoted, Open, Close, Equals };

struct Token {
    TokenKind kind = TokenKind::End;
    std::wstring text;
};

class Parser {
public:
    Parser(const std::wstring& text, ScriptMode mode, HKEY classesRoot)
        : text_(text), mode_(mode), classesRoot_(classesRoot) {}

    HRESULT Run() {
        for (;;) {
            Token root;
            if (!Next(root)) return DISP_E_EXCEPTION;
            if (root.kind == TokenKind::End) return S_OK;
            if (root.kind != TokenKind::Word) return DISP_E_EXCEPTION;
            HKEY rootKey = nullptr;
            for (const auto& r : kRoots)
                if (::lstrcmpiW(r.name, root.text.c_str()) == 0) rootKey = r.key;
            if (!rootKey) return DISP_E_EXCEPTION;
            if (rootKey == HKEY_CLASSES_ROOT) rootKey = classesRoot_;
            Token open;
            if (!Next(open) || open.kind != TokenKind::Open) return DISP_E_EXCEPTION;
            HRESULT hr = Entries(rootKey, true);
            if (FAILED(hr)) return hr;
        }
    }

private:
    bool Next(Token& token) {
        while (pos_ < text_.size() && std::iswspace(text_[pos_])) ++pos_;
        token.text.clear();
        if (pos_ >= text_.size()) { token.kind = TokenKind::End; return true; }
        wchar_t c = text_[pos_];
        // Braces and the equals sign stand alone between blanks; "{5E2A...}" is a key name.
        bool alone = pos_ + 1 >= text_.size() || std::iswspace(text_[pos_ + 1]);
        if (alone && c == L'{') { token.kind = TokenKind::Open; ++pos_; return true; }
        if (alone && c == L'}') { token.kind = TokenKind::Close; ++pos_; return true; }
        if (alone && c == L'=') { token.kind = TokenKind::Equals; ++pos_; return true; }
        if (c == L'\'') {
            token.kind = TokenKind::Quoted;
            ++pos_;
            for (;;) {
                if (pos_ >= text_.size()) return false;  // unterminated text
                if (text_[pos_] == L'\'') {
                    if (pos_ + 1 < text_.size() && text_[pos_ + 1] == L'\'') {  // '' is one quote
                        token.text += L'\'';
                        pos_ += 2;
                        continue;
                    }
                    ++pos_;
                    return true;
                }
                token.text += text_[pos_++];
            }
        }
        token.kind = TokenKind::Word;
        while (pos_ < text_.size() && !std::iswspace(text_[pos_])) token.text += text_[pos_++];
        return true;
    }

    bool Peek(Token& token) {
        size_t saved = pos_;
        bool ok = Next(token);
        pos_ = saved;
        return ok;
    }

    // "= s 'text'": the value after a key name or a val name.
    bool ValueText(std::wstring& value) {
        Token type, text;
        if (!Next(type) || type.kind != TokenKind::Word || ::lstrcmpiW(type.text.c_str(), L"s") != 0) return false;
        if (!Next(text) || text.kind != TokenKind::Quoted) return false;
        value = text.text;
        return true;
    }

    // Entries of a block up to and including its closing brace. parent is null while skipping.
    HRESULT Entries(HKEY parent, bool live) {
        for (;;) {
            Token token;
            if (!Next(token)) return DISP_E_EXCEPTION;
            if (token.kind == TokenKind::Close) return S_OK;
            if (token.kind != TokenKind::Word && token.kind != TokenKind::Quoted) return DISP_E_EXCEPTION;

            bool noRemove = false, forceRemove = false;
            if (token.kind == TokenKind::Word && ::lstrcmpiW(token.text.c_str(), L"NoRemove") == 0) {
                noRemove = true;
                if (!Next(token)) return DISP_E_EXCEPTION;
            } else if (token.kind == TokenKind::Word && ::lstrcmpiW(token.text.c_str(), L"ForceRemove") == 0) {
                forceRemove = true;
                if (!Next(token)) return DISP_E_EXCEPTION;
            }
            if (token.kind != TokenKind::Word && token.kind != TokenKind::Quoted) return DISP_E_EXCEPTION;

            if (token.kind == TokenKind::Word && ::lstrcmpiW(token.text.c_str(), L"val") == 0) {
                HRESULT hr = NamedValue(parent, live, noRemove);
                if (FAILED(hr)) return hr;
                continue;
            }
            HRESULT hr = Key(parent, live, token.text, noRemove, forceRemove);
            if (FAILED(hr)) return hr;
        }
    }

    HRESULT NamedValue(HKEY parent, bool live, bool noRemove) {
        Token name, equals;
        if (!Next(name) || (name.kind != TokenKind::Word && name.kind != TokenKind::Quoted)) return DISP_E_EXCEPTION;
        if (!Next(equals) || equals.kind != TokenKind::Equals) return DISP_E_EXCEPTION;
        std::wstring value;
        if (!ValueText(value)) return DISP_E_EXCEPTION;
        if (!live || !parent) return S_OK;
        if (mode_ == ScriptMode::Register) {
            DWORD bytes = static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t));
            LONG rc = ::RegSetValueExW(parent, name.text.c_str(), 0, REG_SZ,
                                       reinterpret_cast<const BYTE*>(value.c_str()), bytes);
            return rc == ERROR_SUCCESS ? S_OK : HRESULT_FROM_WIN32(rc);
        }
        if (!noRemove) {
            LONG rc = ::RegDeleteValueW(parent, name.text.c_str());
            if (rc != ERROR_SUCCESS && rc != ERROR_FILE_NOT_FOUND) return HRESULT_FROM_WIN32(rc);
        }
        return S_OK;
    }

    HRESULT Key(HKEY parent, bool live, const std::wstring& name, bool noRemove, bool forceRemove) {
        bool hasDefault = false, hasBlock = false;
        std::wstring defaultValue;
        Token next;
        if (!Peek(next)) return DISP_E_EXCEPTION;
        if (next.kind == TokenKind::Equals) {
            Next(next);
            if (!ValueText(defaultValue)) return DISP_E_EXCEPTION;
            hasDefault = true;
            if (!Peek(next)) return DISP_E_EXCEPTION;
        }
        if (next.kind == TokenKind::Open) {
            Next(next);
            hasBlock = true;
        }

        unique_hkey key;
        if (live && parent) {
            if (mode_ == ScriptMode::Register) {
                if (forceRemove && !IsProtectedKey(name)) ::SHDeleteKeyW(parent, name.c_str());
                if (::RegOpenKeyExW(parent, name.c_str(), 0, KEY_READ | KEY_WRITE, key.put()) != ERROR_SUCCESS &&
                    ::RegOpenKeyExW(parent, name.c_str(), 0, KEY_READ, key.put()) != ERROR_SUCCESS) {
                    key.release();
                    LONG rc = ::RegCreateKeyExW(parent, name.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                                                KEY_READ | KEY_WRITE, nullptr, key.put(), nullptr);
                    if (rc != ERROR_SUCCESS) {
                        key.release();
                        return HRESULT_FROM_WIN32(rc);
                    }
                }
                if (hasDefault) {
                    DWORD bytes = static_cast<DWORD>((defaultValue.size() + 1) * sizeof(wchar_t));
                    LONG rc = ::RegSetValueExW(key.get(), nullptr, 0, REG_SZ,
                                               reinterpret_cast<const BYTE*>(defaultValue.c_str()), bytes);
                    if (rc != ERROR_SUCCESS) return HRESULT_FROM_WIN32(rc);
                }
            } else {
                // Values are removed from the key, so ask for write access when it is granted.
                if (::RegOpenKeyExW(parent, name.c_str(), 0, KEY_READ | KEY_WRITE, key.put()) != ERROR_SUCCESS &&
                    ::RegOpenKeyExW(parent, name.c_str(), 0, KEY_READ, key.put()) != ERROR_SUCCESS)
                    key.release();
            }
        }

        bool childLive = live && key;
        if (hasBlock) {
            HRESULT hr = Entries(key.get(), childLive);
            if (FAILED(hr)) return hr;
        }

        if (mode_ == ScriptMode::Unregister && childLive && !noRemove) {
            DWORD subKeys = 0;
            if (::RegQueryInfoKeyW(key.get(), nullptr, nullptr, nullptr, &subKeys, nullptr, nullptr, nullptr,
                                   nullptr, nullptr, nullptr, nullptr) == ERROR_SUCCESS &&
                subKeys == 0) {
                key.reset();
                LONG rc = ::RegDeleteKeyW(parent, name.c_str());
                if (rc != ERROR_SUCCESS && rc != ERROR_FILE_NOT_FOUND) return HRESULT_FROM_WIN32(rc);
            }
        }
        return S_OK;
    }

    const std::wstring& text_;
    ScriptMode mode_;
    HKEY classesRoot_;
    size_t pos_ = 0;
};

} // namespace

HRESULT RunRegistryScript(const std::wstring& script, ScriptMode mode, const ScriptReplacements& replacements,
                          HKEY classesRoot) {
    try {
        std::wstring expanded;
        if (!ExpandReplacements(script, replacements, expanded)) return DISP_E_EXCEPTION;
        return Parser(expanded, mode, classesRoot).Run();
    } catch (...) {
        DV_TRACE_EXCEPTION();
        return E_OUTOFMEMORY;
    }
}

HRESULT RunRegistryResource(HMODULE module, UINT resourceId, ScriptMode mode,
                            const ScriptReplacements& replacements, HKEY classesRoot) {
    HRSRC resource = ::FindResourceW(module, MAKEINTRESOURCEW(resourceId), L"REGISTRY");
    if (!resource) return HRESULT_FROM_WIN32(::GetLastError());
    HGLOBAL loaded = ::LoadResource(module, resource);
    DWORD size = ::SizeofResource(module, resource);
    const char* bytes = loaded ? static_cast<const char*>(::LockResource(loaded)) : nullptr;
    if (!bytes) return HRESULT_FROM_WIN32(::GetLastError());
    try {
        std::wstring script;
        if (size > 0) {
            int chars = ::MultiByteToWideChar(CP_ACP, 0, bytes, static_cast<int>(size), nullptr, 0);
            if (chars <= 0) return HRESULT_FROM_WIN32(::GetLastError());
            script.resize(chars);
            ::MultiByteToWideChar(CP_ACP, 0, bytes, static_cast<int>(size), script.data(), chars);
        }
        // A resource may carry a terminating null; it ends the script.
        size_t nul = script.find(L'\0');
        if (nul != std::wstring::npos) script.resize(nul);
        return RunRegistryScript(script, mode, replacements, classesRoot);
    } catch (...) {
        DV_TRACE_EXCEPTION();
        return E_OUTOFMEMORY;
    }
}

} // namespace dv::module
