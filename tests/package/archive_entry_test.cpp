// The in-process archiver entry: real archives made and extracted inside the
// test process, with the reports that the console hooks send.
#include <gtest/gtest.h>

#include <algorithm>
#include <thread>

#include <fcntl.h>
#include <io.h>

#include "ArchiveEntry.h"
#include "ArchiveTestSupport.h"
#include "TestSupport.h"

using namespace testing_support;
using namespace package_testing;

TEST(ArchiveEntryTest, AddThenExtractInProcessGivesTheSameBytes) {
    ScratchFolder folder(L"entry");
    const FileTree tree = SampleTree();
    WriteTree(folder / L"src", tree);

    ArchiveEvents addEvents;
    ASSERT_EQ(RunArchiver({L"a", folder / L"plain.7z", folder / L"src\\*", L"-bsp1"}, &addEvents), 0);
    EXPECT_TRUE(addEvents.errors.empty());
    ASSERT_TRUE(FileExists(folder / L"plain.7z"));
    EXPECT_LT(ReadFileBytes(folder / L"plain.7z").size(), 300000u);

    ArchiveEvents extractEvents;
    ASSERT_EQ(RunArchiver({L"x", folder / L"plain.7z", L"-o" + folder / L"out", L"-bsp1"}, &extractEvents), 0);
    EXPECT_TRUE(extractEvents.errors.empty());
    EXPECT_EQ(ReadTree(folder / L"out"), tree);
}

TEST(ArchiveEntryTest, ProgressRisesToOneHundredAndIsNeverZero) {
    ScratchFolder folder(L"entry");
    WriteTree(folder / L"src", {{L"big.bin", NoiseBytes(3 << 20, 3)}});
    ASSERT_TRUE(MakeArchive(folder / L"a.7z", folder / L"src"));

    ArchiveEvents events;
    ASSERT_EQ(RunArchiver({L"x", folder / L"a.7z", L"-o" + folder / L"out", L"-bsp1"}, &events), 0);
    ASSERT_FALSE(events.progress.empty());
    EXPECT_EQ(std::count(events.progress.begin(), events.progress.end(), 0ull), 0);
    EXPECT_TRUE(std::is_sorted(events.progress.begin(), events.progress.end()));
    EXPECT_EQ(events.progress.back(), 100u);
}

// Bytes that LZMA2 packs to about half, quickly: each 4 KiB is half noise
// and half zeros.
std::string HalfCompressibleBytes(size_t size) {
    std::string bytes = NoiseBytes(size, 11);
    for (size_t at = 2048; at < size; at += 4096) std::fill_n(&bytes[at], std::min<size_t>(2048, size - at), '\0');
    return bytes;
}

// A payload of 64 MiB packed by several threads into 1 MiB-dictionary LZMA2
// blocks is decoded by 7-Zip's decoder threads, which print the progress:
// their reports reach the callback too, rising, and end at 100.
TEST(ArchiveEntryTest, ProgressFromDecoderThreadsRisesToOneHundred) {
    ScratchFolder folder(L"entry-mt");
    const std::string payload = HalfCompressibleBytes(64 << 20);
    WriteTree(folder / L"src", {{L"large.bin", payload}});
    ASSERT_EQ(RunArchiver({L"a", folder / L"mt.7z", folder / L"src\\*", L"-mx=1", L"-m0=LZMA2:d=1m", L"-mmt=4"}), 0);

    ArchiveEvents events;
    ASSERT_EQ(RunArchiver({L"x", folder / L"mt.7z", L"-o" + folder / L"out", L"-bsp1"}, &events), 0);
    EXPECT_TRUE(events.errors.empty());
    EXPECT_TRUE(ReadFileBytes(folder / L"out\\large.bin") == payload);
    ASSERT_FALSE(events.progress.empty());
    EXPECT_TRUE(std::adjacent_find(events.progress.begin(), events.progress.end(),
                                   [](unsigned long long a, unsigned long long b) { return b <= a; }) ==
                events.progress.end())
        << "progress does not rise";
    EXPECT_EQ(events.progress.back(), 100u);
    const DWORD caller = GetCurrentThreadId();
    const auto fromDecoders = std::count_if(events.progressThreads.begin(), events.progressThreads.end(),
                                            [caller](DWORD thread) { return thread != caller; });
    EXPECT_GT(fromDecoders, 0) << "no report came from a decoder thread; " << events.progress.size() << " reports";
}

// Arguments are UTF-8: one that is not (an ANSI "é") is refused before the
// console could take it for another path.
TEST(ArchiveEntryTest, ArgumentThatIsNoUtf8IsACommandLineError) {
    ArchiveEvents events;
    const char* argv[] = {"orvane_tests.exe", "x", "C:\\caf\xe9.7z"};
    EXPECT_EQ(alonemain(3, argv, &events, &ArchiveEvents::OnError, &ArchiveEvents::OnProgress), 7);
    EXPECT_EQ(events.errors, (std::vector<int>{E_Arc_Break}));
}

TEST(ArchiveEntryTest, ProgramPathAloneShowsHelpAndSucceedsWithoutReport) {
    ArchiveEvents events;
    EXPECT_EQ(RunArchiver({}, &events), 0);
    EXPECT_TRUE(events.errors.empty());
}

struct FailingCommand {
    const char* name;
    std::vector<std::wstring> arguments;  // "%S" is replaced by the scratch folder
    int exitCode;
    std::vector<int> reports;
};

void PrintTo(const FailingCommand& command, std::ostream* os) { *os << command.name; }

class ArchiveEntryFailureTest : public ::testing::TestWithParam<FailingCommand> {};

TEST_P(ArchiveEntryFailureTest, EndsWithItsExitCodeAndReports) {
    ScratchFolder folder(L"entry");
    const FailingCommand& command = GetParam();
    std::vector<std::wstring> arguments;
    for (std::wstring a : command.arguments) {
        const size_t at = a.find(L"%S");
        if (at != std::wstring::npos) a.replace(at, 2, folder.path());
        arguments.push_back(a);
    }
    ArchiveEvents events;
    EXPECT_EQ(RunArchiver(arguments, &events), command.exitCode);
    EXPECT_EQ(events.errors, command.reports);
}

INSTANTIATE_TEST_SUITE_P(
    Commands, ArchiveEntryFailureTest,
    ::testing::Values(FailingCommand{"UnknownSwitch", {L"x", L"%S\\a.7z", L"-qqq"}, 7, {E_Arc_Break}},
                      FailingCommand{"MissingArchive", {L"x", L"%S\\missing.7z", L"-o%S\\out"}, 2, {E_Arc_FatalError}},
                      FailingCommand{"QuoteInArgument", {L"x", L"%S\\a\"b.7z"}, 7, {E_Arc_Break}}),
    [](const ::testing::TestParamInfo<FailingCommand>& info) { return std::string(info.param.name); });

TEST(ArchiveEntryTest, EncryptedArchiveWithoutPasswordReportsTheRequestAndFails) {
    ScratchFolder folder(L"entry");
    const FileTree tree = SampleTree();
    WriteTree(folder / L"src", tree);
    ASSERT_TRUE(MakeArchive(folder / L"enc.7z", folder / L"src", L"s3cret pass"));

    ArchiveEvents events;
    EXPECT_NE(RunArchiver({L"x", folder / L"enc.7z", L"-o" + folder / L"out"}, &events), 0);
    ASSERT_FALSE(events.errors.empty());
    EXPECT_EQ(events.errors.front(), E_Arc_PasswordRequested);

    // With the password the same archive extracts.
    ArchiveEvents good;
    ASSERT_EQ(RunArchiver({L"x", folder / L"enc.7z", L"-o" + folder / L"out2", L"-ps3cret pass"}, &good), 0);
    EXPECT_TRUE(good.errors.empty());
    EXPECT_EQ(ReadTree(folder / L"out2"), tree);
}

TEST(ArchiveEntryTest, CorruptItemReportsDataErrorThenArchivesWithErrors) {
    ScratchFolder folder(L"entry");
    const std::string archive = CorruptArchive(folder.path());
    ASSERT_FALSE(archive.empty());
    WriteFileBytes(folder / L"bad.7z", archive);

    ArchiveEvents events;
    EXPECT_NE(RunArchiver({L"x", folder / L"bad.7z", L"-o" + folder / L"out"}, &events), 0);
    EXPECT_EQ(events.errors, (std::vector<int>{E_Arc_DataError, E_Arc_ArchivesWithErrors}));
}

TEST(ArchiveEntryTest, ExistingFileInOutputFolderFailsInsteadOfWaitingForAnAnswer) {
    ScratchFolder folder(L"entry");
    WriteTree(folder / L"src", {{L"a.txt", "new"}});
    ASSERT_TRUE(MakeArchive(folder / L"a.7z", folder / L"src"));
    WriteTree(folder / L"out", {{L"a.txt", "old"}});

    EXPECT_NE(RunArchiver({L"x", folder / L"a.7z", L"-o" + folder / L"out"}), 0);
    EXPECT_EQ(ReadFileBytes(folder / L"out\\a.txt"), "old");
}

TEST(ArchiveEntryTest, FileFunctionsAreLeftInTheAnsiCodePage) {
    ScratchFolder folder(L"entry");
    WriteTree(folder / L"src", {{L"a.txt", "x"}});
    SetFileApisToANSI();
    ASSERT_TRUE(MakeArchive(folder / L"a.7z", folder / L"src"));
    EXPECT_TRUE(AreFileApisANSI());
}

TEST(ArchiveEntryTest, NonAsciiPathsRoundTrip) {
    ScratchFolder folder(L"entry");
    const std::wstring base = folder / L"Z\u00f6e \u00c9t\u00e9";
    const FileTree tree{{L"d\u00e9j\u00e0.txt", "accents"}, {L"sub\\\u00fcber.bin", NoiseBytes(1000, 1)}};
    WriteTree(base + L"\\src", tree);
    ASSERT_TRUE(MakeArchive(base + L"\\a.7z", base + L"\\src"));
    ASSERT_EQ(RunArchiver({L"x", base + L"\\a.7z", L"-o" + base + L"\\out"}), 0);
    EXPECT_EQ(ReadTree(base + L"\\out"), tree);
}

TEST(ArchiveEntryTest, RunsFromTwoThreadsAreSerialisedAndBothSucceed) {
    ScratchFolder folder(L"entry");
    const FileTree first = SampleTree();
    const FileTree second{{L"other.bin", NoiseBytes(400000, 9)}};
    WriteTree(folder / L"src1", first);
    WriteTree(folder / L"src2", second);
    ASSERT_TRUE(MakeArchive(folder / L"1.7z", folder / L"src1"));
    ASSERT_TRUE(MakeArchive(folder / L"2.7z", folder / L"src2"));

    ArchiveEvents events1, events2;
    int rc1 = -1, rc2 = -1;
    std::thread t1([&] { rc1 = RunArchiver({L"x", folder / L"1.7z", L"-o" + folder / L"out1", L"-bsp1"}, &events1); });
    std::thread t2([&] { rc2 = RunArchiver({L"x", folder / L"2.7z", L"-o" + folder / L"out2", L"-bsp1"}, &events2); });
    t1.join();
    t2.join();
    EXPECT_EQ(rc1, 0);
    EXPECT_EQ(rc2, 0);
    EXPECT_EQ(ReadTree(folder / L"out1"), first);
    EXPECT_EQ(ReadTree(folder / L"out2"), second);
    // Each run's progress reached its own callback only.
    ASSERT_FALSE(events1.progress.empty());
    ASSERT_FALSE(events2.progress.empty());
    EXPECT_EQ(events1.progress.back(), 100u);
    EXPECT_EQ(events2.progress.back(), 100u);
}

TEST(ArchiveEntryTest, PrintedArgumentsMaskThePassword) {
    ScratchFolder folder(L"entry");
    WriteTree(folder / L"src", {{L"a.txt", "x"}});
    // Standard output goes to a file while the run prints its arguments.
    fflush(stdout);
    const int saved = _dup(1);
    FILE* capture = _wfopen((folder / L"stdout.txt").c_str(), L"wb");
    ASSERT_NE(capture, nullptr);
    _dup2(_fileno(capture), 1);
    const int rc = RunArchiver({L"a", folder / L"enc.7z", folder / L"src\\*", L"-pVerySecret1"});
    fflush(stdout);
    _dup2(saved, 1);
    _close(saved);
    fclose(capture);
    EXPECT_EQ(rc, 0);
    const std::string printed = ReadFileBytes(folder / L"stdout.txt");
    EXPECT_NE(printed.find("-p***"), std::string::npos);
    EXPECT_EQ(printed.find("VerySecret1"), std::string::npos);
}
