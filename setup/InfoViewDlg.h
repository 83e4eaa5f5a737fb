// The debug window ("Info View"): a plain dialog, shown only when the debug
// configuration asks for it, with two views on one place: the download
// engine's byte-range transfers and every line the installer logs.
//
// Threads: the window belongs to the user-interface thread. Log lines arrive
// from any thread and range tables from the paint thread; neither may wait
// for the user-interface thread (it may itself be waiting for them, as the
// close handler does for the workers). So both are copied into queues under
// m_queueLock and a posted message asks the window's thread to show them.
// Lines carry their number in the install log, so the list keeps the file's
// order whichever thread's line arrives first. Nothing is queued while no
// window exists (before its first message, after it is destroyed or when its
// creation failed).
#pragma once

#include <windows.h>

#include <array>
#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "CommonDlg.h"

struct DownloadProgress;

class InfoViewDlg : public CommonDlg {
public:
    InfoViewDlg() = default;
    ~InfoViewDlg() override;

    int OnInitDialog(HWND wnd) override;
    INT_PTR DialogProc(HWND wnd, UINT message, WPARAM wParam, LPARAM lParam) override;

    // Queues one line for the log list; any thread, never waits for the
    // window. Always 1.
    int AddLogLine(const char* message);
    // Copies the progress into a table for the window, at most once a second
    // (0 when skipped by that limit, else 1); a null progress only moves the
    // refresh time. Any thread, never waits for the window.
    int UpdateSegments(DownloadProgress* progress);
    // "%.2fMB" above 1048576 bytes, "%.2fKB" above 1024, else "%dByte"; the
    // buffer is cleared first. Returns buffer.
    static wchar_t* FormatSize(uint32_t bytes, wchar_t* buffer, size_t capacity);
    // The window is gone or was never made: drops what is queued and queues
    // nothing more until a window's first message. User-interface thread.
    void Detach();
    // Takes the two views' handles and builds the table's columns.
    void InitColumns(HWND dialog);

    // The eight column texts of one table row.
    typedef std::array<std::wstring, 8> SegmentRow;
    // The rows UpdateSegments shows for a progress: one per item in id order,
    // then the "Total Speed:" row.
    static std::vector<SegmentRow> MakeSegmentRows(const DownloadProgress& progress);

private:
    // Shows what the queues hold; user-interface thread only.
    void DrainQueues();
    void ShowSegmentView(bool segments);
    void PostDrain();
    // The window's first message: lines and tables are queued from now on.
    void Attach();

    struct NumberedLine {
        uint64_t number;  // the line's number in the log; 0 when unknown
        std::string text;
    };

    HWND hSegmentList = nullptr;  // 1001, user-interface thread only
    HWND hLogList = nullptr;      // 1005, user-interface thread only
    std::atomic<uint32_t> dwLastRefresh{0};
    // Where the drain requests go: set by OnInitDialog, read by any thread.
    std::atomic<HWND> m_postTarget{nullptr};
    std::atomic<bool> m_drainPosted{false};

    // The log numbers of the list's lines, in list order; user-interface thread only.
    std::vector<uint64_t> m_shownNumbers;
    bool m_attached = false;  // user-interface thread only

    std::mutex m_queueLock;
    bool m_hasWindow = false;                  // m_queueLock
    std::vector<NumberedLine> m_pendingLines;  // m_queueLock
    std::vector<SegmentRow> m_pendingRows;     // m_queueLock
    bool m_hasPendingRows = false;             // m_queueLock
};

// The one debug window's object: made by the window's first message on the
// user-interface thread, before any other thread starts; never deleted.
extern std::atomic<InfoViewDlg*> g_pInfoView;

// Opens the debug window when show_info_view is 1; always 1.
int ShowInfoViewIfEnabled();
// The log's callback: copies a line into the debug window when it is open; always 1.
int OnLogLine(const char* message);
// The download painter's hand-over of its copy of the engine's figures;
// always 1. Never waits for anything but the window's own short queue lock.
int OnDownloadSegments(DownloadProgress* progress);
// The dialog procedure of the debug window's template.
INT_PTR CALLBACK InfoViewDlgProc(HWND wnd, UINT message, WPARAM wParam, LPARAM lParam);
