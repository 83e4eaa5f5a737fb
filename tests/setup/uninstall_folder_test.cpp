// Which folders the uninstall deletes: only the product's own (its executable,
// or the uninstaller header naming the product, beside "uninstall.exe"); a
// folder holding another program's "uninstall.exe" and the shared folders of
// the machine are left as they are.
#include <windows.h>
#include <shlobj.h>

#include <gtest/gtest.h>

#include <string>
#include <thread>

#include "InstallFolder.h"
#include "Log.h"
#include "Orvane.h"
#include "PackageHeader.h"
#include "ProductConfig.h"
#include "TestSupport.h"
#include "Text.h"

using namespace testing_support;

namespace {

std::wstring ShellFolder(int id) {
    wchar_t buffer[MAX_PATH] = {};
    if (FAILED(SHGetFolderPathW(nullptr, id, nullptr, SHGFP_TYPE_CURRENT, buffer))) return {};
    return buffer;
}

// The 64-bit Program Files folder as Windows gives it to a 32-bit process.
std::wstring NativeProgramFiles() {
    wchar_t buffer[MAX_PATH] = {};
    const DWORD length = GetEnvironmentVariableW(L"ProgramW6432", buffer, MAX_PATH);
    return length > 0 && length < MAX_PATH ? std::wstring(buffer) : std::wstring();
}

class UninstallFolderTest : public ::testing::Test {
protected:
    void SetUp() override {
        PackageHeader::SetFieldText(dlg_.packageHeader.productName, ProductConfig::GetProductName());
    }

    // Runs the worker on the uninstaller path and gives the log's text.
    std::string RunWorker(const std::wstring& packagePath) {
        const std::wstring log = scratch_ / L"install.log";
        DeleteFileW(log.c_str());
        GetLog()->Init(log);
        dlg_.SetPackagePath(packagePath);
        unsigned code = 1;
        std::thread worker([&] { code = UninstallThreadProc(&dlg_); });
        worker.join();
        EXPECT_EQ(code, 0u);
        return ReadFileBytes(log);
    }

    static std::string Refusal(const char* reason, const std::wstring& packagePath) {
        return std::string("Uninstall refused to delete the installation folder: ") + reason + ".(" +
               WideToNarrow(packagePath) + ")";
    }

    ScratchFolder scratch_{L"uninstall-folder"};
    Orvane dlg_;
};

// Another program's folder with its own "uninstall.exe": nothing of it goes.
TEST_F(UninstallFolderTest, ForeignUninstallerFolderIsRefused) {
    const std::wstring folder = scratch_ / L"OtherProgram";
    CreateDirectoryW(folder.c_str(), nullptr);
    WriteFileBytes(folder + L"\\uninstall.exe", "another program's uninstaller");
    WriteFileBytes(folder + L"\\other.exe", "another program");

    const std::string log = RunWorker(folder + L"\\uninstall.exe");
    EXPECT_NE(log.find(Refusal("the folder is not the product's", folder + L"\\uninstall.exe")), std::string::npos)
        << log;
    EXPECT_EQ(log.find("Begin delete file."), std::string::npos);
    EXPECT_TRUE(FileExists(folder + L"\\uninstall.exe"));
    EXPECT_TRUE(FileExists(folder + L"\\other.exe"));

    // The uninstaller header of another product proves nothing either.
    PackageHeader other{};
    PackageHeader::SetFieldText(other.productName, "Another Product");
    ASSERT_EQ(WriteHeaderFile((folder + L"\\" + kUninstallerHeaderName).c_str(), other), S_OK);
    const std::string again = RunWorker(folder + L"\\uninstall.exe");
    EXPECT_NE(again.find(Refusal("the folder is not the product's", folder + L"\\uninstall.exe")), std::string::npos)
        << again;
    EXPECT_TRUE(FileExists(folder + L"\\other.exe"));
}

// The shared folders of the machine, each laid out so that it would look like
// the product's own folder (uninstaller and product executable): the folder
// and a folder below it are refused all the same and keep everything.
TEST_F(UninstallFolderTest, SharedFoldersAreRefused) {
    const struct {
        const char* name;
        std::wstring folder;
    } cases[] = {
        {"native Program Files", NativeProgramFiles()},
        {"Public Documents", ShellFolder(CSIDL_COMMON_DOCUMENTS)},
        {"Public Desktop", ShellFolder(CSIDL_COMMON_DESKTOPDIRECTORY)},
    };
    const std::wstring exe = ProductConfig::GetMainExeNameW();
    for (const auto& c : cases) {
        // Wine gives a 32-bit prefix no native Program Files.
        if (c.folder.empty()) {
            ADD_FAILURE() << c.name << ": the folder is unknown in this prefix";
            continue;
        }
        ASSERT_TRUE(FolderExists(c.folder)) << c.name;
        const std::wstring uninstaller = c.folder + L"\\uninstall.exe";
        const std::wstring product = c.folder + L"\\" + exe;
        const std::wstring neighbour = c.folder + L"\\neighbour-keep.txt";
        WriteFileBytes(uninstaller, "uninstaller");
        WriteFileBytes(product, "product");
        WriteFileBytes(neighbour, "keep");

        const std::string log = RunWorker(uninstaller);
        EXPECT_NE(log.find(Refusal("a folder of the user or of the system", uninstaller)), std::string::npos)
            << c.name << "\n"
            << log;
        EXPECT_EQ(log.find("Begin delete file."), std::string::npos) << c.name;
        EXPECT_TRUE(FileExists(neighbour)) << c.name;
        EXPECT_TRUE(FolderExists(c.folder)) << c.name;
        DeleteFileW(uninstaller.c_str());
        DeleteFileW(product.c_str());
        DeleteFileW(neighbour.c_str());
    }
}

// The product's own folder, known by the uninstaller header an install wrote
// (no product executable left in it), is removed.
TEST_F(UninstallFolderTest, ProductsOwnFolderIsRemoved) {
    const std::wstring folder = scratch_ / L"Tarvex\\Orvane";
    SHCreateDirectoryExW(nullptr, folder.c_str(), nullptr);
    WriteFileBytes(folder + L"\\uninstall.exe", "uninstaller");
    WriteFileBytes(folder + L"\\data.bin", "product data");
    ASSERT_EQ(WriteHeaderFile((folder + L"\\" + kUninstallerHeaderName).c_str(), dlg_.packageHeader), S_OK);

    const std::string log = RunWorker(folder + L"\\uninstall.exe");
    EXPECT_NE(log.find("Begin delete file.(" + WideToNarrow(folder) + ")"), std::string::npos) << log;
    EXPECT_EQ(log.find("Uninstall refused"), std::string::npos) << log;
    EXPECT_FALSE(FolderExists(folder));
    EXPECT_TRUE(FolderExists(scratch_ / L"Tarvex"));
}

}  // namespace
