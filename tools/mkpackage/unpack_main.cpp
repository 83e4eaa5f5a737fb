// unpackpackage: runs the unpack step on a package, as the installer does,
// and prints the result and the time it took.
//   unpackpackage PACKAGE FOLDER
#include <windows.h>

#include <cstdio>

#include "UnpackPackage.h"

int wmain(int argc, wchar_t** argv) {
    if (argc != 3) {
        fprintf(stderr, "usage: unpackpackage PACKAGE FOLDER\n");
        return 2;
    }
    LARGE_INTEGER frequency, start, end;
    QueryPerformanceFrequency(&frequency);
    QueryPerformanceCounter(&start);
    const HRESULT result = UnpackPackage(argv[1], nullptr, argv[2], true, true);
    QueryPerformanceCounter(&end);
    const double ms = 1000.0 * static_cast<double>(end.QuadPart - start.QuadPart) / static_cast<double>(frequency.QuadPart);
    printf("unpack: result 0x%08lX, error %s, %.0f ms\n", static_cast<unsigned long>(result), GetPackageErrorName(), ms);
    return SUCCEEDED(result) ? 0 : 1;
}
