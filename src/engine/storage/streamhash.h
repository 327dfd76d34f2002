#pragma once

#include <cstddef>
#include <string>

// The digest of bytes handed in pieces, computed by the system's own cryptography: OpenSSL's EVP
// where Qt's TLS uses OpenSSL, CNG's BCrypt on Windows. Both use the processor's SHA instructions
// where it has them, which makes a large file's digest about as fast as reading it (Qt's own hash
// computes in plain C++, at a fraction of that speed).
//
// Plain C++ without Qt, so that each system's half builds and is checked on its own.
class StreamHash {
public:
    enum Algorithm { Md5, Sha1, Sha256, Sha512 };

    explicit StreamHash(Algorithm algorithm);
    ~StreamHash();
    StreamHash(const StreamHash &) = delete;
    StreamHash &operator=(const StreamHash &) = delete;

    // False when the system refused the algorithm; nothing is then computed and the result is
    // empty.
    bool isValid() const { return state != nullptr; }
    void add(const void *data, std::size_t size);
    // The raw digest of everything added; the hash is spent afterwards.
    std::string result();

private:
    struct State;
    State *state = nullptr;
};
