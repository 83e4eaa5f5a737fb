// The unpack step on packages made by the package builder, and on crafted
// ones made from them.
#include <gtest/gtest.h>

#include <set>

#include "ArchiveEntry.h"
#include "ArchiveTestSupport.h"
#include "Handles.h"
#include "JFile.h"
#include "Log.h"
#include "PackageHeader.h"
#include "TestSupport.h"
#include "UnpackPackage.h"

using namespace testing_support;
using namespace package_testing;

namespace {

using Events = std::vector<std::pair<int, unsigned>>;

ProgressCallback Record(Events& events) {
    return [&events](int event, unsigned value, long extra) {
        EXPECT_EQ(extra, 0);
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

TEST(PackageErrorNameTest, NamesEveryCode) {
    // Only through UnpackPackage can the code change; the table itself:
    EXPECT_STREQ(GetPackageErrorName(), "NoError");
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

TEST_F(UnpackTest, PathsTheNarrowCodePageCannotSpellFailCleanly) {
    // The archiver takes narrow arguments; a path outside the code page
    // would reach it as another path, so the step refuses it.
    const std::wstring target = folder_ / L"\u4e2d\u6587 \u0436";
    Events events;
    EXPECT_EQ(UnpackPackage(package_.c_str(), Record(events), target.c_str(), true, true), E_FAIL);
    EXPECT_EQ(GetPackageError(), DirWriteError);
    EXPECT_EQ(Milestones(events).back(), std::make_pair(int(E_Unpack_Fail), unsigned(DirWriteError)));
    EXPECT_NE(Log().find("Install path cannot be passed to the archiver."), std::string::npos);

    const std::wstring temp = folder_ / L"\u4e2d temp";
    TemporaryFolderOverride override(temp);
    events.clear();
    EXPECT_EQ(UnpackPackage(package_.c_str(), Record(events), target_.c_str(), true, true), E_FAIL);
    EXPECT_EQ(GetPackageError(), UnzipFileError);
    EXPECT_NE(Log().find("UnZip error :Create temp folder error."), std::string::npos);
    EXPECT_TRUE(FolderIsEmpty(temp));
}
