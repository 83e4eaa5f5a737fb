// The two extraction paths around the 500 MiB threshold, on real packages
// with payloads of exactly 524,288,000 and 524,288,001 bytes. Each case needs
// about 1.5 GB of free disk at its peak and runs for tens of seconds.
#include <gtest/gtest.h>

#include <chrono>

#include "ArchiveTestSupport.h"
#include "Log.h"
#include "PackageBuilder.h"
#include "TestSupport.h"
#include "UnpackPackage.h"

using namespace testing_support;
using namespace package_testing;

namespace {

bool MakeZeroFile(const std::wstring& path, uint64_t size) {
    HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    LARGE_INTEGER distance;
    distance.QuadPart = static_cast<LONGLONG>(size);
    const bool ok = SetFilePointerEx(file, distance, nullptr, FILE_BEGIN) && SetEndOfFile(file);
    CloseHandle(file);
    return ok;
}

// Builds a stored (level 0) package whose payload is exactly payloadSize
// bytes: the archive's overhead is measured and the content resized.
bool BuildPackageWithPayload(const std::wstring& package, const std::wstring& work, uint64_t payloadSize,
                             uint64_t& contentSize) {
    const std::wstring source = work + L"\\src";
    CreateDirectoryW(source.c_str(), nullptr);
    uint64_t content = payloadSize - 200;
    for (int attempt = 0; attempt < 4; ++attempt) {
        if (!MakeZeroFile(source + L"\\payload.bin", content)) return false;
        PackageBuildOptions options;
        options.sourceFolder = source;
        options.output = package;
        options.level = "0";
        PackageHeader::SetFieldText(options.header.productName, "Orvane");
        std::string error;
        if (!BuildPackage(options, error)) return false;
        PackageHeader header;
        if (FAILED(ReadPackageHeader(package.c_str(), header))) return false;
        if (header.archiveSize == payloadSize) {
            contentSize = content;
            DeleteFileW((source + L"\\payload.bin").c_str());
            return true;
        }
        content += payloadSize - header.archiveSize;  // wraps as signed arithmetic would
    }
    return false;
}

bool IsZeroFileOfSize(const std::wstring& path, uint64_t size) {
    HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    std::vector<char> chunk(1 << 20);
    uint64_t total = 0;
    bool zero = true;
    DWORD n = 0;
    while (zero && ReadFile(file, chunk.data(), static_cast<DWORD>(chunk.size()), &n, nullptr) && n > 0) {
        for (DWORD i = 0; i < n; ++i)
            if (chunk[i]) zero = false;
        total += n;
    }
    CloseHandle(file);
    return zero && total == size;
}

struct ThresholdCase {
    const char* name;
    uint64_t payloadSize;
    const char* branchLine;
};

void PrintTo(const ThresholdCase& c, std::ostream* os) { *os << c.name; }

class LargeUnpackTest : public ::testing::TestWithParam<ThresholdCase> {};

}  // namespace

TEST_P(LargeUnpackTest, ExtractsThroughTheBranchOfItsSize) {
    const ThresholdCase& c = GetParam();
    ScratchFolder folder(L"large");
    ILog::GetInstance()->Init(folder / L"install.log");
    const std::wstring package = folder / L"setup.exe";
    const auto built = std::chrono::steady_clock::now();
    uint64_t contentSize = 0;
    ASSERT_TRUE(BuildPackageWithPayload(package, folder.path(), c.payloadSize, contentSize));
    const auto start = std::chrono::steady_clock::now();

    const std::wstring target = folder / L"out";
    std::vector<std::pair<int, unsigned>> milestones;
    ProgressCallback callback = [&](int event, unsigned value, long) {
        if (event != E_Unpack_Progress) milestones.emplace_back(event, value);
        return 0;
    };
    ASSERT_EQ(UnpackPackage(package.c_str(), callback, target.c_str(), true, true), S_OK);
    const auto end = std::chrono::steady_clock::now();
    printf("build %.1f s, unpack %.1f s\n", std::chrono::duration<double>(start - built).count(),
           std::chrono::duration<double>(end - start).count());

    EXPECT_NE(ReadFileBytes(folder / L"install.log").find(c.branchLine), std::string::npos);
    EXPECT_EQ(milestones.front(), std::make_pair(int(E_Unpack_Start), 0u));
    EXPECT_EQ(milestones.back(), std::make_pair(int(E_Unpack_Succeed), 0u));
    EXPECT_TRUE(IsZeroFileOfSize(target + L"\\payload.bin", contentSize));
    EXPECT_FALSE(FolderExists(TempFolder() + L"\\tarvex_7z"));
}

INSTANTIATE_TEST_SUITE_P(
    Threshold, LargeUnpackTest,
    ::testing::Values(ThresholdCase{"ExactlyTheLimitGoesThroughMemory", 524288000ull, "Unpack file use buffer."},
                      ThresholdCase{"OneByteMoreGoesThroughTheTemporaryFile", 524288001ull, "Unpack file use File."}),
    [](const ::testing::TestParamInfo<ThresholdCase>& info) { return std::string(info.param.name); });
