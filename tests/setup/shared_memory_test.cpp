// The shared-memory progress channel: another process makes a named mapping,
// the dialog opens it by name and writes "pos:" and the install progress at
// its start. Here the peer's side is this test: it makes the mapping and
// reads what the dialog wrote through a view of its own.
#include <gtest/gtest.h>

#include <windows.h>

#include <string>

#include "Log.h"
#include "SetupDlg.h"
#include "TestSupport.h"
#include "Text.h"

using namespace testing_support;

namespace {

std::wstring MappingName(const wchar_t* what) {
    return std::wstring(L"Local\\OrvaneProgress-") + what + L"-" + std::to_wstring(GetCurrentProcessId());
}

// The peer's end: a mapping of size bytes and a view of it.
class PeerMapping {
public:
    PeerMapping(const std::wstring& name, DWORD size) {
        mapping_ = CreateFileMappingW(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, size, name.c_str());
        if (mapping_) view_ = static_cast<char*>(MapViewOfFile(mapping_, FILE_MAP_READ, 0, 0, 0));
        MEMORY_BASIC_INFORMATION region{};
        if (view_ && VirtualQuery(view_, &region, sizeof(region))) viewSize_ = region.RegionSize;
    }
    ~PeerMapping() {
        if (view_) UnmapViewOfFile(view_);
        if (mapping_) CloseHandle(mapping_);
    }
    const char* view() const { return view_; }
    size_t viewSize() const { return viewSize_; }

private:
    HANDLE mapping_ = nullptr;
    char* view_ = nullptr;
    size_t viewSize_ = 0;
};

class SharedMemoryTest : public ::testing::Test {
protected:
    void SetUp() override { GetLog()->Init(log_); }
    void TearDown() override { dlg_.CloseSharedMemory(); }
    std::string Log() { return ReadFileBytes(log_); }

    ScratchFolder scratch_{L"shared_memory"};
    std::wstring log_ = scratch_ / L"install.log";
    SetupDlg dlg_;
};

TEST_F(SharedMemoryTest, APeerReadsTheProgressTheDialogWrites) {
    const std::wstring name = MappingName(L"progress");
    PeerMapping peer(name, 64);
    ASSERT_NE(peer.view(), nullptr);
    ASSERT_TRUE(dlg_.OpenSharedMemory(name));
    EXPECT_NE(dlg_.pSharedView, nullptr);
    EXPECT_FALSE(dlg_.OpenSharedMemory(name)) << "one mapping per dialog";

    for (const char* text : {"pos:0", "pos:420", "pos:1000", "pos:7"}) {
        dlg_.WriteSharedMemory(text);
        EXPECT_STREQ(peer.view(), text);
    }
    dlg_.CloseSharedMemory();
    EXPECT_EQ(dlg_.pSharedView, nullptr);
    EXPECT_EQ(dlg_.hSharedMemory, nullptr);
    dlg_.WriteSharedMemory("pos:999");  // closed: nothing is written
    EXPECT_STREQ(peer.view(), "pos:7");
    EXPECT_NE(Log().find("Create Shared Memory fail! -- " + WideToNarrow(name)), std::string::npos)
        << "the line opens every attempt";
}

// A text longer than the view is cut at the view's last byte, which holds the
// terminating zero; nothing is written past the view.
TEST_F(SharedMemoryTest, TheWriteStaysInsideTheView) {
    const std::wstring name = MappingName(L"bounded");
    PeerMapping peer(name, 9);  // "pos:1000" and its zero, rounded up to a page
    ASSERT_NE(peer.view(), nullptr);
    const size_t size = peer.viewSize();
    ASSERT_GE(size, 9u);
    ASSERT_TRUE(dlg_.OpenSharedMemory(name));

    const std::string longText(size * 3, 'x');
    dlg_.WriteSharedMemory(longText.c_str());
    EXPECT_EQ(peer.view()[size - 1], '\0');
    EXPECT_EQ(std::string(peer.view(), size - 1), std::string(size - 1, 'x'));
    dlg_.WriteSharedMemory("pos:1000");
    EXPECT_STREQ(peer.view(), "pos:1000");
}

TEST_F(SharedMemoryTest, NoMappingOfTheNameIsLoggedAndLeftAlone) {
    const std::wstring name = MappingName(L"missing");
    EXPECT_FALSE(dlg_.OpenSharedMemory(name));
    EXPECT_EQ(dlg_.hSharedMemory, nullptr);
    EXPECT_EQ(dlg_.pSharedView, nullptr);
    dlg_.WriteSharedMemory("pos:10");  // checks the view: no write, no fault
    const std::string log = Log();
    EXPECT_NE(log.find("Create Shared Memory fail! -- " + WideToNarrow(name)), std::string::npos);
    EXPECT_NE(log.find("Create Shared Memory fail! ---1 2 "), std::string::npos) << "ERROR_FILE_NOT_FOUND";
}

}  // namespace
