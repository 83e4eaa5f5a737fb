// The archive runner and operator: jobs on real archives, their temporary
// folders, their events and their folder helpers.
#include <gtest/gtest.h>

#include <set>

#include "ArchiveEntry.h"
#include "ArchiveRunner.h"
#include "ArchiveTestSupport.h"
#include "C7ZOperator.h"
#include "TestSupport.h"
#include "UnpackPackage.h"

using namespace testing_support;
using namespace package_testing;

namespace {


struct Recorder : I7zFileInfoCallback {
    std::vector<int> errors;
    std::vector<uint32_t> progress;
    int OnProgress(uint32_t low, uint32_t) override {
        progress.push_back(low);
        return 0;
    }
    void OnError(int code) override { errors.push_back(code); }
};

}  // namespace

TEST(ArchiveRunnerTest, ExtractFromMemoryExtractsAndLeavesNothingInTheTemporaryFolder) {
    ScratchFolder folder(L"runner");
    const FileTree tree = SampleTree();
    WriteTree(folder / L"src", tree);
    ASSERT_TRUE(MakeArchive(folder / L"a.7z", folder / L"src"));
    const std::string archive = ReadFileBytes(folder / L"a.7z");
    const auto before = RunnerTempEntries();

    Recorder recorder;
    ArchiveRunner runner;
    runner.SetCallback(&recorder);
    std::string error;
    ASSERT_TRUE(runner.ExtractFromMemory(archive.data(), archive.size(), Narrow(folder / L"out").c_str(), nullptr,
                                         error, true));
    EXPECT_EQ(ReadTree(folder / L"out"), tree);
    EXPECT_TRUE(recorder.errors.empty());
    ASSERT_FALSE(recorder.progress.empty());
    EXPECT_EQ(recorder.progress.back(), 100u);
    EXPECT_EQ(RunnerTempEntries(), before);
}

TEST(ArchiveRunnerTest, WithoutRemoveTempTheTemporaryArchiveStays) {
    ScratchFolder folder(L"runner");
    WriteTree(folder / L"src", {{L"a.txt", "alpha"}});
    ASSERT_TRUE(MakeArchive(folder / L"a.7z", folder / L"src"));
    const std::string archive = ReadFileBytes(folder / L"a.7z");
    const auto before = RunnerTempEntries();

    ArchiveRunner runner;
    std::string error;
    ASSERT_TRUE(runner.ExtractFromMemory(archive.data(), archive.size(), Narrow(folder / L"out").c_str(), nullptr,
                                         error, false));
    EXPECT_EQ(ReadFileBytes(folder / L"out\\a.txt"), "alpha");
    std::vector<std::wstring> added;
    for (const auto& name : RunnerTempEntries())
        if (!before.count(name)) added.push_back(name);
    ASSERT_EQ(added.size(), 1u);
    const std::wstring kept = TempFolder() + L"\\" + added[0] + L"\\tarvex_7z\\Zov7ZFile.7z";
    EXPECT_EQ(ReadFileBytes(kept), archive);
    EXPECT_EQ(ArchiveRunner::DeleteTree(Narrow(TempFolder() + L"\\" + added[0] + L"/"), 0), 1);
    EXPECT_EQ(RunnerTempEntries(), before);
}

TEST(ArchiveRunnerTest, CorruptArchiveFailsWithItsEventsThenTheRunnerFailure) {
    ScratchFolder folder(L"runner");
    const std::string archive = CorruptArchive(folder.path());
    ASSERT_FALSE(archive.empty());
    const auto before = RunnerTempEntries();

    std::vector<std::pair<int, unsigned>> events;
    C7ZOperator op;
    op.SetCallback([&](int event, unsigned value, long) {
        events.emplace_back(event, value);
        return 0;
    });
    std::string error;
    EXPECT_FALSE(op.ExtractFromMemory(archive.data(), archive.size(), Narrow(folder / L"out").c_str(), nullptr, error,
                                      true));
    EXPECT_EQ(error, "Read 7z file error");
    std::vector<unsigned> archiveEvents;
    for (const auto& e : events) {
        if (e.first == E_Unpack_ArchiveEvent)
            archiveEvents.push_back(e.second);
        else
            EXPECT_EQ(e.first, E_Unpack_Progress);
    }
    EXPECT_EQ(archiveEvents, (std::vector<unsigned>{E_Arc_DataError, E_Arc_ArchivesWithErrors, E_Arc_RunnerFailed}));
    EXPECT_EQ(op.GetLastError(), E_Arc_RunnerFailed);
    EXPECT_EQ(RunnerTempEntries(), before);
}

TEST(ArchiveRunnerTest, ExtractFileOfAMissingArchiveReportsTheRunnerFailure) {
    ScratchFolder folder(L"runner");
    Recorder recorder;
    ArchiveRunner runner;
    runner.SetCallback(&recorder);
    std::string error;
    const std::string missing = Narrow(folder / L"missing.7z");
    EXPECT_FALSE(runner.ExtractFile(missing.c_str(), Narrow(folder / L"out").c_str(), nullptr, error));
    EXPECT_EQ(error, "File path not exists : " + missing);
    EXPECT_EQ(recorder.errors, (std::vector<int>{E_Arc_RunnerFailed}));
    EXPECT_FALSE(runner.ExtractFile(missing.c_str(), nullptr, nullptr, error));
    EXPECT_FALSE(runner.ExtractFromMemory(nullptr, 0, "C:\\x", nullptr, error, true));
}

TEST(ArchiveRunnerTest, CompressThenExtractFileWithAPassword) {
    ScratchFolder folder(L"runner");
    const FileTree tree = SampleTree();
    WriteTree(folder / L"src", tree);
    C7ZOperator op;
    const std::string archive = Narrow(folder / L"enc.7z");
    ASSERT_TRUE(op.Compress(Narrow(folder / L"src").c_str(), archive.c_str(), "pa ss"));
    std::string error;
    ASSERT_TRUE(op.ExtractFile(archive.c_str(), Narrow(folder / L"out").c_str(), "pa ss", error));
    EXPECT_EQ(ReadTree(folder / L"out"), tree);
    EXPECT_FALSE(op.Compress(nullptr, archive.c_str(), nullptr));
}

TEST(ArchiveRunnerTest, TemporaryFoldersAreClaimedOncePerName) {
    std::string first, second;
    ASSERT_EQ(ArchiveRunner::MakeTempFolder(first), 1);
    ASSERT_EQ(ArchiveRunner::MakeTempFolder(second), 1);
    EXPECT_NE(first, second);
    EXPECT_EQ(first.back(), '/');
    EXPECT_TRUE(ArchiveRunner::IsDirectory(first.c_str()));
    EXPECT_EQ(ArchiveRunner::DeleteTree(first, 0), 1);
    EXPECT_EQ(ArchiveRunner::DeleteTree(second, 0), 1);
    EXPECT_FALSE(ArchiveRunner::IsDirectory(first.c_str()));
}

TEST(ArchiveRunnerTest, DeleteTreeRemovesReadOnlyFilesAndKeepsLinkTargets) {
    ScratchFolder folder(L"runner");
    WriteTree(folder / L"tree", {{L"a\\ro.txt", "r"}, {L"b.txt", "b"}});
    SetFileAttributesW((folder / L"tree\\a\\ro.txt").c_str(), FILE_ATTRIBUTE_READONLY);
    WriteTree(folder / L"keep", {{L"k.txt", "k"}, {L"sub\\s.txt", "s"}});
    // A junction where the system can make one; under Wine a Unix link,
    // which Wine lists as a reparse point but cannot remove.
    const FolderLink inner = MakeFolderLink(folder / L"tree\\link", folder / L"keep");
    ASSERT_NE(inner, FolderLink::None) << "no folder link can be made here";
    ASSERT_EQ(MakeFolderLink(folder / L"toplink", folder / L"keep"), inner);

    const int result = ArchiveRunner::DeleteTree(Narrow(folder / L"tree/"), 0);
    EXPECT_FALSE(FileExists(folder / L"tree\\a\\ro.txt"));
    EXPECT_FALSE(FileExists(folder / L"tree\\b.txt"));
    EXPECT_EQ(ReadFileBytes(folder / L"keep\\k.txt"), "k");
    EXPECT_EQ(ReadFileBytes(folder / L"keep\\sub\\s.txt"), "s");
    // A folder that is itself a link goes as a link, in any spelling.
    for (const wchar_t* spelling : {L"toplink/", L"toplink\\./", L"tree\\..\\toplink/"})
        ArchiveRunner::DeleteTree(Narrow(folder / spelling), 0);
    EXPECT_EQ(ReadFileBytes(folder / L"keep\\k.txt"), "k");
    EXPECT_EQ(ReadFileBytes(folder / L"keep\\sub\\s.txt"), "s");
    if (inner == FolderLink::Windows) {
        EXPECT_EQ(result, 1);
        EXPECT_FALSE(FolderExists(folder / L"tree"));
        EXPECT_FALSE(FolderExists(folder / L"toplink"));
        EXPECT_EQ(ArchiveRunner::DeleteTree(Narrow(folder / L"tree/"), 0), 0);  // cannot be listed
    }
    EXPECT_EQ(ArchiveRunner::DeleteTree(Narrow(folder / L"missing/"), 0), 0);  // cannot be listed
    EXPECT_EQ(ArchiveRunner::DeleteTree("relative/", 0), 0);
    EXPECT_EQ(ArchiveRunner::DeleteTree("C:/", 0), 0);
    EXPECT_EQ(ArchiveRunner::DeleteTree("", 0), 0);
}

// A path that walks out to a root is refused as the root itself would be; on
// a drive of the test's own, so that a wrong answer costs only that drive.
TEST(ArchiveRunnerTest, DeleteTreeRefusesPathsThatResolveToARoot) {
    ScratchFolder folder(L"runner");
    WriteTree(folder / L"root", {{L"witness.txt", "w"}, {L"x\\inner.txt", "i"}});
    ScratchDrive scratch(folder / L"root");
    ASSERT_FALSE(scratch.drive().empty()) << "no drive letter could be defined";
    const std::string drive = Narrow(scratch.drive());
    for (const std::string& path : {drive + "/x/../", drive + "\\x\\..\\", drive + "/x/./../", drive + "/x/../.",
                                    "\\\\?\\" + drive + "\\x/", drive + "x/", drive + "/", drive + "/x/*/"}) {
        EXPECT_EQ(ArchiveRunner::DeleteTree(path, 0), 0) << path;
        EXPECT_EQ(ReadFileBytes(folder / L"root\\witness.txt"), "w") << path;
        EXPECT_EQ(ReadFileBytes(folder / L"root\\x\\inner.txt"), "i") << path;
    }
    EXPECT_EQ(ArchiveRunner::DeleteTree(drive + "/x/sub/../", 0), 1);
    EXPECT_FALSE(FolderExists(folder / L"root\\x"));
    EXPECT_EQ(ReadFileBytes(folder / L"root\\witness.txt"), "w");
}

TEST(ArchiveRunnerTest, FolderHelpers) {
    ScratchFolder folder(L"runner");
    EXPECT_TRUE(ArchiveRunner::IsDirectory("C:"));  // the volume's root
    EXPECT_FALSE(ArchiveRunner::IsDirectory("C"));
    EXPECT_FALSE(ArchiveRunner::IsDirectory("ab"));
    EXPECT_FALSE(ArchiveRunner::IsDirectory(nullptr));
    const std::string base = Narrow(folder.path());
    EXPECT_TRUE(ArchiveRunner::IsDirectory((base + "/").c_str()));

    EXPECT_EQ(ArchiveRunner::CreateFolders(base + "/x/y\\z/"), 1);
    EXPECT_TRUE(FolderExists(folder / L"x\\y\\z"));
    EXPECT_EQ(ArchiveRunner::CreateFolders(base + "/p/q"), 1);
    EXPECT_TRUE(FolderExists(folder / L"p"));
    EXPECT_FALSE(FolderExists(folder / L"p\\q"));  // the part after the last separator is not a folder
    EXPECT_EQ(ArchiveRunner::CreateFolders(std::string(300, 'a')), 0);

    std::string path = "C:\\a\\b";
    ArchiveRunner::ToForwardSlashes(path);
    EXPECT_EQ(path, "C:/a/b");

    const std::string file = Narrow(folder / L"w.bin");
    EXPECT_TRUE(ArchiveRunner::WriteFile(file.c_str(), "", 0));
    EXPECT_EQ(ReadFileBytes(folder / L"w.bin"), "");
    EXPECT_TRUE(ArchiveRunner::WriteFile(file.c_str(), "abc", 3));
    EXPECT_EQ(ReadFileBytes(folder / L"w.bin"), "abc");
    EXPECT_FALSE(ArchiveRunner::WriteFile((base + "/x").c_str(), "abc", 3));  // a folder
}
