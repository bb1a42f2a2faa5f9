// Signature checks with OpenSSL for the builds that have no CryptoAPI.
#pragma once

#include <string>

namespace fw {

// Platform::verifySignature for the Linux builds: RSA PKCS#1 v1.5 over
// SHA-256, the signature in base64, the key a PEM "PUBLIC KEY".
bool opensslVerifyFile(const std::string& path, const std::string& signatureBase64,
                       const std::string& publicKeyPem);

} // namespace fw
