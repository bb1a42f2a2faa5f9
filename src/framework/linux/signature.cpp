// Signature checks on the Linux builds: OpenSSL, RSA PKCS#1 v1.5 over
// SHA-256, the signature in strict base64, the key a PEM "PUBLIC KEY".
#include "framework/ports/network.h"

#include <openssl/bio.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/rsa.h>

#include <memory>
#include <vector>

namespace fw {

namespace {

template <auto Free>
struct Deleter {
    template <class T>
    void operator()(T* p) const {
        Free(p);
    }
};
using Key = std::unique_ptr<EVP_PKEY, Deleter<EVP_PKEY_free>>;
using Context = std::unique_ptr<EVP_MD_CTX, Deleter<EVP_MD_CTX_free>>;
using Bio = std::unique_ptr<BIO, Deleter<BIO_free>>;

// Strict base64: no blanks, no line breaks, the length a multiple of four.
bool decodeBase64(const std::string& text, std::vector<unsigned char>& out) {
    if (text.empty() || text.size() % 4 != 0) return false;
    out.resize(text.size() / 4 * 3);
    const int n = EVP_DecodeBlock(out.data(), reinterpret_cast<const unsigned char*>(text.data()),
                                  static_cast<int>(text.size()));
    if (n < 0) return false;
    // EVP_DecodeBlock counts the padding as zero bytes.
    std::size_t size = static_cast<std::size_t>(n);
    if (text.back() == '=') --size;
    if (text[text.size() - 2] == '=') --size;
    out.resize(size);
    return true;
}

} // namespace

bool verifySignature(const std::string& message, const std::string& signatureBase64,
                     const std::string& publicKeyPem) {
    std::vector<unsigned char> signature;
    if (!decodeBase64(signatureBase64, signature)) return false;

    Bio bio(BIO_new_mem_buf(publicKeyPem.data(), static_cast<int>(publicKeyPem.size())));
    if (!bio) return false;
    Key key(PEM_read_bio_PUBKEY(bio.get(), nullptr, nullptr, nullptr));
    if (!key || EVP_PKEY_get_base_id(key.get()) != EVP_PKEY_RSA) return false;

    Context ctx(EVP_MD_CTX_new());
    EVP_PKEY_CTX* pctx = nullptr;
    if (!ctx || EVP_DigestVerifyInit(ctx.get(), &pctx, EVP_sha256(), nullptr, key.get()) != 1 ||
        EVP_PKEY_CTX_set_rsa_padding(pctx, RSA_PKCS1_PADDING) != 1)
        return false;

    return EVP_DigestVerifyUpdate(ctx.get(), message.data(), message.size()) == 1 &&
           EVP_DigestVerifyFinal(ctx.get(), signature.data(), signature.size()) == 1;
}

} // namespace fw
