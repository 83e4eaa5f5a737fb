// Scoped lock over a handle of the named mutex that guards the target file,
// the byte counters and the completion check. Win32 mutexes are recursive,
// so a callback that calls back into the engine on the same thread is safe.
#pragma once

#include <winsock2.h>
#include <windows.h>

class AutoMutex {
public:
    // Waits at most kWaitLimitMs; a holder that keeps it longer is a fault,
    // and the caller then goes on without the lock (see locked()).
    static constexpr DWORD kWaitLimitMs = 60000;

    explicit AutoMutex(HANDLE mutex);
    virtual ~AutoMutex();
    AutoMutex(const AutoMutex&) = delete;
    AutoMutex& operator=(const AutoMutex&) = delete;

    // True when the mutex is held, or when there is no handle (a no-op lock).
    bool locked() const { return owned_ || !mutex_; }

private:
    HANDLE mutex_;
    bool owned_ = false;
    bool nested_ = false;     // inside an AutoMutex of this thread on the same handle
    bool outermost_ = false;  // the thread's first hold of this handle
};

// Creates (or opens) the mutex "Download_File": no security attributes, not owned.
HANDLE CreateDownloadFileMutex();
