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
std::string Narrow(const std::wstring& text) { return std::string(text.begin(), text.end()); }

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

TEST(FoldersTest, ResolveDeletableFolderGivesTheFolderThePathReallyNames) {
    struct Case { const wchar_t* path; const wchar_t* resolved; };  // "" means refused
    const Case cases[] = {
        {L"C:\\a\\b", L"C:\\a\\b"},
        {L"C:/a/b/", L"C:\\a\\b"},
        {L"C:\\a\\b\\\\", L"C:\\a\\b"},
        {L"C:\\a\\.\\b\\.", L"C:\\a\\b"},
        {L"C:\\a\\c\\..\\b", L"C:\\a\\b"},
        {L"C:\\a\\..\\..\\..\\b", L"C:\\b"},
        {L"c:\\a", L"c:\\a"},
        {L"\\\\server\\share\\a", L"\\\\server\\share\\a"},
        {L"//server/share/a/", L"\\\\server\\share\\a"},
        // Walks out to a root.
        {L"C:\\a\\..", L""},
        {L"C:/a/..", L""},
        {L"C:\\a\\.\\..\\", L""},
        {L"C:\\a\\..\\.", L""},
        {L"C:\\a\\b\\..\\..", L""},
        {L"\\\\server\\share\\a\\..", L""},
        // Roots, and paths whose meaning depends on the current folder or drive.
        {L"C:\\", L""}, {L"C:/", L""}, {L"C:\\\\", L""}, {L"C:", L""}, {L"C:a", L""}, {L"\\a", L""},
        {L"/a", L""}, {L"a", L""}, {L".", L""}, {L"..", L""}, {L"", L""},
        {L"\\\\server\\share", L""}, {L"\\\\server\\share\\", L""}, {L"\\\\server", L""},
        // Device and verbatim forms skip the system's path rules.
        {L"\\\\?\\C:\\a", L""}, {L"\\\\.\\C:\\a", L""}, {L"//?/C:/a", L""}, {L"//./C:/a", L""},
        {L"\\\\?\\UNC\\server\\share\\a", L""}, {L"\\??\\C:\\a", L""},
        // Wildcards would list other entries than the one named.
        {L"C:\\a\\*", L""}, {L"C:\\a?", L""}, {L"C:\\a<", L""}, {L"C:\\a\\*\\..", L""},
    };
    for (const Case& c : cases)
        EXPECT_EQ(ResolveDeletableFolder(c.path), c.resolved) << "path: [" << Narrow(c.path) << "]";
}

namespace {

// What one deletion may touch: below the scratch drive's root a witness file,
// the tree "x" and a folder "outside" that "link" points at.
struct DeletionCase {
    const wchar_t* path;  // "%D" stands for the scratch drive ("P:")
    enum Effect { Refused, DeletesX, RemovesOnlyTheLink } effect;
};

std::wstring OnDrive(const std::wstring& path, const std::wstring& drive) {
    std::wstring out = path;
    for (size_t at = out.find(L"%D"); at != std::wstring::npos; at = out.find(L"%D"))
        out.replace(at, 2, drive);
    return out;
}

}  // namespace

TEST(FoldersTest, DeleteDirectoryActsOnTheResolvedFolderAndNeverThroughALink) {
    ScratchFolder folder(L"del-table");
    const std::wstring root = folder / L"root";
    CreateDirectories(root);
    ScratchDrive scratch(root);
    ASSERT_FALSE(scratch.drive().empty()) << "no drive letter could be defined";
    const std::wstring drive = scratch.drive();
    CreateDirectories(root + L"\\outside");
    WriteFileBytes(root + L"\\outside\\precious.txt", "p");
    WriteFileBytes(root + L"\\witness.txt", "w");
    const FolderLink link = MakeFolderLink(root + L"\\link", root + L"\\outside");

    const DeletionCase cases[] = {
        {L"", DeletionCase::Refused},
        {L".", DeletionCase::Refused},
        {L"..", DeletionCase::Refused},
        {L"sub", DeletionCase::Refused},
        {L"%D", DeletionCase::Refused},
        {L"%Dsub", DeletionCase::Refused},
        {L"\\x", DeletionCase::Refused},
        {L"%D\\", DeletionCase::Refused},
        {L"%D/", DeletionCase::Refused},
        {L"%D\\x\\..", DeletionCase::Refused},
        {L"%D/x/..", DeletionCase::Refused},
        {L"%D\\x\\.\\..\\", DeletionCase::Refused},
        {L"%D\\x\\..\\.", DeletionCase::Refused},
        {L"%D\\x\\sub\\..\\..", DeletionCase::Refused},
        {L"%D\\x\\..\\..\\..", DeletionCase::Refused},
        {L"\\\\?\\%D\\x", DeletionCase::Refused},
        {L"\\\\.\\%D\\x", DeletionCase::Refused},
        {L"\\\\?\\%D\\", DeletionCase::Refused},
        {L"%D\\x\\*", DeletionCase::Refused},
        {L"%D\\*", DeletionCase::Refused},
        {L"%D\\x", DeletionCase::DeletesX},
        {L"%D\\x\\", DeletionCase::DeletesX},
        {L"%D\\x\\\\", DeletionCase::DeletesX},
        {L"%D/x/", DeletionCase::DeletesX},
        {L"%D\\x\\.", DeletionCase::DeletesX},
        {L"%D\\x\\sub\\..", DeletionCase::DeletesX},
        {L"%D/x/sub/../", DeletionCase::DeletesX},
        {L"%D\\outside\\..\\x", DeletionCase::DeletesX},
        {L"%D\\link", DeletionCase::RemovesOnlyTheLink},
        {L"%D\\link\\", DeletionCase::RemovesOnlyTheLink},
        {L"%D\\link\\.", DeletionCase::RemovesOnlyTheLink},
        {L"%D/link/", DeletionCase::RemovesOnlyTheLink},
        {L"%D\\x\\..\\link\\.", DeletionCase::RemovesOnlyTheLink},
    };
    wchar_t previous[MAX_PATH];
    GetCurrentDirectoryW(MAX_PATH, previous);
    for (const DeletionCase& c : cases) {
        if (c.effect == DeletionCase::RemovesOnlyTheLink && link == FolderLink::None) continue;
        if (c.effect == DeletionCase::RemovesOnlyTheLink && !IsListed(root + L"\\link")) {
            // A real link went with the case before; the next one gets a new one.
            ASSERT_EQ(MakeFolderLink(root + L"\\link", root + L"\\outside"), link);
        }
        CreateDirectories(root + L"\\x\\sub");
        WriteFileBytes(root + L"\\x\\inner.txt", "i");
        WriteFileBytes(root + L"\\x\\sub\\deep.txt", "d");
        // Relative and drive-relative paths would name the drive's root from here.
        SetCurrentDirectoryW((drive + L"\\").c_str());
        const std::wstring path = OnDrive(c.path, drive);
        const int result = DeleteDirectory(path);
        SetCurrentDirectoryW(previous);

        const std::string name = "path: [" + Narrow(path) + "]";
        EXPECT_TRUE(FileExists(root + L"\\witness.txt")) << name;
        EXPECT_TRUE(FileExists(root + L"\\outside\\precious.txt")) << name;
        switch (c.effect) {
            case DeletionCase::Refused:
                EXPECT_EQ(result, 0) << name;
                EXPECT_TRUE(FileExists(root + L"\\x\\sub\\deep.txt")) << name;
                break;
            case DeletionCase::DeletesX:
                EXPECT_EQ(result, 1) << name;
                EXPECT_FALSE(FolderExists(root + L"\\x")) << name;
                break;
            case DeletionCase::RemovesOnlyTheLink:
                EXPECT_TRUE(FileExists(root + L"\\x\\sub\\deep.txt")) << name;
                // Wine cannot remove the Unix link it lists; a Windows link goes.
                if (link == FolderLink::Windows) {
                    EXPECT_EQ(result, 1) << name;
                    EXPECT_FALSE(IsListed(root + L"\\link")) << name;
                }
                break;
        }
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
