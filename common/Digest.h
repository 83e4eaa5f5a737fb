// MD5 (RFC 1321), the whole-file and per-block digests the download check
// uses, and Base64 (RFC 4648, standard alphabet).
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

// The running state of one MD5 computation.
struct Md5Context {
    uint32_t count[2];   // bits hashed so far, low word then high word
    uint32_t state[4];   // chaining values A, B, C, D
    unsigned char buffer[64];  // input not yet forming a whole block
};

// Computes MD5 digests and keeps the last one. The context of a computation
// lives with the caller, so one object can be reused.
class Md5Hasher {
public:
    Md5Hasher();

    static void Init(Md5Context& context);
    static void Update(Md5Context& context, const void* bytes, size_t length);
    static void Final(Md5Context& context, unsigned char digest[16]);
    static void Transform(uint32_t state[4], const unsigned char block[64]);

    // Digest of the buffer, also kept in the object.
    void HashBuffer(const void* bytes, size_t length, unsigned char digest[16]);
    // 1 and the digest of the stream from its position to its end (the
    // stream is left at its end); 0 for a null stream.
    int HashStream(FILE* stream, unsigned char digest[16]);
    // 1 and the digest of the whole file; 0 when it is missing or cannot be
    // opened. The narrow path is in the ANSI code page; files are always
    // opened by their wide path.
    int HashFile(const char* path, unsigned char digest[16]);
    int HashFile(const wchar_t* path, unsigned char digest[16]);

    // The last digest as 32 lower-case hex characters.
    std::string ToHexString() const;
    const unsigned char* GetDigest() const { return digest_; }

private:
    unsigned char digest_[16];
};

extern const std::string Base64Alphabet;

// Base64 of the bytes, padded with '=', without line breaks.
std::string Base64Encode(const void* bytes, size_t length);

// 1 and the MD5 of the whole stream as 32 upper-case hex characters and a NUL
// in buffer; 0 for a null stream or a buffer under 33 bytes. The stream's
// position is kept.
int GetFileHash(FILE* stream, char* buffer, size_t size);

// 1 and the upper-case MD5 of every blockSize bytes of the stream (the last
// block may be shorter) appended to hashes; 0 for a null stream or a zero
// block size. The stream's position is kept.
int GetFileBlockHashes(FILE* stream, size_t blockSize, std::vector<std::string>& hashes);
