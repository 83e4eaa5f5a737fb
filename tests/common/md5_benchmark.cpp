// Prints the MD5 throughput of Md5Hasher over one file: whole-file digest by
// stream (1024-byte reads) and from memory. Not a test; see md5_benchmark.sh.
#include <windows.h>

#include <cstdio>
#include <string>
#include <vector>

#include "Digest.h"

namespace {

double Seconds(const LARGE_INTEGER& start, const LARGE_INTEGER& end, const LARGE_INTEGER& frequency) {
    return double(end.QuadPart - start.QuadPart) / double(frequency.QuadPart);
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc < 2) {
        fprintf(stderr, "usage: md5_benchmark FILE\n");
        return 2;
    }
    LARGE_INTEGER frequency, start, end;
    QueryPerformanceFrequency(&frequency);

    FILE* stream = _wfopen(argv[1], L"rb");
    if (!stream) {
        fprintf(stderr, "cannot open the file\n");
        return 1;
    }
    _fseeki64(stream, 0, SEEK_END);
    const long long size = _ftelli64(stream);
    _fseeki64(stream, 0, SEEK_SET);

    Md5Hasher hasher;
    unsigned char digest[16];
    QueryPerformanceCounter(&start);
    hasher.HashStream(stream, digest);
    QueryPerformanceCounter(&end);
    const double streamSeconds = Seconds(start, end, frequency);
    const std::string streamHex = hasher.ToHexString();

    // The same bytes from memory, without the C runtime's reads.
    std::vector<unsigned char> bytes(static_cast<size_t>(size));
    _fseeki64(stream, 0, SEEK_SET);
    const size_t got = fread(bytes.data(), 1, bytes.size(), stream);
    fclose(stream);
    QueryPerformanceCounter(&start);
    hasher.HashBuffer(bytes.data(), got, digest);
    QueryPerformanceCounter(&end);
    const double bufferSeconds = Seconds(start, end, frequency);

    const double mib = size / 1048576.0;
    printf("Md5Hasher::HashStream  %8.1f MiB/s  %6.3f s  %s\n", mib / streamSeconds, streamSeconds, streamHex.c_str());
    printf("Md5Hasher::HashBuffer  %8.1f MiB/s  %6.3f s  %s\n", mib / bufferSeconds, bufferSeconds,
           hasher.ToHexString().c_str());
    return 0;
}
