#include <gtest/gtest.h>

#include <algorithm>

#include "JFile.h"
#include "TestSupport.h"

using namespace testing_support;

TEST(JFileTest, MissingFileForReadingFailsWithMinusOneAndCreatesNothing) {
    ScratchFolder folder(L"jfile");
    JFile file;
    EXPECT_EQ(file.Open(folder / L"sub\\missing.bin", E_File_Read | E_File_Binary), 0);
    EXPECT_EQ(file.GetError(), -1);
    EXPECT_FALSE(FolderExists(folder / L"sub"));
    EXPECT_EQ(file.Read(nullptr, 0), -1);
    EXPECT_EQ(file.Tell(), -1);
    EXPECT_EQ(file.GetSize(), -1);
    EXPECT_EQ(file.Seek(0, SEEK_SET), -1);
}

TEST(JFileTest, WritingCreatesFolderChainAndBinaryRoundTrips) {
    ScratchFolder folder(L"jfile");
    const std::wstring path = folder / L"a\\b\\c\\data.bin";
    const std::string bytes("\x00\x01\r\n\x1a tail", 9);
    {
        JFile file;
        ASSERT_EQ(file.Open(path, E_File_Write | E_File_Binary), 1);
        EXPECT_EQ(file.Write(bytes.data(), bytes.size()), int64_t(bytes.size()));
        EXPECT_EQ(file.Write(nullptr, 3), -1);
        file.Close();
    }
    EXPECT_EQ(ReadFileBytes(path), bytes);

    JFile file;
    ASSERT_EQ(file.Open(path, E_File_Read | E_File_Binary), 1);
    EXPECT_EQ(file.GetSize(), int64_t(bytes.size()));
    EXPECT_EQ(file.Seek(4, SEEK_SET), 0);
    EXPECT_EQ(file.GetSize(), int64_t(bytes.size()));
    EXPECT_EQ(file.Tell(), 4);  // GetSize keeps the position
    char buffer[16] = {};
    EXPECT_EQ(file.Read(buffer, sizeof(buffer)), int64_t(bytes.size() - 4));
    EXPECT_EQ(std::string(buffer, 5), bytes.substr(4));
    EXPECT_EQ(file.SeekToEnd(), 0);
    EXPECT_EQ(file.Tell(), int64_t(bytes.size()));
    EXPECT_EQ(file.SeekToBegin(), 0);
    EXPECT_EQ(file.Tell(), 0);
    file.Close();
}

TEST(JFileTest, ReadWriteTextAppendsWithCrLfAndWriteTruncates) {
    ScratchFolder folder(L"jfile");
    const std::wstring path = folder / L"log.txt";
    for (int i = 0; i < 2; ++i) {
        JFile file;
        ASSERT_EQ(file.Open(path, E_File_Read | E_File_Write | E_File_Text), 1);
        file.Write("line\n", 5);
        file.Close();
    }
    EXPECT_EQ(ReadFileBytes(path), "line\r\nline\r\n");

    JFile file;
    ASSERT_EQ(file.Open(path, E_File_Write | E_File_Binary), 1);
    file.Write("x", 1);
    file.Close();
    EXPECT_EQ(ReadFileBytes(path), "x");
}

TEST(JFileTest, ReopeningClosesThePreviousStream) {
    ScratchFolder folder(L"jfile");
    WriteFileBytes(folder / L"one", "1");
    WriteFileBytes(folder / L"two", "22");
    JFile file;
    ASSERT_EQ(file.Open(folder / L"one", E_File_Read | E_File_Binary), 1);
    ASSERT_EQ(file.Open(folder / L"two", E_File_Read | E_File_Binary), 1);
    EXPECT_EQ(file.GetSize(), 2);
    EXPECT_EQ(file.GetError(), 0);
    // The first file is no longer held open: it can be deleted.
    EXPECT_TRUE(DeleteFileW((folder / L"one").c_str()));
    file.Close();
}

TEST(FoldersTest, CreateDirectoriesMakesEveryLevelAndRefusesLongPaths) {
    ScratchFolder folder(L"dirs");
    EXPECT_EQ(CreateDirectories(folder / L"a\\b\\c"), 1);
    EXPECT_TRUE(FolderExists(folder / L"a\\b\\c"));
    EXPECT_EQ(CreateDirectories(folder / L"x\\y\\"), 1);
    EXPECT_TRUE(FolderExists(folder / L"x\\y"));
    EXPECT_EQ(CreateDirectories(folder / L"a\\b\\c"), 1);  // existing

    std::wstring longPath = folder.path() + L"\\";
    while (longPath.size() < 261) longPath += L"d";
    longPath.resize(261);
    EXPECT_EQ(CreateDirectories(longPath), 0);
    EXPECT_FALSE(FolderExists(longPath));

    EXPECT_EQ(CreateParentDirectories(folder / L"p\\q\\file.txt"), 1);
    EXPECT_TRUE(FolderExists(folder / L"p\\q"));
    EXPECT_FALSE(FolderExists(folder / L"p\\q\\file.txt"));
}

TEST(FoldersTest, DeleteDirectoryRemovesTreeAndReportsMissingFolder) {
    ScratchFolder folder(L"del");
    const std::wstring tree = folder / L"tree";
    CreateDirectories(tree + L"\\sub\\deeper");
    WriteFileBytes(tree + L"\\a.txt", "a");
    WriteFileBytes(tree + L"\\sub\\deeper\\b.txt", "b");
    EXPECT_EQ(DeleteDirectory(tree), 1);
    EXPECT_FALSE(FolderExists(tree));
    EXPECT_EQ(DeleteDirectory(tree), 0);
    EXPECT_EQ(DeleteDirectory(folder / L"missing\\"), 0);
}

TEST(FoldersTest, DeleteDirectoryKeepsReadOnlyFileAndItsFolders) {
    ScratchFolder folder(L"del");
    const std::wstring tree = folder / L"tree";
    CreateDirectories(tree + L"\\keep");
    WriteFileBytes(tree + L"\\keep\\ro.txt", "r");
    WriteFileBytes(tree + L"\\gone.txt", "g");
    SetFileAttributesW((tree + L"\\keep\\ro.txt").c_str(), FILE_ATTRIBUTE_READONLY);
    EXPECT_EQ(DeleteDirectory(tree + L"\\"), 1);
    EXPECT_TRUE(FileExists(tree + L"\\keep\\ro.txt"));
    EXPECT_FALSE(FileExists(tree + L"\\gone.txt"));
    SetFileAttributesW((tree + L"\\keep\\ro.txt").c_str(), FILE_ATTRIBUTE_NORMAL);
}

TEST(FoldersTest, DeleteDirectoryRefusesEmptyRelativeAndRootPaths) {
    // Each of these would reach far past anything the installer made.
    ScratchFolder folder(L"del");
    WriteFileBytes(folder / L"witness.txt", "w");
    wchar_t previous[MAX_PATH];
    GetCurrentDirectoryW(MAX_PATH, previous);
    SetCurrentDirectoryW(folder.path().c_str());
    for (const wchar_t* path : {L"", L".", L"relative", L"sub\\dir", L"C:", L"C:\\", L"Z:\\", L"\\", L"C:\\\\"}) {
        EXPECT_EQ(DeleteDirectory(path), 0) << "path: [" << std::string(path, path + wcslen(path)) << "]";
    }
    SetCurrentDirectoryW(previous);
    EXPECT_TRUE(FileExists(folder / L"witness.txt"));
}

namespace {
bool IsListed(const std::wstring& path) {
    WIN32_FIND_DATAW entry;
    HANDLE find = FindFirstFileW(path.c_str(), &entry);
    if (find == INVALID_HANDLE_VALUE) return false;
    FindClose(find);
    return true;
}
}  // namespace

TEST(FoldersTest, DeleteDirectoryNeverEntersLinks) {
    ScratchFolder folder(L"del");
    const std::wstring outside = folder / L"outside";
    CreateDirectories(outside);
    WriteFileBytes(outside + L"\\precious.txt", "p");
    const std::wstring tree = folder / L"tree";
    CreateDirectories(tree);
    WriteFileBytes(tree + L"\\own.txt", "o");
    const FolderLink inner = MakeFolderLink(tree + L"\\link", outside);
    if (inner == FolderLink::None) GTEST_SKIP() << "no folder link can be made here";
    const FolderLink top = MakeFolderLink(folder / L"toplink", outside);
    ASSERT_EQ(top, inner);

    DeleteDirectory(tree);
    EXPECT_FALSE(FileExists(tree + L"\\own.txt"));
    EXPECT_TRUE(FileExists(outside + L"\\precious.txt"));
    // A folder that is itself a link: the target stays.
    DeleteDirectory(folder / L"toplink");
    EXPECT_TRUE(FileExists(outside + L"\\precious.txt"));

    if (inner == FolderLink::Windows) {
        // The links themselves go, and with the inner one the whole tree.
        EXPECT_FALSE(FolderExists(tree));
        EXPECT_FALSE(IsListed(folder / L"toplink"));
    }
}

TEST(FoldersTest, ListFilesRecursiveSkipsDotFolders) {
    ScratchFolder folder(L"list");
    CreateDirectories(folder / L"sub\\deep");
    CreateDirectories(folder / L".hidden");
    WriteFileBytes(folder / L"a.txt", "a");
    WriteFileBytes(folder / L"sub\\deep\\b.txt", "b");
    WriteFileBytes(folder / L".hidden\\c.txt", "c");
    std::vector<std::wstring> files;
    EXPECT_EQ(ListFilesRecursive(folder.path() + L"\\", files), 0);
    std::sort(files.begin(), files.end());
    ASSERT_EQ(files.size(), 2u);
    EXPECT_EQ(files[0], folder / L"a.txt");
    EXPECT_EQ(files[1], folder / L"sub\\deep\\b.txt");
    EXPECT_EQ(ListFilesRecursive(folder / L"missing\\", files), -1);
}

TEST(FoldersTest, DeleteMatchingEntriesRemovesOnlyMatchingNames) {
    ScratchFolder folder(L"match");
    CreateDirectories(folder / L"data\\cache_old\\x");
    WriteFileBytes(folder / L"data\\cache_old\\x\\f", "f");
    WriteFileBytes(folder / L"data\\cache.bin", "c");
    WriteFileBytes(folder / L"data\\keep.txt", "k");
    DeleteMatchingEntries(folder.path(), L"data", L"cache");
    EXPECT_FALSE(FolderExists(folder / L"data\\cache_old"));
    EXPECT_FALSE(FileExists(folder / L"data\\cache.bin"));
    EXPECT_TRUE(FileExists(folder / L"data\\keep.txt"));
    EXPECT_TRUE(FolderExists(folder / L"data"));  // not empty, so it stays
}

TEST(FoldersTest, WriteMiniDumpCreatesDumpFile) {
    ScratchFolder folder(L"dump");
    const std::wstring path = folder / L"crash.dmp";
    WriteFileBytes(path, "old contents");
    if (!WriteMiniDump(nullptr, path)) GTEST_SKIP() << "MiniDumpWriteDump failed here: " << GetLastError();
    const std::string bytes = ReadFileBytes(path);
    EXPECT_EQ(bytes.substr(0, 4), "MDMP");
}
