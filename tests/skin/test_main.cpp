// The skin tests' entry point. After windows were shown on the Xvfb display,
// Wine now and then does not finish ending the process (seen: a test passed,
// then its process ran into the two-minute timeout). The results are written
// and flushed first; then the process ends at once, without the unloading
// that stalls.
#include <gtest/gtest.h>

#include <windows.h>

#include <cstdio>

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    const int result = RUN_ALL_TESTS();
    std::fflush(stdout);
    std::fflush(stderr);
    TerminateProcess(GetCurrentProcess(), static_cast<UINT>(result));
    return result;
}
