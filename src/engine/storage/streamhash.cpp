#include "engine/storage/streamhash.h"

// One half per system; _WIN32 rather than Q_OS_WIN because this file stays free of Qt.
#ifdef _WIN32

#include <windows.h>

#include <bcrypt.h>

struct StreamHash::State {
    BCRYPT_ALG_HANDLE provider = nullptr;
    BCRYPT_HASH_HANDLE hash = nullptr;
    bool failed = false;
};

StreamHash::StreamHash(Algorithm algorithm)
{
    const wchar_t *name = algorithm == Md5      ? BCRYPT_MD5_ALGORITHM
                          : algorithm == Sha1   ? BCRYPT_SHA1_ALGORITHM
                          : algorithm == Sha512 ? BCRYPT_SHA512_ALGORITHM
                                                : BCRYPT_SHA256_ALGORITHM;
    auto *s = new State;
    // The hash object's memory is the system's to manage (a null buffer, Windows 7 on).
    if (BCRYPT_SUCCESS(BCryptOpenAlgorithmProvider(&s->provider, name, nullptr, 0)) &&
        BCRYPT_SUCCESS(BCryptCreateHash(s->provider, &s->hash, nullptr, 0, nullptr, 0, 0))) {
        state = s;
        return;
    }
    if (s->provider)
        BCryptCloseAlgorithmProvider(s->provider, 0);
    delete s;
}

StreamHash::~StreamHash()
{
    if (!state)
        return;
    BCryptDestroyHash(state->hash);
    BCryptCloseAlgorithmProvider(state->provider, 0);
    delete state;
}

void StreamHash::add(const void *data, std::size_t size)
{
    if (!state || state->failed)
        return;
    auto *bytes = static_cast<const unsigned char *>(data);
    while (size > 0) {
        // BCrypt counts in ULONG; a larger piece goes in several calls.
        const ULONG piece = size > 0x40000000u ? 0x40000000u : ULONG(size);
        if (!BCRYPT_SUCCESS(BCryptHashData(state->hash, const_cast<PUCHAR>(bytes), piece, 0))) {
            state->failed = true;
            return;
        }
        bytes += piece;
        size -= piece;
    }
}

std::string StreamHash::result()
{
    if (!state || state->failed)
        return std::string();
    DWORD length = 0;
    ULONG got = 0;
    if (!BCRYPT_SUCCESS(BCryptGetProperty(state->hash, BCRYPT_HASH_LENGTH,
                                          reinterpret_cast<PUCHAR>(&length), sizeof length, &got,
                                          0)))
        return std::string();
    std::string digest(length, '\0');
    if (!BCRYPT_SUCCESS(
            BCryptFinishHash(state->hash, reinterpret_cast<PUCHAR>(&digest[0]), length, 0)))
        return std::string();
    state->failed = true; // spent
    return digest;
}

#else

#include <openssl/evp.h>

struct StreamHash::State {
    EVP_MD_CTX *context = nullptr;
    bool failed = false;
};

StreamHash::StreamHash(Algorithm algorithm)
{
    const EVP_MD *md = algorithm == Md5      ? EVP_md5()
                       : algorithm == Sha1   ? EVP_sha1()
                       : algorithm == Sha512 ? EVP_sha512()
                                             : EVP_sha256();
    EVP_MD_CTX *context = EVP_MD_CTX_new();
    // MD5 may be missing from a system whose OpenSSL runs in FIPS mode: then no digest at all.
    if (context && md && EVP_DigestInit_ex(context, md, nullptr) == 1) {
        state = new State{context};
        return;
    }
    EVP_MD_CTX_free(context);
}

StreamHash::~StreamHash()
{
    if (!state)
        return;
    EVP_MD_CTX_free(state->context);
    delete state;
}

void StreamHash::add(const void *data, std::size_t size)
{
    if (state && !state->failed && EVP_DigestUpdate(state->context, data, size) != 1)
        state->failed = true;
}

std::string StreamHash::result()
{
    if (!state || state->failed)
        return std::string();
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    state->failed = EVP_DigestFinal_ex(state->context, digest, &length) != 1;
    if (state->failed)
        return std::string();
    state->failed = true; // spent
    return std::string(reinterpret_cast<const char *>(digest), length);
}

#endif
