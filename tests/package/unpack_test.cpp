// The unpack step on packages made by the package builder, and on crafted
// ones made from them.
#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <mutex>
#include <set>
#include <thread>

#include "ArchiveEntry.h"
#include "ArchiveTestSupport.h"
#include "Handles.h"
#include "JFile.h"
#include "Log.h"
#include "PackageHeader.h"
#include "TestSupport.h"
#include "Text.h"
#include "UnpackPackage.h"

using namespace testing_support;
using namespace package_testing;

namespace {

using Events = std::vector<std::pair<int, unsigned>>;

// Progress may arrive from the archiver's decoder threads: each event is
// recorded under a lock.
ProgressCallback Record(Events& events) {
    auto lock = std::make_shared<std::mutex>();
    return [&events, lock](int event, unsigned value, long extra) {
        EXPECT_EQ(extra, 0);
        std::lock_guard<std::mutex> guard(*lock);
        events.emplace_back(event, value);
        return 0;
    };
}

// Events without the progress ones.
Events Milestones(const Events& events) {
    Events out;
    for (const auto& e : events)
        if (e.first != E_Unpack_Progress) out.push_back(e);
    return out;
}


const std::string kUninstaller = "MZ\x90\x00 the uninstaller image" + std::string(5000, 'u');

class UnpackTest : public ::testing::Test {
protected:
    void SetUp() override {
        ILog::GetInstance()->Init(folder_ / L"install.log");
        tree_ = SampleTree();
        ASSERT_TRUE(BuildTestPackage(package_, folder_.path(), tree_, kUninstaller));
        bytes_ = ReadFileBytes(package_);
        tempBefore_ = RunnerTempEntries();
    }
    std::string Log() { return ReadFileBytes(folder_ / L"install.log"); }

    ScratchFolder folder_{L"unpack"};
    std::wstring package_ = folder_ / L"setup.exe";
    std::wstring target_ = folder_ / L"Program Files\\Orvane";
    FileTree tree_;
    std::string bytes_;
    std::set<std::wstring> tempBefore_;
};

}  // namespace

TEST_F(UnpackTest, ExtractsThePayloadAndWritesTheUninstallerFiles) {
    Events events;
    ASSERT_EQ(UnpackPackage(package_.c_str(), Record(events), target_.c_str(), true, true), S_OK);

    FileTree expected = tree_;
    expected[L"uninstall.exe"] = kUninstaller;
    const PackageHeader header = HeaderOf(bytes_);
    expected[L"uninstall.exe.bin"] = std::string(reinterpret_cast<const char*>(&header), 4096);
    EXPECT_EQ(ReadTree(target_), expected);
    EXPECT_EQ(GetInstallPath(), target_);

    EXPECT_EQ(Milestones(events), (Events{{E_Unpack_Start, 0}, {E_Unpack_Succeed, 0}}));
    ASSERT_GT(events.size(), 2u);
    EXPECT_EQ(events[events.size() - 2], std::make_pair(int(E_Unpack_Progress), 100u));
    EXPECT_TRUE(VerifyPackage(package_.c_str()));
    EXPECT_NE(Log().find("Unpack file use buffer."), std::string::npos);
    EXPECT_NE(Log().find("Finish unpack file."), std::string::npos);
    EXPECT_EQ(RunnerTempEntries(), tempBefore_);
}

// Unpacks one after the other leave no kernel handle behind (streams of the
// package and the extracted files, the archiver's threads), each into a
// folder of its own. The first two warm what the process keeps.
TEST_F(UnpackTest, RepeatedUnpacksLeaveNoHandles) {
    int round = 0;
    auto unpack = [&] {
        Events events;
        const std::wstring folder = target_ + L"\\round" + std::to_wstring(++round);
        ASSERT_EQ(UnpackPackage(package_.c_str(), Record(events), folder.c_str(), true, true), S_OK);
        EXPECT_EQ(Milestones(events), (Events{{E_Unpack_Start, 0}, {E_Unpack_Succeed, 0}}));
    };
    unpack();
    unpack();
    const DWORD before = ProcessHandleCount();
    ASSERT_GT(before, 0u) << "no handle counted";
    for (int i = 0; i < 5; ++i) unpack();
    const DWORD after = ProcessHandleCount();
    EXPECT_LE(after, before + 2) << "handles before " << before << ", after five more unpacks " << after;
    printf("process handles: %lu after the first unpack, %lu after five more\n", static_cast<unsigned long>(before),
           static_cast<unsigned long>(after));
}

TEST_F(UnpackTest, WithoutWriteUninstallerOnlyTheProductFilesAppear) {
    Events events;
    ASSERT_EQ(UnpackPackage(package_.c_str(), Record(events), target_.c_str(), true, false), S_OK);
    EXPECT_EQ(ReadTree(target_), tree_);
    EXPECT_EQ(Milestones(events).back(), std::make_pair(int(E_Unpack_Succeed), 0u));
}

TEST_F(UnpackTest, NonAsciiInstallFolder) {
    const std::wstring target = folder_ / L"Programme\\Orvane \u00c9dition \u00e0 \u00fc";
    ASSERT_EQ(UnpackPackage(package_.c_str(), nullptr, target.c_str(), true, true), S_OK);
    EXPECT_EQ(ReadFileBytes(target + L"\\readme.txt"), tree_[L"readme.txt"]);
    EXPECT_EQ(ReadFileBytes(target + L"\\uninstall.exe"), kUninstaller);
}

TEST_F(UnpackTest, NoFolderGivenUsesTheHeaderFolderBelowProgramFiles) {
    Events events;
    ASSERT_EQ(UnpackPackage(package_.c_str(), Record(events), nullptr, true, true), S_OK);
    const std::wstring chosen = GetInstallPath();
    EXPECT_EQ(chosen.substr(chosen.size() - 7), L"\\Orvane");
    EXPECT_EQ(ReadFileBytes(chosen + L"\\readme.txt"), tree_[L"readme.txt"]);
    RemoveTree(chosen);
}

struct CraftedCase {
    const char* name;
    void (*change)(PackageHeader& header, uint64_t length);
    int packageError;
    bool extracts;  // the product files are in place afterwards
};

void PrintTo(const CraftedCase& c, std::ostream* os) { *os << c.name; }

class CraftedPackageTest : public UnpackTest, public ::testing::WithParamInterface<CraftedCase> {};

TEST_P(CraftedPackageTest, FailsWithItsCodeOrSucceeds) {
    const CraftedCase& c = GetParam();
    PackageHeader header = HeaderOf(bytes_);
    c.change(header, bytes_.size());
    const std::wstring crafted = folder_ / L"crafted.exe";
    WriteFileBytes(crafted, WithHeader(bytes_, header));

    Events events;
    const HRESULT result = UnpackPackage(crafted.c_str(), Record(events), target_.c_str(), true, true);
    EXPECT_EQ(GetPackageError(), c.packageError);
    if (c.packageError == NoError) {
        EXPECT_EQ(result, S_OK);
        EXPECT_EQ(Milestones(events).back(), std::make_pair(int(E_Unpack_Succeed), 0u));
    } else {
        EXPECT_EQ(result, E_FAIL);
        EXPECT_EQ(Milestones(events).back(), std::make_pair(int(E_Unpack_Fail), unsigned(SetupFileError)));
        EXPECT_FALSE(FileExists(target_ + L"\\uninstall.exe"));
    }
    EXPECT_EQ(FileExists(target_ + L"\\readme.txt"), c.extracts);
    EXPECT_EQ(RunnerTempEntries(), tempBefore_);
}

INSTANTIATE_TEST_SUITE_P(
    Headers, CraftedPackageTest,
    ::testing::Values(
        CraftedCase{"WrongTagIsAccepted", [](PackageHeader& h, uint64_t) { memcpy(h.tag, "XXXXXXXX", 8); }, NoError,
                    true},
        CraftedCase{"EmptyUninstaller", [](PackageHeader& h, uint64_t) { h.uninstallerSize = 0; }, NoError, true},
        CraftedCase{"ArchiveRegionPastTheEnd",
                    [](PackageHeader& h, uint64_t length) { h.archiveSize = length - h.archiveOffset + 1; },
                    ReadFileError, false},
        CraftedCase{"ArchiveSizeWrapsAroundTwoToThe64",
                    [](PackageHeader& h, uint64_t) { h.archiveSize = ~0ull - h.archiveOffset + 2; }, ReadFileError,
                    false},
        CraftedCase{"ArchiveOffsetPastTheEnd", [](PackageHeader& h, uint64_t length) { h.archiveOffset = length + 1; },
                    ReadFileError, false},
        CraftedCase{"UninstallerRegionPastTheEnd",
                    [](PackageHeader& h, uint64_t length) { h.uninstallerOffset = length - h.uninstallerSize + 1; },
                    ReadFileError, false},
        CraftedCase{"UninstallerSizeFourGiB", [](PackageHeader& h, uint64_t) { h.uninstallerSize = 0xFFFFFFFFu; },
                    ReadFileError, false},
        CraftedCase{"UninstallerOffsetNearTwoToThe64",
                    [](PackageHeader& h, uint64_t) { h.uninstallerOffset = ~0ull - 10; }, ReadFileError, false},
        CraftedCase{"PayloadIsNoArchive", [](PackageHeader& h, uint64_t) { h.archiveOffset = 0; }, UnzipFileError,
                    false}),
    [](const ::testing::TestParamInfo<CraftedCase>& info) { return std::string(info.param.name); });

TEST_F(UnpackTest, EmptyUninstallerIsWrittenAsAnEmptyFile) {
    PackageHeader header = HeaderOf(bytes_);
    header.uninstallerSize = 0;
    WriteFileBytes(package_, WithHeader(bytes_, header));
    ASSERT_EQ(UnpackPackage(package_.c_str(), nullptr, target_.c_str(), true, true), S_OK);
    EXPECT_TRUE(FileExists(target_ + L"\\uninstall.exe"));
    EXPECT_EQ(ReadFileBytes(target_ + L"\\uninstall.exe"), "");
}

struct OffsetCase {
    const char* name;
    int64_t fromEnd;  // H = length - fromEnd, or the raw value below when fromEnd is 0
    uint64_t raw;
};

void PrintTo(const OffsetCase& c, std::ostream* os) { *os << c.name; }

class HeaderOffsetTest : public UnpackTest, public ::testing::WithParamInterface<OffsetCase> {};

TEST_P(HeaderOffsetTest, HeaderOutsideThePackageIsAnOffsetError) {
    const OffsetCase& c = GetParam();
    const uint64_t offset = c.fromEnd ? bytes_.size() - c.fromEnd : c.raw;
    std::string crafted = bytes_;
    crafted.replace(32, 8, reinterpret_cast<const char*>(&offset), 8);
    WriteFileBytes(package_, crafted);

    Events events;
    EXPECT_EQ(UnpackPackage(package_.c_str(), Record(events), target_.c_str(), true, true), E_FAIL);
    EXPECT_EQ(GetPackageError(), OffsetError);
    EXPECT_STREQ(GetPackageErrorName(), "OffsetError");
    EXPECT_EQ(events, (Events{{E_Unpack_Start, 0}, {E_Unpack_Fail, SetupFileError}}));
    EXPECT_NE(Log().find("Offset error 10006  Offset - "), std::string::npos);
}

INSTANTIATE_TEST_SUITE_P(Offsets, HeaderOffsetTest,
                         ::testing::Values(OffsetCase{"FourThousandNinetyFiveBeforeTheEnd", 4095, 0},
                                           OffsetCase{"PastTheEnd", -1, 0},
                                           OffsetCase{"NearTwoToThe64", 0, ~0ull - 1000},
                                           OffsetCase{"TwoToThe63", 0, 1ull << 63}),
                         [](const ::testing::TestParamInfo<OffsetCase>& info) { return std::string(info.param.name); });

TEST_F(UnpackTest, TruncatedPackageIsAnOffsetOrReadErrorAndExtractsNothing) {
    for (size_t keep : {size_t(100), size_t(5000), bytes_.size() - 10}) {
        WriteFileBytes(package_, bytes_.substr(0, keep));
        EXPECT_EQ(UnpackPackage(package_.c_str(), nullptr, target_.c_str(), true, true), E_FAIL) << keep;
        EXPECT_TRUE(GetPackageError() == OffsetError || GetPackageError() == ReadFileError) << keep;
        EXPECT_FALSE(FileExists(target_ + L"\\readme.txt")) << keep;
    }
}

TEST_F(UnpackTest, MissingPackageAndMissingPath) {
    Events events;
    EXPECT_EQ(UnpackPackage(nullptr, Record(events), target_.c_str(), true, true), E_POINTER);
    EXPECT_EQ(GetPackageError(), PointNull);
    EXPECT_STREQ(GetPackageErrorName(), "PointNull");
    EXPECT_TRUE(events.empty());

    const std::wstring missing = folder_ / L"missing.exe";
    EXPECT_EQ(UnpackPackage(missing.c_str(), Record(events), target_.c_str(), true, true), E_FAIL);
    EXPECT_EQ(GetPackageError(), -1);
    EXPECT_STREQ(GetPackageErrorName(), "-1");
    EXPECT_EQ(events, (Events{{E_Unpack_Start, 0}, {E_Unpack_Fail, SetupFileError}}));
    EXPECT_NE(Log().find("Open file error -1."), std::string::npos);
}

TEST_F(UnpackTest, FolderThatCannotBeMadeOrDoesNotFitIsADirWriteError) {
    // A file stands where a parent folder would have to be.
    WriteFileBytes(folder_ / L"blocker", "x");
    const std::wstring blocked = folder_ / L"blocker\\Orvane";
    Events events;
    EXPECT_EQ(UnpackPackage(package_.c_str(), Record(events), blocked.c_str(), true, true), E_FAIL);
    EXPECT_EQ(GetPackageError(), DirWriteError);
    EXPECT_EQ(events, (Events{{E_Unpack_Start, 0}, {E_Unpack_Fail, DirWriteError}}));
    EXPECT_EQ(GetInstallPath(), blocked);  // kept although the call failed

    const std::wstring tooLong = folder_.path() + L"\\" + std::wstring(300, L'd');
    events.clear();
    EXPECT_EQ(UnpackPackage(package_.c_str(), Record(events), tooLong.c_str(), true, true), E_FAIL);
    EXPECT_EQ(GetPackageError(), DirWriteError);
    EXPECT_EQ(events, (Events{{E_Unpack_Start, 0}, {E_Unpack_Fail, DirWriteError}}));
}

TEST_F(UnpackTest, UninstallerThatCannotBeWrittenFailsTheStep) {
    CreateDirectoryW((folder_ / L"Program Files").c_str(), nullptr);
    CreateDirectoryW(target_.c_str(), nullptr);
    CreateDirectoryW((target_ + L"\\uninstall.exe").c_str(), nullptr);  // a folder in the way
    Events events;
    EXPECT_EQ(UnpackPackage(package_.c_str(), Record(events), target_.c_str(), true, true), E_FAIL);
    EXPECT_EQ(GetPackageError(), InstallFileError);
    EXPECT_STREQ(GetPackageErrorName(), "InstallFileError");
    EXPECT_EQ(Milestones(events).back(), std::make_pair(int(E_Unpack_Fail), unsigned(SetupFileError)));
    EXPECT_NE(Log().find("Write uninstall file error."), std::string::npos);

    // The same for the header file beside it.
    RemoveTree(target_);
    CreateDirectoryW(target_.c_str(), nullptr);
    CreateDirectoryW((target_ + L"\\uninstall.exe.bin").c_str(), nullptr);
    EXPECT_EQ(UnpackPackage(package_.c_str(), nullptr, target_.c_str(), true, true), E_FAIL);
    EXPECT_EQ(GetPackageError(), InstallFileError);
}

TEST_F(UnpackTest, PasswordProtectedPayloadFailsAfterThePasswordRequest) {
    ScratchFolder work(L"unpack-enc");
    WriteTree(work / L"src", tree_);
    ASSERT_TRUE(MakeArchive(work / L"enc.7z", work / L"src", L"secret"));
    // Swap the payload for the encrypted archive, keeping the layout.
    const std::string encrypted = ReadFileBytes(work / L"enc.7z");
    PackageHeader header = HeaderOf(bytes_);
    std::string crafted = bytes_.substr(0, static_cast<size_t>(header.archiveOffset)) + encrypted;
    header.archiveSize = encrypted.size();
    header.uninstallerOffset = crafted.size();
    crafted += kUninstaller;
    WriteFileBytes(package_, WithHeader(crafted, header));

    Events events;
    EXPECT_EQ(UnpackPackage(package_.c_str(), Record(events), target_.c_str(), true, true), E_FAIL);
    EXPECT_EQ(GetPackageError(), UnzipFileError);
    const Events milestones = Milestones(events);
    ASSERT_GE(milestones.size(), 4u);
    EXPECT_EQ(milestones[1], std::make_pair(int(E_Unpack_ArchiveEvent), unsigned(E_Arc_PasswordRequested)));
    EXPECT_EQ(milestones[milestones.size() - 2], std::make_pair(int(E_Unpack_ArchiveEvent), unsigned(E_Arc_RunnerFailed)));
    EXPECT_EQ(milestones.back(), std::make_pair(int(E_Unpack_Fail), unsigned(SetupFileError)));
    EXPECT_NE(Log().find("UnZip error :Read 7z file error."), std::string::npos);
    EXPECT_FALSE(FileExists(target_ + L"\\uninstall.exe"));
    EXPECT_EQ(RunnerTempEntries(), tempBefore_);
}

TEST_F(UnpackTest, CorruptPayloadReportsTheArchiverEventsAndFails) {
    const PackageHeader header = HeaderOf(bytes_);
    std::string crafted = bytes_;
    // Inside the packed streams of the payload: after its signature header.
    for (size_t i = 0; i < 64; ++i) crafted[static_cast<size_t>(header.archiveOffset) + 32 + 70000 + i] ^= 0x5a;
    WriteFileBytes(package_, crafted);

    Events events;
    EXPECT_EQ(UnpackPackage(package_.c_str(), Record(events), target_.c_str(), true, true), E_FAIL);
    EXPECT_EQ(GetPackageError(), UnzipFileError);
    std::vector<unsigned> archiveEvents;
    for (const auto& e : events)
        if (e.first == E_Unpack_ArchiveEvent) archiveEvents.push_back(e.second);
    ASSERT_FALSE(archiveEvents.empty());
    EXPECT_EQ(archiveEvents.back(), unsigned(E_Arc_RunnerFailed));
    EXPECT_NE(std::find(archiveEvents.begin(), archiveEvents.end(), unsigned(E_Arc_ArchivesWithErrors)),
              archiveEvents.end());
    EXPECT_EQ(RunnerTempEntries(), tempBefore_);
}

// The registration and the product start read the folder on other threads
// than the install worker that sets it: a reader sees one whole folder or
// the other, never a mix of the two.
TEST_F(UnpackTest, InstallPathReadOnAnotherThreadIsAlwaysAWholeFolder) {
    WriteFileBytes(folder_ / L"blocker", "x");
    // Folders below a file cannot be made: each call sets the path and fails at once.
    const std::wstring first = folder_ / (L"blocker\\" + std::wstring(120, L'a'));
    const std::wstring second = folder_ / (L"blocker\\" + std::wstring(150, L'\u0431'));
    std::atomic<bool> done(false);
    std::atomic<int> reads(0), mixed(0);
    std::thread reader([&] {
        while (!done) {
            const std::wstring seen = GetInstallPath();
            if (!seen.empty() && seen != first && seen != second) ++mixed;
            ++reads;
        }
    });
    for (int i = 0; i < 400; ++i)
        EXPECT_EQ(UnpackPackage(package_.c_str(), nullptr, (i % 2 ? first : second).c_str(), true, true), E_FAIL);
    done = true;
    reader.join();
    EXPECT_GT(reads.load(), 0);
    EXPECT_EQ(mixed.load(), 0);
    EXPECT_EQ(GetInstallPath(), first);
}

TEST(PackageErrorNameTest, NamesEveryCode) {
    // The names the install worker reports to the statistics, spelt as the
    // statistics service knows them.
    EXPECT_STREQ(GetPackageErrorName(), "NoError");  // before any unpack
    const struct {
        int code;
        const char* name;
    } names[] = {{0, "NoError"},           {10000, "PointNull"},        {10001, "SetupFileError"},
                 {10002, "DirWriteError"}, {10003, "MallocBrror"},      {10004, "InstallFileError"},
                 {10005, "OpenFileError"}, {10006, "OffsetError"},      {10007, "ReadFileError"},
                 {10008, "UnzipFileError"}, {13, "13"},                 {-1, "-1"},
                 {9999, "9999"},           {10009, "10009"}};
    for (const auto& n : names) EXPECT_STREQ(GetPackageErrorName(n.code), n.name) << n.code;
}

namespace {

// Points the process's temporary folder (GetTempPathW reads TMP first) at
// another folder for the life of the object.
class TemporaryFolderOverride {
public:
    explicit TemporaryFolderOverride(const std::wstring& folder) {
        wchar_t old[MAX_PATH] = {};
        hadOld_ = GetEnvironmentVariableW(L"TMP", old, MAX_PATH) != 0;
        old_ = old;
        CreateDirectoryW(folder.c_str(), nullptr);
        SetEnvironmentVariableW(L"TMP", folder.c_str());
    }
    ~TemporaryFolderOverride() { SetEnvironmentVariableW(L"TMP", hadOld_ ? old_.c_str() : nullptr); }

private:
    bool hadOld_ = false;
    std::wstring old_;
};

// No file and no folder below it: any entry at all is found by one listing.
bool FolderIsEmpty(const std::wstring& folder) {
    WIN32_FIND_DATAW fd;
    UniqueFindHandle find(FindFirstFileW((folder + L"\\*").c_str(), &fd));
    if (find.get() == INVALID_HANDLE_VALUE) return true;
    do
        if (wcscmp(fd.cFileName, L".") && wcscmp(fd.cFileName, L"..")) return false;
    while (FindNextFileW(find.get(), &fd));
    return true;
}

}  // namespace

TEST_F(UnpackTest, NonAsciiTemporaryFolderWorksAndIsLeftEmpty) {
    const std::wstring temp = folder_ / L"T\u00e9mp \u00fcser";
    TemporaryFolderOverride override(temp);
    ASSERT_EQ(UnpackPackage(package_.c_str(), nullptr, target_.c_str(), true, true), S_OK);
    EXPECT_EQ(ReadFileBytes(target_ + L"\\readme.txt"), tree_[L"readme.txt"]);
    EXPECT_TRUE(FolderIsEmpty(temp));
}

// Folders the ANSI code page cannot spell (under 1252: Cyrillic and CJK), as
// the installation folder and as the temporary folder: the archiver gets
// them in UTF-8 and every file is opened by its wide path.
TEST_F(UnpackTest, FoldersOutsideTheAnsiCodePageExtractByteForByte) {
    const PackageHeader header = HeaderOf(bytes_);
    FileTree expected = tree_;
    expected[L"uninstall.exe"] = kUninstaller;
    expected[L"uninstall.exe.bin"] = std::string(reinterpret_cast<const char*>(&header), 4096);
    for (const std::wstring name : {L"\u0423\u0441\u0442\u0430\u043d\u043e\u0432\u043a\u0430", L"\u5b89\u88c5\u7a0b\u5e8f"}) {
        SCOPED_TRACE("code page " + std::to_string(GetACP()) + ", folder " + Narrow(name));
        ASSERT_NE(NarrowToWide(WideToNarrow(name)), name) << "the ANSI code page spells this name";
        const std::wstring target = folder_ / (name + L"\\Orvane");
        const std::wstring temp = folder_ / (L"Temp " + name);
        TemporaryFolderOverride override(temp);
        Events events;
        ASSERT_EQ(UnpackPackage(package_.c_str(), Record(events), target.c_str(), true, true), S_OK)
            << GetPackageErrorName();
        EXPECT_EQ(ReadTree(target), expected);
        EXPECT_EQ(GetInstallPath(), target);
        EXPECT_EQ(Milestones(events).back(), std::make_pair(int(E_Unpack_Succeed), 0u));
        EXPECT_TRUE(FolderIsEmpty(temp));
    }
}

namespace {

// Leaves the process no free block of address space larger than hole bytes,
// as a 32-bit process finds itself after a while: the free address space is
// taken in blocks of a hole and one allocation granule, then each block is
// given back but for a wall in its last granule. The pieces too small for a
// block are kept taken too, so no given-back hole joins one of them into a
// larger free block. Almost all of the memory stays usable, only not in one
// piece. (Wine shows much of the space it holds in reserve as taken, so the
// space is asked of the system, bottom-up and top-down, rather than found by
// listing.) Released again by the destructor.
class FragmentedAddressSpace {
public:
    explicit FragmentedAddressSpace(size_t hole) {
        SYSTEM_INFO info;
        GetSystemInfo(&info);
        const size_t granule = info.dwAllocationGranularity;
        std::vector<char*> blocks = ReserveAll(hole + granule);
        for (size_t size = hole / 2; size >= granule; size /= 2) {
            for (char* piece : ReserveAll(size)) walls_.push_back(piece);
        }
        for (char* block : blocks) {
            VirtualFree(block, 0, MEM_RELEASE);
            if (void* wall = VirtualAlloc(block + hole, granule, MEM_RESERVE, PAGE_NOACCESS)) walls_.push_back(wall);
        }
    }
    ~FragmentedAddressSpace() {
        for (void* wall : walls_) VirtualFree(wall, 0, MEM_RELEASE);
    }
    FragmentedAddressSpace(const FragmentedAddressSpace&) = delete;
    FragmentedAddressSpace& operator=(const FragmentedAddressSpace&) = delete;

private:
    static std::vector<char*> ReserveAll(size_t size) {
        std::vector<char*> taken;
        for (DWORD direction : {DWORD{0}, DWORD{MEM_TOP_DOWN}}) {
            while (char* block = static_cast<char*>(VirtualAlloc(nullptr, size, MEM_RESERVE | direction, PAGE_NOACCESS)))
                taken.push_back(block);
        }
        return taken;
    }

private:
    std::vector<void*> walls_;
};

// A hole holds the file road's 10 MiB copy chunk, not the whole payload.
constexpr size_t kHole = 12 << 20;
const std::string kBigFile = NoiseBytes(20 << 20, 5);

// The temporary folder's "tarvex_7z", where each file-road run claims a
// folder of its own; another installer's run is stood in for by planted
// entries.
class FileRoadTest : public UnpackTest {
protected:
    void SetUp() override {
        UnpackTest::SetUp();
        tree_[L"big.bin"] = kBigFile;
        ASSERT_TRUE(BuildTestPackage(package_, folder_.path(), tree_, kUninstaller, "0"));
        bytes_ = ReadFileBytes(package_);
        ASSERT_GT(HeaderOf(bytes_).archiveSize, kHole);
        shared_ = TempFolder() + L"\\tarvex_7z";
        CreateDirectoryW(shared_.c_str(), nullptr);
        CreateDirectoryW((shared_ + L"\\other").c_str(), nullptr);
        ASSERT_TRUE(WriteFileBytes(shared_ + L"\\other\\Zov7ZFile.7z", "another installer's archive"));
        ASSERT_TRUE(WriteFileBytes(shared_ + L"\\Zov7ZFile.7z", "an older installer's archive"));
        tempBefore_ = RunnerTempEntries();
    }
    void TearDown() override { RemoveTree(shared_); }

    // The entries of "tarvex_7z" besides the planted ones.
    std::set<std::wstring> OwnEntries() const {
        std::set<std::wstring> names;
        WIN32_FIND_DATAW fd;
        UniqueFindHandle find(FindFirstFileW((shared_ + L"\\*").c_str(), &fd));
        if (find.get() == INVALID_HANDLE_VALUE) return names;
        do {
            const std::wstring name = fd.cFileName;
            if (name != L"." && name != L".." && name != L"other" && name != L"Zov7ZFile.7z") names.insert(name);
        } while (FindNextFileW(find.get(), &fd));
        return names;
    }

    void ExpectPlantedEntriesUntouched() {
        EXPECT_EQ(ReadFileBytes(shared_ + L"\\other\\Zov7ZFile.7z"), "another installer's archive");
        EXPECT_EQ(ReadFileBytes(shared_ + L"\\Zov7ZFile.7z"), "an older installer's archive");
        EXPECT_TRUE(OwnEntries().empty());
    }

    // While the archiver runs: the run's own folders holding an archive of the payload's size.
    ProgressCallback WatchTemporaryArchive(std::set<std::wstring>& seen) {
        auto lock = std::make_shared<std::mutex>();
        const uint64_t size = HeaderOf(bytes_).archiveSize;
        return [this, &seen, lock, size](int event, unsigned, long) {
            if (event != E_Unpack_Progress) return 0;
            std::lock_guard<std::mutex> guard(*lock);
            for (const auto& name : OwnEntries())
                if (FileSizeOnDisk(shared_ + L"\\" + name + L"\\Zov7ZFile.7z") == static_cast<int64_t>(size))
                    seen.insert(name);
            return 0;
        };
    }

    std::wstring shared_;
};

}  // namespace

// The memory road asks for the whole payload in one piece; when the process
// cannot give it, the step takes the file road instead of failing.
TEST_F(FileRoadTest, NoBufferForThePayloadFallsBackToTheFileRoad) {
    std::set<std::wstring> seen;
    HRESULT result;
    {
        FragmentedAddressSpace fragmented(kHole);
        result = UnpackPackage(package_.c_str(), WatchTemporaryArchive(seen), target_.c_str(), true, true);
    }
    ASSERT_EQ(result, S_OK) << GetPackageErrorName();
    EXPECT_EQ(ReadFileBytes(target_ + L"\\big.bin"), kBigFile);
    EXPECT_EQ(ReadFileBytes(target_ + L"\\readme.txt"), tree_[L"readme.txt"]);
    EXPECT_EQ(ReadFileBytes(target_ + L"\\uninstall.exe"), kUninstaller);
    const std::string log = Log();
    const size_t buffer = log.find("Unpack file use buffer.");
    const size_t fallback = log.find("No buffer of " + std::to_string(HeaderOf(bytes_).archiveSize) + " bytes");
    const size_t file = log.find("Unpack file use File.");
    ASSERT_NE(fallback, std::string::npos) << log;
    EXPECT_LT(buffer, fallback);
    EXPECT_LT(fallback, file);
    EXPECT_EQ(log.find("Finish unpack file."), std::string::npos);  // the memory road's end
    // The archive lay in a folder of this run's own, and that folder is gone.
    EXPECT_EQ(seen.size(), 1u);
    ExpectPlantedEntriesUntouched();
    EXPECT_EQ(RunnerTempEntries(), tempBefore_);
}

// Every road out of the file road removes the run's folder and nothing else.
TEST_F(FileRoadTest, TemporaryArchiveIsTheRunsOwnAndGoesOnEveryRoad) {
    const PackageHeader header = HeaderOf(bytes_);
    {
        SCOPED_TRACE("extraction fails");
        std::string corrupt = bytes_;
        // Past the stored file's first bytes: the item's CRC fails.
        corrupt[static_cast<size_t>(header.archiveOffset) + 32 + 4096] ^= 0x5a;
        WriteFileBytes(folder_ / L"corrupt.exe", corrupt);
        std::set<std::wstring> seen;
        FragmentedAddressSpace fragmented(kHole);
        EXPECT_EQ(UnpackPackage((folder_ / L"corrupt.exe").c_str(), WatchTemporaryArchive(seen), target_.c_str(),
                                true, true),
                  E_FAIL);
        EXPECT_EQ(GetPackageError(), UnzipFileError);
        EXPECT_EQ(seen.size(), 1u);
        ExpectPlantedEntriesUntouched();
    }
    {
        SCOPED_TRACE("no folder of its own can be claimed");
        // Every name the run could claim is taken already.
        std::vector<std::wstring> taken;
        for (int i = 0; i < 64; ++i) {
            wchar_t name[32];
            swprintf(name, 32, L"%lx-%x", static_cast<unsigned long>(GetCurrentProcessId()), i);
            taken.push_back(shared_ + L"\\" + name);
            CreateDirectoryW(taken.back().c_str(), nullptr);
            WriteFileBytes(taken.back() + L"\\Zov7ZFile.7z", "taken");
        }
        RemoveTree(target_);
        FragmentedAddressSpace fragmented(kHole);
        EXPECT_EQ(UnpackPackage(package_.c_str(), nullptr, target_.c_str(), true, true), E_FAIL);
        EXPECT_EQ(GetPackageError(), OpenFileError);
        for (const auto& folder : taken) {
            EXPECT_EQ(ReadFileBytes(folder + L"\\Zov7ZFile.7z"), "taken");
            RemoveTree(folder);
        }
        ExpectPlantedEntriesUntouched();
    }
    {
        SCOPED_TRACE("success");
        RemoveTree(target_);
        std::set<std::wstring> seen;
        FragmentedAddressSpace fragmented(kHole);
        EXPECT_EQ(UnpackPackage(package_.c_str(), WatchTemporaryArchive(seen), target_.c_str(), true, true), S_OK);
        EXPECT_EQ(seen.size(), 1u);
        ExpectPlantedEntriesUntouched();
    }
    EXPECT_EQ(RunnerTempEntries(), tempBefore_);
}
