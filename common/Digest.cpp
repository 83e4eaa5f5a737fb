#include "Digest.h"

#include <windows.h>
#include <shlwapi.h>

#include <cstring>
#include <memory>

#include "Handles.h"
#include "Text.h"

namespace {

constexpr size_t kStreamChunk = 1024;

inline uint32_t RotateLeft(uint32_t x, int n) { return (x << n) | (x >> (32 - n)); }

inline uint32_t F(uint32_t x, uint32_t y, uint32_t z) { return (x & y) | (~x & z); }
inline uint32_t G(uint32_t x, uint32_t y, uint32_t z) { return (x & z) | (y & ~z); }
inline uint32_t H(uint32_t x, uint32_t y, uint32_t z) { return x ^ y ^ z; }
inline uint32_t I(uint32_t x, uint32_t y, uint32_t z) { return y ^ (x | ~z); }

inline void FF(uint32_t& a, uint32_t b, uint32_t c, uint32_t d, uint32_t x, int s, uint32_t ac) {
    a = RotateLeft(a + F(b, c, d) + x + ac, s) + b;
}
inline void GG(uint32_t& a, uint32_t b, uint32_t c, uint32_t d, uint32_t x, int s, uint32_t ac) {
    a = RotateLeft(a + G(b, c, d) + x + ac, s) + b;
}
inline void HH(uint32_t& a, uint32_t b, uint32_t c, uint32_t d, uint32_t x, int s, uint32_t ac) {
    a = RotateLeft(a + H(b, c, d) + x + ac, s) + b;
}
inline void II(uint32_t& a, uint32_t b, uint32_t c, uint32_t d, uint32_t x, int s, uint32_t ac) {
    a = RotateLeft(a + I(b, c, d) + x + ac, s) + b;
}

void EncodeLittleEndian(unsigned char* out, const uint32_t* in, size_t words) {
    for (size_t i = 0; i < words; ++i) {
        out[i * 4] = static_cast<unsigned char>(in[i]);
        out[i * 4 + 1] = static_cast<unsigned char>(in[i] >> 8);
        out[i * 4 + 2] = static_cast<unsigned char>(in[i] >> 16);
        out[i * 4 + 3] = static_cast<unsigned char>(in[i] >> 24);
    }
}

std::string HexDigest(const unsigned char digest[16], bool upper) {
    static const char kLower[] = "0123456789abcdef";
    static const char kUpper[] = "0123456789ABCDEF";
    const char* digits = upper ? kUpper : kLower;
    std::string hex(32, '0');
    for (int i = 0; i < 16; ++i) {
        hex[i * 2] = digits[digest[i] >> 4];
        hex[i * 2 + 1] = digits[digest[i] & 0x0f];
    }
    return hex;
}

// Positions beyond 2 GiB must survive the round trip, so 64-bit offsets.
struct StreamPositionKeeper {
    explicit StreamPositionKeeper(FILE* s) : stream(s), position(_ftelli64(s)) {}
    ~StreamPositionKeeper() {
        if (position >= 0) _fseeki64(stream, position, SEEK_SET);
    }
    FILE* stream;
    int64_t position;
};

}  // namespace

const std::string Base64Alphabet = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

Md5Hasher::Md5Hasher() { std::memset(digest_, 0, sizeof(digest_)); }

void Md5Hasher::Init(Md5Context& context) {
    context.count[0] = context.count[1] = 0;
    context.state[0] = 0x67452301;
    context.state[1] = 0xefcdab89;
    context.state[2] = 0x98badcfe;
    context.state[3] = 0x10325476;
    std::memset(context.buffer, 0, sizeof(context.buffer));
}

void Md5Hasher::Update(Md5Context& context, const void* bytes, size_t length) {
    const unsigned char* input = static_cast<const unsigned char*>(bytes);
    size_t index = (context.count[0] >> 3) & 0x3f;

    // The bit count is 64 bits wide: the low word overflows at 512 MiB, and
    // its carry must reach the high word or every larger file hashes wrong.
    const uint64_t bits = (static_cast<uint64_t>(context.count[1]) << 32 | context.count[0]) +
                          (static_cast<uint64_t>(length) << 3);
    context.count[0] = static_cast<uint32_t>(bits);
    context.count[1] = static_cast<uint32_t>(bits >> 32);

    const size_t partLength = 64 - index;
    size_t i = 0;
    if (length >= partLength) {
        std::memcpy(&context.buffer[index], input, partLength);
        Transform(context.state, context.buffer);
        for (i = partLength; i + 63 < length; i += 64) Transform(context.state, &input[i]);
        index = 0;
    }
    if (length > i) std::memcpy(&context.buffer[index], &input[i], length - i);
}

void Md5Hasher::Final(Md5Context& context, unsigned char digest[16]) {
    static const unsigned char kPadding[64] = {0x80};
    unsigned char bits[8];
    EncodeLittleEndian(bits, context.count, 2);

    const size_t index = (context.count[0] >> 3) & 0x3f;
    const size_t padLength = index < 56 ? 56 - index : 120 - index;
    Update(context, kPadding, padLength);
    Update(context, bits, 8);
    EncodeLittleEndian(digest, context.state, 4);
    std::memset(&context, 0, sizeof(context));
}

void Md5Hasher::Transform(uint32_t state[4], const unsigned char block[64]) {
    uint32_t a = state[0], b = state[1], c = state[2], d = state[3];
    uint32_t x[16];
    for (int i = 0; i < 16; ++i)
        x[i] = uint32_t(block[i * 4]) | uint32_t(block[i * 4 + 1]) << 8 | uint32_t(block[i * 4 + 2]) << 16 |
               uint32_t(block[i * 4 + 3]) << 24;

    // Round 1
    FF(a, b, c, d, x[0], 7, 0xd76aa478);
    FF(d, a, b, c, x[1], 12, 0xe8c7b756);
    FF(c, d, a, b, x[2], 17, 0x242070db);
    FF(b, c, d, a, x[3], 22, 0xc1bdceee);
    FF(a, b, c, d, x[4], 7, 0xf57c0faf);
    FF(d, a, b, c, x[5], 12, 0x4787c62a);
    FF(c, d, a, b, x[6], 17, 0xa8304613);
    FF(b, c, d, a, x[7], 22, 0xfd469501);
    FF(a, b, c, d, x[8], 7, 0x698098d8);
    FF(d, a, b, c, x[9], 12, 0x8b44f7af);
    FF(c, d, a, b, x[10], 17, 0xffff5bb1);
    FF(b, c, d, a, x[11], 22, 0x895cd7be);
    FF(a, b, c, d, x[12], 7, 0x6b901122);
    FF(d, a, b, c, x[13], 12, 0xfd987193);
    FF(c, d, a, b, x[14], 17, 0xa679438e);
    FF(b, c, d, a, x[15], 22, 0x49b40821);

    // Round 2
    GG(a, b, c, d, x[1], 5, 0xf61e2562);
    GG(d, a, b, c, x[6], 9, 0xc040b340);
    GG(c, d, a, b, x[11], 14, 0x265e5a51);
    GG(b, c, d, a, x[0], 20, 0xe9b6c7aa);
    GG(a, b, c, d, x[5], 5, 0xd62f105d);
    GG(d, a, b, c, x[10], 9, 0x02441453);
    GG(c, d, a, b, x[15], 14, 0xd8a1e681);
    GG(b, c, d, a, x[4], 20, 0xe7d3fbc8);
    GG(a, b, c, d, x[9], 5, 0x21e1cde6);
    GG(d, a, b, c, x[14], 9, 0xc33707d6);
    GG(c, d, a, b, x[3], 14, 0xf4d50d87);
    GG(b, c, d, a, x[8], 20, 0x455a14ed);
    GG(a, b, c, d, x[13], 5, 0xa9e3e905);
    GG(d, a, b, c, x[2], 9, 0xfcefa3f8);
    GG(c, d, a, b, x[7], 14, 0x676f02d9);
    GG(b, c, d, a, x[12], 20, 0x8d2a4c8a);

    // Round 3
    HH(a, b, c, d, x[5], 4, 0xfffa3942);
    HH(d, a, b, c, x[8], 11, 0x8771f681);
    HH(c, d, a, b, x[11], 16, 0x6d9d6122);
    HH(b, c, d, a, x[14], 23, 0xfde5380c);
    HH(a, b, c, d, x[1], 4, 0xa4beea44);
    HH(d, a, b, c, x[4], 11, 0x4bdecfa9);
    HH(c, d, a, b, x[7], 16, 0xf6bb4b60);
    HH(b, c, d, a, x[10], 23, 0xbebfbc70);
    HH(a, b, c, d, x[13], 4, 0x289b7ec6);
    HH(d, a, b, c, x[0], 11, 0xeaa127fa);
    HH(c, d, a, b, x[3], 16, 0xd4ef3085);
    HH(b, c, d, a, x[6], 23, 0x04881d05);
    HH(a, b, c, d, x[9], 4, 0xd9d4d039);
    HH(d, a, b, c, x[12], 11, 0xe6db99e5);
    HH(c, d, a, b, x[15], 16, 0x1fa27cf8);
    HH(b, c, d, a, x[2], 23, 0xc4ac5665);

    // Round 4
    II(a, b, c, d, x[0], 6, 0xf4292244);
    II(d, a, b, c, x[7], 10, 0x432aff97);
    II(c, d, a, b, x[14], 15, 0xab9423a7);
    II(b, c, d, a, x[5], 21, 0xfc93a039);
    II(a, b, c, d, x[12], 6, 0x655b59c3);
    II(d, a, b, c, x[3], 10, 0x8f0ccc92);
    II(c, d, a, b, x[10], 15, 0xffeff47d);
    II(b, c, d, a, x[1], 21, 0x85845dd1);
    II(a, b, c, d, x[8], 6, 0x6fa87e4f);
    II(d, a, b, c, x[15], 10, 0xfe2ce6e0);
    II(c, d, a, b, x[6], 15, 0xa3014314);
    II(b, c, d, a, x[13], 21, 0x4e0811a1);
    II(a, b, c, d, x[4], 6, 0xf7537e82);
    II(d, a, b, c, x[11], 10, 0xbd3af235);
    II(c, d, a, b, x[2], 15, 0x2ad7d2bb);
    II(b, c, d, a, x[9], 21, 0xeb86d391);

    state[0] += a;
    state[1] += b;
    state[2] += c;
    state[3] += d;
}

void Md5Hasher::HashBuffer(const void* bytes, size_t length, unsigned char digest[16]) {
    Md5Context context;
    Init(context);
    Update(context, bytes, length);
    Final(context, digest_);
    std::memcpy(digest, digest_, sizeof(digest_));
}

int Md5Hasher::HashStream(FILE* stream, unsigned char digest[16]) {
    if (!stream) return 0;
    Md5Context context;
    Init(context);
    unsigned char chunk[kStreamChunk];
    size_t got;
    while ((got = fread(chunk, 1, sizeof(chunk), stream)) > 0) Update(context, chunk, got);
    Final(context, digest_);
    std::memcpy(digest, digest_, sizeof(digest_));
    return 1;
}

int Md5Hasher::HashFile(const char* path, unsigned char digest[16]) {
    if (!path) return 0;
    return HashFile(NarrowToWide(path).c_str(), digest);
}

int Md5Hasher::HashFile(const wchar_t* path, unsigned char digest[16]) {
    if (!path || !PathFileExistsW(path)) return 0;
    UniqueFile stream(_wfopen(path, L"rb"));
    if (!stream) return 0;  // exists but cannot be opened (locked, a folder, no access)
    return HashStream(stream.get(), digest);
}

std::string Md5Hasher::ToHexString() const { return HexDigest(digest_, false); }

std::string Base64Encode(const void* bytes, size_t length) {
    const unsigned char* in = static_cast<const unsigned char*>(bytes);
    std::string out;
    out.reserve((length + 2) / 3 * 4);
    size_t i = 0;
    for (; i + 2 < length; i += 3) {
        const uint32_t group = uint32_t(in[i]) << 16 | uint32_t(in[i + 1]) << 8 | in[i + 2];
        out += Base64Alphabet[(group >> 18) & 0x3f];
        out += Base64Alphabet[(group >> 12) & 0x3f];
        out += Base64Alphabet[(group >> 6) & 0x3f];
        out += Base64Alphabet[group & 0x3f];
    }
    if (length - i == 1) {
        const uint32_t group = uint32_t(in[i]) << 16;
        out += Base64Alphabet[(group >> 18) & 0x3f];
        out += Base64Alphabet[(group >> 12) & 0x3f];
        out += "==";
    } else if (length - i == 2) {
        const uint32_t group = uint32_t(in[i]) << 16 | uint32_t(in[i + 1]) << 8;
        out += Base64Alphabet[(group >> 18) & 0x3f];
        out += Base64Alphabet[(group >> 12) & 0x3f];
        out += Base64Alphabet[(group >> 6) & 0x3f];
        out += '=';
    }
    return out;
}

int GetFileHash(FILE* stream, char* buffer, size_t size) {
    if (!stream || !buffer || size < 33) return 0;
    StreamPositionKeeper keeper(stream);
    _fseeki64(stream, 0, SEEK_SET);
    std::memset(buffer, 0, size);
    Md5Hasher hasher;
    unsigned char digest[16];
    hasher.HashStream(stream, digest);
    const std::string hex = HexDigest(digest, true);
    std::memcpy(buffer, hex.c_str(), hex.size() + 1);
    return 1;
}

int GetFileBlockHashes(FILE* stream, size_t blockSize, std::vector<std::string>& hashes) {
    // A zero block size would never advance.
    if (!stream || blockSize == 0) return 0;
    StreamPositionKeeper keeper(stream);
    _fseeki64(stream, 0, SEEK_SET);
    std::unique_ptr<unsigned char[]> block(new unsigned char[blockSize]());
    Md5Hasher hasher;
    unsigned char digest[16];
    size_t got;
    while ((got = fread(block.get(), 1, blockSize, stream)) > 0) {
        hasher.HashBuffer(block.get(), got, digest);
        hashes.push_back(HexDigest(digest, true));
    }
    return 1;
}
