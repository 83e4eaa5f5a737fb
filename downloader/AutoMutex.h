// Scoped lock over a handle of the named mutex that guards the target file,
// the byte counters and the completion check. Win32 mutexes are recursive,
// so a callback that calls back into the engine on the same thread is safe.
#pragma once

#include <winsock2.h>
#include <windows.h>

class AutoMutex {
public:
    // The longest a lock waits. A holder that keeps it longer (another
    // process's engine, a callback that hangs) is a fault: the waiter then
    // holds nothing, and every user checks locked() before it touches what
    // the lock guards.
    static constexpr DWORD kWaitLimitMs = 60000;

    explicit AutoMutex(HANDLE mutex) : AutoMutex(mutex, WaitLimit()) {}
    AutoMutex(HANDLE mutex, DWORD waitMs);
    virtual ~AutoMutex();
    AutoMutex(const AutoMutex&) = delete;
    AutoMutex& operator=(const AutoMutex&) = delete;

    // True when the mutex is held, or when there is no handle (a no-op lock).
    [[nodiscard]] bool locked() const { return owned_ || !mutex_; }

    // The bound every lock waits (kWaitLimitMs unless a test shortened it).
    static DWORD WaitLimit();
    // For tests that make a holder outlast the bound without waiting a minute.
    static void SetWaitLimitForTests(DWORD ms);

private:
    HANDLE mutex_;
    bool owned_ = false;
    bool nested_ = false;     // inside an AutoMutex of this thread on the same handle
    bool outermost_ = false;  // the thread's first hold of this handle
};

// Creates (or opens) the mutex "Download_File": no security attributes, not owned.
HANDLE CreateDownloadFileMutex();
