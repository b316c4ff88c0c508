// Signer pinning: whether a downloaded installer carries a valid Authenticode signature whose
// signing certificate is one of the publisher's (SHA-256 thumbprints fixed at build time in
// DIRVANE_UPDATE_SIGNERS).
#pragma once
#include <windows.h>
#include <string>
#include <vector>

namespace dv::updater {

// The thumbprints of a list: 64 hexadecimal digits each, separated by ";", "," or blanks. False
// when any entry is not a thumbprint (a build must not pin less than it was told to).
bool ParseThumbprints(const wchar_t* list, std::vector<std::wstring>& thumbprints);

// True when signers (a list as above) is empty, or when WinVerifyTrust accepts the file's
// Authenticode signature and the certificate that signed it has one of the thumbprints. file is
// an open handle of path with read access; the check reads through it.
bool IsSignedBy(const wchar_t* path, HANDLE file, const wchar_t* signers) noexcept;
// The same with the signers of this build.
bool IsSignedByPinnedSigner(const wchar_t* path, HANDLE file) noexcept;

// SHA-256 thumbprint of the certificate that signed a file with a signature WinVerifyTrust
// accepts, lower-case hexadecimal; empty when there is none. hr receives WinVerifyTrust's result.
std::wstring VerifiedSignerThumbprint(const wchar_t* path, HANDLE file, LONG& hr) noexcept;

} // namespace dv::updater
