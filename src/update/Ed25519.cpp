#include "update/Ed25519.h"

#include <openssl/evp.h>
#include <openssl/pem.h>

#include <memory>

namespace nimbrel {

namespace {

struct KeyFree {
    void operator()(EVP_PKEY* key) const { EVP_PKEY_free(key); }
};
struct ContextFree {
    void operator()(EVP_MD_CTX* context) const { EVP_MD_CTX_free(context); }
};
struct BioFree {
    void operator()(BIO* bio) const { BIO_free(bio); }
};
using KeyPointer = std::unique_ptr<EVP_PKEY, KeyFree>;
using ContextPointer = std::unique_ptr<EVP_MD_CTX, ContextFree>;
using BioPointer = std::unique_ptr<BIO, BioFree>;

const unsigned char* bytes(const QByteArray& data)
{
    return reinterpret_cast<const unsigned char*>(data.constData());
}

KeyPointer privateKeyFromPem(const QByteArray& pem)
{
    BioPointer bio(BIO_new_mem_buf(pem.constData(), static_cast<int>(pem.size())));
    if (!bio)
        return nullptr;
    // Refused rather than prompted for: signing runs unattended.
    auto noPassphrase = [](char*, int, int, void*) -> int { return 0; };
    KeyPointer key(PEM_read_bio_PrivateKey(bio.get(), nullptr, noPassphrase, nullptr));
    if (!key || EVP_PKEY_get_id(key.get()) != EVP_PKEY_ED25519)
        return nullptr;
    return key;
}

QByteArray rawPublicKey(EVP_PKEY* key)
{
    if (!key || EVP_PKEY_get_id(key) != EVP_PKEY_ED25519)
        return {};
    QByteArray raw(32, Qt::Uninitialized);
    size_t length = static_cast<size_t>(raw.size());
    if (EVP_PKEY_get_raw_public_key(key, reinterpret_cast<unsigned char*>(raw.data()), &length) != 1 || length != 32)
        return {};
    return raw;
}

}  // namespace

Result<QByteArray> ed25519Sign(const QByteArray& message, const QByteArray& privateKeyPem)
{
    const KeyPointer key = privateKeyFromPem(privateKeyPem);
    if (!key)
        return Error{QStringLiteral("not an unencrypted PEM Ed25519 private key")};
    ContextPointer context(EVP_MD_CTX_new());
    QByteArray signature(64, Qt::Uninitialized);
    size_t length = static_cast<size_t>(signature.size());
    if (!context || EVP_DigestSignInit(context.get(), nullptr, nullptr, nullptr, key.get()) != 1 ||
        EVP_DigestSign(context.get(), reinterpret_cast<unsigned char*>(signature.data()), &length, bytes(message),
                       static_cast<size_t>(message.size())) != 1 ||
        length != 64)
        return Error{QStringLiteral("signing failed")};
    return signature;
}

bool ed25519Verify(const QByteArray& message, const QByteArray& signature, const QByteArray& publicKey)
{
    if (publicKey.size() != 32 || signature.size() != 64)
        return false;
    KeyPointer key(EVP_PKEY_new_raw_public_key(EVP_PKEY_ED25519, nullptr, bytes(publicKey), 32));
    ContextPointer context(EVP_MD_CTX_new());
    if (!key || !context || EVP_DigestVerifyInit(context.get(), nullptr, nullptr, nullptr, key.get()) != 1)
        return false;
    return EVP_DigestVerify(context.get(), bytes(signature), static_cast<size_t>(signature.size()), bytes(message),
                            static_cast<size_t>(message.size())) == 1;
}

QByteArray ed25519PublicKeyFromPem(const QByteArray& pem)
{
    BioPointer bio(BIO_new_mem_buf(pem.constData(), static_cast<int>(pem.size())));
    if (!bio)
        return {};
    if (KeyPointer key{PEM_read_bio_PUBKEY(bio.get(), nullptr, nullptr, nullptr)})
        return rawPublicKey(key.get());
    const KeyPointer key = privateKeyFromPem(pem);
    return rawPublicKey(key.get());
}

}  // namespace nimbrel
