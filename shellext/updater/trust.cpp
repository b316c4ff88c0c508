#include "trust.h"
#include "common/trace.h"
#include "transfer.h"
#include "update_reply.h"
#include "update_server.h"
#include "common/text.h"
#include <softpub.h>
#include <wintrust.h>

namespace dv::updater {

bool ParseThumbprints(const wchar_t* list, std::vector<std::wstring>& thumbprints) {
    thumbprints.clear();
    const std::wstring text = list ? list : L"";
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find_first_of(L";, \t", start);
        if (end == std::wstring::npos) end = text.size();
        if (end > start) {
            unsigned char digest[32];
            if (!ParseSha256Hex(text.substr(start, end - start), digest)) return false;
            thumbprints.push_back(Sha256Hex(digest));
        }
        start = end + 1;
    }
    return true;
}

std::wstring VerifiedSignerThumbprint(const wchar_t* path, HANDLE file, LONG& hr) noexcept {
    std::wstring thumbprint;
    LARGE_INTEGER zero = {};
    ::SetFilePointerEx(file, zero, nullptr, FILE_BEGIN);
    WINTRUST_FILE_INFO fileInfo = {};
    fileInfo.cbStruct = sizeof(fileInfo);
    fileInfo.pcwszFilePath = path;
    fileInfo.hFile = file;
    WINTRUST_DATA data = {};
    data.cbStruct = sizeof(data);
    data.dwUIChoice = WTD_UI_NONE;
    data.fdwRevocationChecks = WTD_REVOKE_NONE;  // pinning names the certificate; no network on the way
    data.dwUnionChoice = WTD_CHOICE_FILE;
    data.pFile = &fileInfo;
    data.dwStateAction = WTD_STATEACTION_VERIFY;
    data.dwProvFlags = WTD_CACHE_ONLY_URL_RETRIEVAL;
    GUID action = WINTRUST_ACTION_GENERIC_VERIFY_V2;
    hr = ::WinVerifyTrust(static_cast<HWND>(INVALID_HANDLE_VALUE), &action, &data);
    if (hr == ERROR_SUCCESS) {
        CRYPT_PROVIDER_DATA* provider = ::WTHelperProvDataFromStateData(data.hWVTStateData);
        CRYPT_PROVIDER_SGNR* signer = provider ? ::WTHelperGetProvSignerFromChain(provider, 0, FALSE, 0) : nullptr;
        if (signer && signer->csCertChain > 0 && signer->pasCertChain && signer->pasCertChain[0].pCert) {
            const CERT_CONTEXT* certificate = signer->pasCertChain[0].pCert;
            unsigned char digest[32];
            if (HashBytes(certificate->pbCertEncoded, certificate->cbCertEncoded, digest)) {
                try {
                    thumbprint = Sha256Hex(digest);
                } catch (...) {
                    DV_TRACE_EXCEPTION();
                }
            }
        }
    }
    data.dwStateAction = WTD_STATEACTION_CLOSE;
    ::WinVerifyTrust(static_cast<HWND>(INVALID_HANDLE_VALUE), &action, &data);
    return thumbprint;
}

bool IsSignedBy(const wchar_t* path, HANDLE file, const wchar_t* signers) noexcept {
    try {
        std::vector<std::wstring> pinned;
        if (!ParseThumbprints(signers, pinned)) return false;
        if (pinned.empty()) return true;
        LONG hr = 0;
        const std::wstring thumbprint = VerifiedSignerThumbprint(path, file, hr);
        for (const std::wstring& candidate : pinned) {
            if (!thumbprint.empty() && candidate == thumbprint) return true;
        }
        DV_TRACE_HR(hr, L"signer check (WinVerifyTrust or the pin)");
        return false;
    } catch (...) {
        DV_TRACE_EXCEPTION();
        return false;
    }
}

bool IsSignedByPinnedSigner(const wchar_t* path, HANDLE file) noexcept { return IsSignedBy(path, file, kBuildUpdateSigners); }

} // namespace dv::updater
