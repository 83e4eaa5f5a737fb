// The package builder tool (mkpackage.exe) run as a separate program: the
// package it writes carries the header fields given and verifies.
#include <gtest/gtest.h>

#include "ArchiveTestSupport.h"
#include "PackageHeader.h"
#include "TestSupport.h"

using namespace testing_support;
using namespace package_testing;

namespace {

std::wstring Tool() { return BuildPath(L"tools/mkpackage/mkpackage.exe"); }

}  // namespace

TEST(PackageBuilderTest, WritesTheHeaderFieldsAndAVerifiablePackage) {
    ScratchFolder folder(L"builder");
    WriteTree(folder / L"src", SampleTree());
    WriteFileBytes(folder / L"uninst.exe", "MZ image");
    const std::wstring package = folder / L"setup.exe";
    const ProcessResult run = RunProcess(
        L"\"" + Tool() + L"\" --source \"" + folder / L"src" + L"\" --out \"" + package + L"\" --uninstaller \"" +
            folder / L"uninst.exe" +
            L"\" --folder-name Orvane --product-name \"Tarvex Orvane\" --version 2.1.0.7 --display-name Orvane"
            L" --release-date 2026-12-10 --info-url https://example.invalid/ --publisher Tarvex --x64",
        120000);
    ASSERT_TRUE(run.finished);
    ASSERT_EQ(run.exitCode, 0u);

    PackageHeader h;
    ASSERT_EQ(ReadPackageHeader(package.c_str(), h), S_OK);
    EXPECT_EQ(std::string(h.tag, 8), "Krevanto");
    EXPECT_EQ(PackageHeader::FieldText(h.installFolderName), "Orvane");
    EXPECT_EQ(PackageHeader::FieldText(h.productName), "Tarvex Orvane");
    EXPECT_EQ(PackageHeader::FieldText(h.version), "2.1.0.7");
    EXPECT_EQ(PackageHeader::FieldText(h.releaseDate), "2026-12-10");
    EXPECT_EQ(PackageHeader::FieldText(h.infoUrl), "https://example.invalid/");
    EXPECT_EQ(PackageHeader::FieldText(h.publisherText), "Tarvex");
    EXPECT_EQ(h.isX64, 1);
    EXPECT_EQ(h.uninstallerSize, 8u);
    EXPECT_EQ(ReadFileBytes(package).substr(static_cast<size_t>(h.uninstallerOffset)), "MZ image");
    EXPECT_TRUE(VerifyPackage(package.c_str()));
    EXPECT_FALSE(FileExists(package + L".payload.7z"));
}

TEST(PackageBuilderTest, MissingSourceOrBadArgumentsFailAndLeaveNoFile) {
    ScratchFolder folder(L"builder");
    const std::wstring package = folder / L"setup.exe";
    ProcessResult run =
        RunProcess(L"\"" + Tool() + L"\" --source \"" + folder / L"nothing" + L"\" --out \"" + package + L"\"", 60000);
    ASSERT_TRUE(run.finished);
    EXPECT_EQ(run.exitCode, 1u);
    EXPECT_FALSE(FileExists(package));
    run = RunProcess(L"\"" + Tool() + L"\" --out \"" + package + L"\" --level 12", 60000);
    ASSERT_TRUE(run.finished);
    EXPECT_EQ(run.exitCode, 2u);
    EXPECT_FALSE(FileExists(package));
}
