// Signature checks on Windows: the system's own CryptoAPI (crypt32 decodes
// the PEM key and the base64 signature, rsaenh verifies), so no
// cryptographic code of ours is involved.
#include "framework/ports/network.h"

#include <windows.h>

#include <wincrypt.h>

#include <algorithm>
#include <string>
#include <string_view>
#include <vector>

namespace fw {

namespace {

bool decode(const std::string& text, DWORD flags, std::vector<BYTE>& out) {
    DWORD size = 0;
    const auto length = static_cast<DWORD>(text.size());
    if (text.empty() ||
        !CryptStringToBinaryA(text.data(), length, flags, nullptr, &size, nullptr, nullptr))
        return false;
    out.resize(size);
    if (!CryptStringToBinaryA(text.data(), length, flags, out.data(), &size, nullptr, nullptr))
        return false;
    out.resize(size);
    return true;
}

struct Handles {
    HCRYPTPROV provider = 0;
    HCRYPTKEY key = 0;
    HCRYPTHASH hash = 0;
    CERT_PUBLIC_KEY_INFO* info = nullptr;
    ~Handles() {
        if (hash) CryptDestroyHash(hash);
        if (key) CryptDestroyKey(key);
        if (provider) CryptReleaseContext(provider, 0);
        if (info) LocalFree(info);
    }
};

} // namespace

bool verifySignature(const std::string& message, const std::string& signatureBase64,
                     const std::string& publicKeyPem) {
    // The signature must be plain base64 on one line, as on Linux.
    if (signatureBase64.find_first_of(" \t\r\n") != std::string::npos) return false;
    std::vector<BYTE> der, signature;
    if (!decode(publicKeyPem, CRYPT_STRING_BASE64HEADER, der) ||
        !decode(signatureBase64, CRYPT_STRING_BASE64, signature))
        return false;

    Handles h;
    DWORD infoSize = 0;
    if (!CryptDecodeObjectEx(X509_ASN_ENCODING, X509_PUBLIC_KEY_INFO, der.data(),
                             static_cast<DWORD>(der.size()), CRYPT_DECODE_ALLOC_FLAG, nullptr,
                             &h.info, &infoSize) ||
        std::string_view(h.info->Algorithm.pszObjId) != szOID_RSA_RSA)
        return false;
    if (!CryptAcquireContextW(&h.provider, nullptr, nullptr, PROV_RSA_AES, CRYPT_VERIFYCONTEXT) ||
        !CryptImportPublicKeyInfo(h.provider, X509_ASN_ENCODING, h.info, &h.key) ||
        !CryptCreateHash(h.provider, CALG_SHA_256, 0, 0, &h.hash))
        return false;

    // Hashed in pieces: CryptHashData takes a DWORD length.
    constexpr std::size_t kPiece = 1 << 20;
    for (std::size_t at = 0; at < message.size(); at += kPiece) {
        const auto n = static_cast<DWORD>(std::min(kPiece, message.size() - at));
        if (!CryptHashData(h.hash, reinterpret_cast<const BYTE*>(message.data() + at), n, 0))
            return false;
    }
    // CryptoAPI takes the signature least significant byte first.
    std::vector<BYTE> reversed(signature.rbegin(), signature.rend());
    return CryptVerifySignatureW(h.hash, reversed.data(), static_cast<DWORD>(reversed.size()),
                                 h.key, nullptr, 0) != FALSE;
}

} // namespace fw
