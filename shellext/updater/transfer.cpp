#include "transfer.h"
#include "common/trace.h"
#include "update_reply.h"
#include "updater.h"
#include "common/handles.h"
#include <wininet.h>
#include <bcrypt.h>
#include <string>

namespace dv::updater {

namespace {

DV_HANDLE_TRAITS(hinternet_traits, HINTERNET, nullptr, ::InternetCloseHandle(h));
using unique_hinternet = unique_any<hinternet_traits>;

bool IsRedirect(DWORD status) { return status == 301 || status == 302 || status == 303 || status == 307 || status == 308; }

// The announced length, 0 when there is none; false when it is not a number or is too large.
bool ContentLength(HINTERNET request, unsigned long long maxBytes, ULONG& length) {
    wchar_t text[32];
    DWORD size = sizeof(text);
    length = 0;
    if (!::HttpQueryInfoW(request, HTTP_QUERY_CONTENT_LENGTH, text, &size, nullptr))
        return ::GetLastError() == ERROR_HTTP_HEADER_NOT_FOUND;  // none, or one too long to be a size
    unsigned long long value = 0;
    const wchar_t* p = text;
    if (!*p) return false;
    for (; *p; ++p) {
        if (*p < L'0' || *p > L'9' || value > 0xFFFFFFFFull) return false;
        value = value * 10 + static_cast<unsigned>(*p - L'0');
    }
    if (value > maxBytes || value > 0xFFFFFFFFull) return false;
    length = static_cast<ULONG>(value);
    return true;
}

// Where a redirect points, resolved against the address that answered with it.
bool RedirectTarget(HINTERNET request, const std::wstring& from, std::wstring& to) {
    wchar_t location[INTERNET_MAX_URL_LENGTH];
    DWORD size = sizeof(location);
    if (!::HttpQueryInfoW(request, HTTP_QUERY_LOCATION, location, &size, nullptr)) return false;
    wchar_t combined[INTERNET_MAX_URL_LENGTH];
    DWORD length = ARRAYSIZE(combined);
    if (!::InternetCombineUrlW(from.c_str(), location, combined, &length, ICU_NO_ENCODE)) return false;
    to = combined;
    return true;
}

// The time-outs on every handle level: Wine's WinINet takes the receive time-out only from the
// connection and request handles, Windows from any of them.
void SetTimeouts(HINTERNET handle) {
    DWORD connect = kConnectTimeoutMs, receive = kReceiveTimeoutMs;
    // Without them a silent server holds the check for the system's default minutes.
    if (!::InternetSetOptionW(handle, INTERNET_OPTION_CONNECT_TIMEOUT, &connect, sizeof(connect)) ||
        !::InternetSetOptionW(handle, INTERNET_OPTION_SEND_TIMEOUT, &receive, sizeof(receive)) ||
        !::InternetSetOptionW(handle, INTERNET_OPTION_RECEIVE_TIMEOUT, &receive, sizeof(receive)))
        DV_TRACE_WIN32(::GetLastError(), L"InternetSetOptionW of a time-out");
}

// Connects to the address's server and sends the GET; the answer's headers have arrived when it
// returns true.
bool SendRequest(HINTERNET session, const std::wstring& address, unique_hinternet& connection,
                 unique_hinternet& request) {
    wchar_t host[INTERNET_MAX_HOST_NAME_LENGTH], path[INTERNET_MAX_URL_LENGTH], extra[INTERNET_MAX_URL_LENGTH];
    URL_COMPONENTSW parts = {};
    parts.dwStructSize = sizeof(parts);
    parts.lpszHostName = host;
    parts.dwHostNameLength = ARRAYSIZE(host);
    parts.lpszUrlPath = path;
    parts.dwUrlPathLength = ARRAYSIZE(path);
    parts.lpszExtraInfo = extra;
    parts.dwExtraInfoLength = ARRAYSIZE(extra);
    if (!::InternetCrackUrlW(address.c_str(), 0, 0, &parts)) return false;
    if (parts.nScheme != INTERNET_SCHEME_HTTP && parts.nScheme != INTERNET_SCHEME_HTTPS) {
        ::SetLastError(ERROR_INTERNET_UNRECOGNIZED_SCHEME);
        return false;
    }
    std::wstring object = std::wstring(path) + extra;
    object.resize(object.find(L'#') == std::wstring::npos ? object.size() : object.find(L'#'));
    if (object.empty()) object = L"/";
    request.reset();
    connection.reset(::InternetConnectW(session, host, parts.nPort, nullptr, nullptr, INTERNET_SERVICE_HTTP, 0, 0));
    if (!connection) return false;
    SetTimeouts(connection.get());
    const DWORD flags = INTERNET_FLAG_RELOAD | INTERNET_FLAG_NO_CACHE_WRITE | INTERNET_FLAG_PRAGMA_NOCACHE |
                        INTERNET_FLAG_NO_COOKIES | INTERNET_FLAG_NO_UI | INTERNET_FLAG_NO_AUTH |
                        INTERNET_FLAG_NO_AUTO_REDIRECT |
                        (parts.nScheme == INTERNET_SCHEME_HTTPS ? INTERNET_FLAG_SECURE : 0);
    request.reset(::HttpOpenRequestW(connection.get(), L"GET", object.c_str(), nullptr, nullptr, nullptr, flags, 0));
    if (!request) return false;
    SetTimeouts(request.get());
    return ::HttpSendRequestW(request.get(), L"Cache-Control: no-cache\r\n", static_cast<DWORD>(-1), nullptr, 0) != FALSE;
}

} // namespace

HRESULT HttpGet(const wchar_t* url, const wchar_t* server, CUpdaterBindStatusCallback& callback,
                unsigned long long maxBytes, DWORD deadlineMs,
                const std::function<bool(const BYTE*, DWORD)>& write) noexcept {
    try {
        const ULONGLONG started = ::GetTickCount64();
        auto expired = [&] { return deadlineMs && ::GetTickCount64() - started > deadlineMs; };
        callback.ResetProgress();
        if (callback.OnProgress(0, 0, BINDSTATUS_CONNECTING, nullptr) == E_ABORT) return E_ABORT;

        unique_hinternet session(::InternetOpenW(L"Dirvane", INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, 0));
        if (!session) return HRESULT_FROM_WIN32(::GetLastError());
        SetTimeouts(session.get());

        std::wstring address = url ? url : L"";
        unique_hinternet connection, request;
        for (int hop = 0;; ++hop) {
            if (!IsAllowedDownloadUrl(address.c_str(), server)) return E_ACCESSDENIED;
            if (!SendRequest(session.get(), address, connection, request)) return HRESULT_FROM_WIN32(::GetLastError());
            if (callback.OnProgress(0, 0, BINDSTATUS_SENDINGREQUEST, nullptr) == E_ABORT) return E_ABORT;
            if (expired()) return INET_E_DOWNLOAD_FAILURE;
            DWORD status = 0, size = sizeof(status);
            if (!::HttpQueryInfoW(request.get(), HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER, &status, &size,
                                  nullptr))
                return INET_E_DOWNLOAD_FAILURE;
            if (status == 200) break;
            std::wstring next;
            if (!IsRedirect(status) || hop == kMaxRedirects || !RedirectTarget(request.get(), address, next))
                return INET_E_DOWNLOAD_FAILURE;
            address = next;
        }

        ULONG length = 0;
        if (!ContentLength(request.get(), maxBytes, length)) return INET_E_DOWNLOAD_FAILURE;
        if (callback.OnProgress(0, length, BINDSTATUS_BEGINDOWNLOADDATA, nullptr) == E_ABORT) return E_ABORT;
        BYTE buffer[16384];
        unsigned long long received = 0;
        for (;;) {
            // Waits for some data only, not for a full buffer, so a cancel is seen at every piece.
            DWORD available = 0, read = 0;
            if (!::InternetQueryDataAvailable(request.get(), &available, 0, 0)) return INET_E_DOWNLOAD_FAILURE;
            const DWORD wanted = available == 0 || available > sizeof(buffer) ? sizeof(buffer) : available;
            if (!::InternetReadFile(request.get(), buffer, wanted, &read)) return INET_E_DOWNLOAD_FAILURE;
            if (read == 0) break;
            received += read;
            if (received > maxBytes || (length && received > length) || expired() || !write(buffer, read))
                return INET_E_DOWNLOAD_FAILURE;
            if (callback.OnProgress(static_cast<ULONG>(received), length, BINDSTATUS_DOWNLOADINGDATA, nullptr) ==
                E_ABORT)
                return E_ABORT;
        }
        if (callback.OnProgress(static_cast<ULONG>(received), length, BINDSTATUS_ENDDOWNLOADDATA, nullptr) == E_ABORT)
            return E_ABORT;
        return callback.TransferIncomplete() ? INET_E_DOWNLOAD_FAILURE : S_OK;
    } catch (...) {
        DV_TRACE_EXCEPTION();
        return E_OUTOFMEMORY;
    }
}

Sha256::Sha256() noexcept {
    BCRYPT_ALG_HANDLE algorithm = nullptr;
    BCRYPT_HASH_HANDLE hash = nullptr;
    if (!BCRYPT_SUCCESS(::BCryptOpenAlgorithmProvider(&algorithm, BCRYPT_SHA256_ALGORITHM, nullptr, 0))) return;
    algorithm_ = algorithm;
    if (!BCRYPT_SUCCESS(::BCryptCreateHash(algorithm, &hash, nullptr, 0, nullptr, 0, 0))) return;
    hash_ = hash;
    ok_ = true;
}

Sha256::~Sha256() {
    if (hash_) ::BCryptDestroyHash(hash_);
    if (algorithm_) ::BCryptCloseAlgorithmProvider(algorithm_, 0);
}

bool Sha256::Add(const void* data, size_t size) noexcept {
    const auto* bytes = static_cast<const BYTE*>(data);
    while (ok_ && size > 0) {
        const ULONG piece = size > 0x40000000 ? 0x40000000 : static_cast<ULONG>(size);
        ok_ = BCRYPT_SUCCESS(::BCryptHashData(hash_, const_cast<BYTE*>(bytes), piece, 0));
        bytes += piece;
        size -= piece;
    }
    return ok_;
}

bool Sha256::Finish(unsigned char (&digest)[32]) noexcept {
    const bool done = ok_ && BCRYPT_SUCCESS(::BCryptFinishHash(hash_, digest, sizeof(digest), 0));
    ok_ = false;
    return done;
}

bool HashFile(HANDLE file, unsigned char (&digest)[32]) noexcept {
    LARGE_INTEGER zero = {};
    if (!::SetFilePointerEx(file, zero, nullptr, FILE_BEGIN)) return false;
    Sha256 hash;
    BYTE buffer[65536];
    for (;;) {
        DWORD read = 0;
        if (!::ReadFile(file, buffer, sizeof(buffer), &read, nullptr)) return false;
        if (read == 0) break;
        if (!hash.Add(buffer, read)) return false;
    }
    return hash.Finish(digest);
}

bool HashBytes(const void* data, size_t size, unsigned char (&digest)[32]) noexcept {
    Sha256 hash;
    return hash.Add(data, size) && hash.Finish(digest);
}

} // namespace dv::updater
