// The updater's HTTP transfers (WinINet, a session of their own) and the SHA-256 it checks them with.
//
//     HRESULT hr = HttpGet(url, server, callback, kMaxReplyBytes, kCheckDeadlineMs,
//                          [&](const BYTE* data, DWORD size) { reply.append(...); return true; });
#pragma once
#include <windows.h>
#include <functional>

namespace dv::updater {

class CUpdaterBindStatusCallback;

// A stalled server costs a transfer at most this long per connection attempt and per silence
// between two pieces of data; then the transfer fails and its worker ends.
constexpr DWORD kConnectTimeoutMs = 10000;
constexpr DWORD kReceiveTimeoutMs = 10000;
// Redirects followed; each target must pass IsAllowedDownloadUrl like the first address.
constexpr int kMaxRedirects = 5;

// GETs url and hands the body to write piece by piece (false from write fails the transfer).
// Progress goes to callback, whose OnProgress also aborts the transfer once cancelled (E_ABORT).
// Fails (INET_E_DOWNLOAD_FAILURE) on a status other than 200, a body longer than maxBytes or
// than announced, one that ends short of its announced length or breaks off, and when the whole
// transfer outlasts deadlineMs (0: no limit). An address that IsAllowedDownloadUrl refuses, at
// any hop, gives E_ACCESSDENIED before any connection is made to it. Nothing comes from or goes
// to the cache, no cookies are sent, and no credentials are offered to the server.
HRESULT HttpGet(const wchar_t* url, const wchar_t* server, CUpdaterBindStatusCallback& callback,
                unsigned long long maxBytes, DWORD deadlineMs,
                const std::function<bool(const BYTE*, DWORD)>& write) noexcept;

// SHA-256 through the system's CNG provider.
class Sha256 {
public:
    Sha256() noexcept;
    ~Sha256();
    Sha256(const Sha256&) = delete;
    Sha256& operator=(const Sha256&) = delete;
    bool Add(const void* data, size_t size) noexcept;
    // The digest of everything added; the object is spent afterwards.
    bool Finish(unsigned char (&digest)[32]) noexcept;

private:
    void* algorithm_ = nullptr;
    void* hash_ = nullptr;
    bool ok_ = false;
};

// The digest of a whole open file, read from its start.
bool HashFile(HANDLE file, unsigned char (&digest)[32]) noexcept;
// The digest of bytes in memory.
bool HashBytes(const void* data, size_t size, unsigned char (&digest)[32]) noexcept;

} // namespace dv::updater
