// mkpackage: builds a setup package from a folder.
//   mkpackage --source DIR --out FILE [--uninstaller FILE] [--level 0-9]
//             [--folder-name T] [--product-name T] [--version T]
//             [--display-name T] [--release-date YYYY-MM-DD] [--info-url T]
//             [--publisher T] [--x64]
#include <windows.h>

#include <cstdio>
#include <cwchar>
#include <map>
#include <string>

#include "PackageBuilder.h"
#include "Text.h"

namespace {

int Usage() {
    fprintf(stderr,
            "usage: mkpackage --source DIR --out FILE [--uninstaller FILE] [--level 0-9]\n"
            "                 [--folder-name T] [--product-name T] [--version T] [--display-name T]\n"
            "                 [--release-date YYYY-MM-DD] [--info-url T] [--publisher T] [--x64]\n");
    return 2;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    PackageBuildOptions options;
    PackageHeader& h = options.header;
    for (int i = 1; i < argc; ++i) {
        const std::wstring name = argv[i];
        if (name == L"--x64") {
            h.isX64 = 1;
            continue;
        }
        if (i + 1 >= argc) return Usage();
        const std::wstring value = argv[++i];
        const std::string text = WideToNarrow(value);
        if (name == L"--source") options.sourceFolder = value;
        else if (name == L"--out") options.output = value;
        else if (name == L"--uninstaller") options.uninstaller = value;
        else if (name == L"--level") options.level = text;
        else if (name == L"--folder-name") PackageHeader::SetFieldText(h.installFolderName, text);
        else if (name == L"--product-name") PackageHeader::SetFieldText(h.productName, text);
        else if (name == L"--version") PackageHeader::SetFieldText(h.version, text);
        else if (name == L"--display-name") PackageHeader::SetFieldText(h.displayName, text);
        else if (name == L"--release-date") PackageHeader::SetFieldText(h.releaseDate, text);
        else if (name == L"--info-url") PackageHeader::SetFieldText(h.infoUrl, text);
        else if (name == L"--publisher") PackageHeader::SetFieldText(h.publisherText, text);
        else return Usage();
    }
    if (options.sourceFolder.empty() || options.output.empty() || options.level.size() != 1 ||
        options.level[0] < '0' || options.level[0] > '9')
        return Usage();
    std::string error;
    if (!BuildPackage(options, error)) {
        fprintf(stderr, "mkpackage: %s\n", error.c_str());
        return 1;
    }
    printf("mkpackage: %ls\n", options.output.c_str());
    return 0;
}
