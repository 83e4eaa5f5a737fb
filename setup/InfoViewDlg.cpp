// The engine's header brings winsock2.h, which must come before windows.h.
#include "IDownloader.h"
#include "InfoViewDlg.h"

#include <commctrl.h>

#include <algorithm>
#include <cstdio>

#include "DebugConfig.h"
#include "Log.h"
#include "Text.h"
#include "resource.h"

std::atomic<InfoViewDlg*> g_pInfoView{nullptr};

namespace {

// Posted to the window when its queues hold something to show.
constexpr UINT kDrainMessage = WM_APP + 0x119;
constexpr DWORD kRefreshIntervalMs = 1000;
constexpr size_t kSizeText = 64;

struct Column {
    const wchar_t* header;
    int width;
};

constexpr Column kColumns[8] = {
    {L"Num", 100}, {L"Start", 100}, {L"End", 100}, {L"Current", 100},
    {L"Rate", 50}, {L"Speed", 100}, {L"Status", 150}, {L"Url", 450},
};

std::wstring SizeText(uint32_t bytes) {
    wchar_t text[kSizeText];
    return InfoViewDlg::FormatSize(bytes, text, kSizeText);
}

// Percent of the range done. The range holds last - first + 1 bytes, so a
// finished range shows 100 and a one-byte range has no division by zero.
float RatePercent(const DownloadItem& item) {
    const int64_t length = item.end - item.start + 1;
    if (length <= 0) return 0.0f;
    return static_cast<float>(item.pos - item.start) * 100.0f / static_cast<float>(length);
}

InfoViewDlg::SegmentRow MakeItemRow(const DownloadItem& item) {
    InfoViewDlg::SegmentRow row;
    row[0] = std::to_wstring(item.id);
    row[1] = SizeText(static_cast<uint32_t>(item.start));
    row[2] = SizeText(static_cast<uint32_t>(item.end));
    row[3] = SizeText(static_cast<uint32_t>(item.pos - item.start));
    wchar_t rate[kSizeText];
    swprintf(rate, kSizeText, L"%.2f", static_cast<double>(RatePercent(item)));
    row[4] = rate;
    row[5] = SizeText(item.speed) + L"/s";
    row[6] = NarrowToWide(GetItemStatusName(&item.status));
    row[7] = item.url ? NarrowToWide(item.url) : std::wstring();
    return row;
}

void SetCell(HWND list, int index, int column, const std::wstring& text) {
    LVITEMW cell = {};
    cell.iSubItem = column;
    cell.pszText = const_cast<wchar_t*>(text.c_str());
    SendMessageW(list, LVM_SETITEMTEXTW, index, reinterpret_cast<LPARAM>(&cell));
}

void ShowRows(HWND list, const std::vector<InfoViewDlg::SegmentRow>& rows) {
    SendMessageW(list, WM_SETREDRAW, FALSE, 0);
    SendMessageW(list, LVM_DELETEALLITEMS, 0, 0);
    int index = 0;
    for (const InfoViewDlg::SegmentRow& row : rows) {
        LVITEMW item = {};
        item.mask = LVIF_TEXT;
        item.iItem = index;
        item.pszText = const_cast<wchar_t*>(row[0].c_str());
        const int added = static_cast<int>(SendMessageW(list, LVM_INSERTITEMW, 0, reinterpret_cast<LPARAM>(&item)));
        if (added < 0) continue;
        for (int column = 1; column < 8; ++column) {
            if (!row[column].empty()) SetCell(list, added, column, row[column]);
        }
        ++index;
    }
    SendMessageW(list, WM_SETREDRAW, TRUE, 0);
    InvalidateRect(list, nullptr, TRUE);
}

}  // namespace

InfoViewDlg::~InfoViewDlg() = default;

wchar_t* InfoViewDlg::FormatSize(uint32_t bytes, wchar_t* buffer, size_t capacity) {
    return FormatByteSize(bytes, buffer, capacity);
}

std::vector<InfoViewDlg::SegmentRow> InfoViewDlg::MakeSegmentRows(const DownloadProgress& progress) {
    std::vector<SegmentRow> rows;
    uint32_t totalSpeed = 0;
    for (const auto& entry : progress.items) {
        rows.push_back(MakeItemRow(entry.second));
        if (entry.second.status == E_Status_Runing) totalSpeed += entry.second.speed;
    }
    SegmentRow total;
    total[0] = L"Total Speed:";
    total[1] = SizeText(totalSpeed);
    rows.push_back(total);
    return rows;
}

int InfoViewDlg::OnInitDialog(HWND wnd) {
    const int result = CommonDlg::OnInitDialog(wnd);
    SetWindowTextW(wnd, L"Info View");
    InitColumns(wnd);
    ShowSegmentView(true);
    m_postTarget.store(wnd);
    // Lines logged while the window was being made wait in the queue.
    PostDrain();
    return result;
}

void InfoViewDlg::InitColumns(HWND dialog) {
    hSegmentList = GetDlgItem(dialog, IDC_INFO_SEGMENTS);
    hLogList = GetDlgItem(dialog, IDC_INFO_LOG);
    if (!hSegmentList) return;
    for (int index = 0; index < 8; ++index) {
        LVCOLUMNW column = {};
        column.mask = LVCF_FMT | LVCF_TEXT | LVCF_WIDTH | LVCF_SUBITEM;
        column.fmt = LVCFMT_LEFT;
        column.cx = kColumns[index].width;
        column.pszText = const_cast<wchar_t*>(kColumns[index].header);
        column.iSubItem = index;
        SendMessageW(hSegmentList, LVM_INSERTCOLUMNW, index, reinterpret_cast<LPARAM>(&column));
    }
    SendMessageW(hSegmentList, LVM_DELETEALLITEMS, 0, 0);
}

void InfoViewDlg::ShowSegmentView(bool segments) {
    if (hSegmentList) ShowWindow(hSegmentList, segments ? SW_SHOW : SW_HIDE);
    if (hLogList) ShowWindow(hLogList, segments ? SW_HIDE : SW_SHOW);
}

INT_PTR InfoViewDlg::DialogProc(HWND wnd, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_NCDESTROY) {
        Detach();
    } else if (!m_attached) {
        Attach();
    }
    if (message == kDrainMessage) {
        DrainQueues();
        return TRUE;
    }
    if (message == WM_COMMAND && wParam == IDC_INFO_BTN_INFO) ShowSegmentView(true);
    if (message == WM_COMMAND && wParam == IDC_INFO_BTN_LOG) ShowSegmentView(false);
    return CommonDlg::DialogProc(wnd, message, wParam, lParam);
}

void InfoViewDlg::PostDrain() {
    const HWND target = m_postTarget.load();
    if (!target || m_drainPosted.exchange(true)) return;
    // A full message queue drops the request; the next line asks again.
    if (!PostMessageW(target, kDrainMessage, 0, 0)) m_drainPosted.store(false);
}

void InfoViewDlg::Attach() {
    m_attached = true;
    std::lock_guard<std::mutex> guard(m_queueLock);
    m_hasWindow = true;
}

void InfoViewDlg::Detach() {
    m_attached = false;
    m_postTarget.store(nullptr);
    hSegmentList = nullptr;
    hLogList = nullptr;
    m_shownNumbers.clear();
    std::lock_guard<std::mutex> guard(m_queueLock);
    m_hasWindow = false;
    m_pendingLines.clear();
    m_pendingRows.clear();
    m_hasPendingRows = false;
}

int InfoViewDlg::AddLogLine(const char* message) {
    if (!message) return 1;
    {
        std::lock_guard<std::mutex> guard(m_queueLock);
        if (!m_hasWindow) return 1;
        m_pendingLines.push_back(NumberedLine{ILog::LineNumberInCallback(), message});
    }
    PostDrain();
    return 1;
}

int InfoViewDlg::UpdateSegments(DownloadProgress* progress) {
    // The painter and the user-interface thread may both call: only the one
    // that moves the refresh time goes on.
    const uint32_t now = GetTickCount();
    uint32_t last = dwLastRefresh.load();
    do {
        if (now - last < kRefreshIntervalMs) return 0;
    } while (!dwLastRefresh.compare_exchange_weak(last, now));
    if (!progress) return 1;
    // The rows own their texts, so the caller's progress may go at once.
    std::vector<SegmentRow> rows = MakeSegmentRows(*progress);
    {
        std::lock_guard<std::mutex> guard(m_queueLock);
        if (!m_hasWindow) return 1;
        m_pendingRows.swap(rows);
        m_hasPendingRows = true;
    }
    PostDrain();
    return 1;
}

void InfoViewDlg::DrainQueues() {
    // Cleared before the swap: a line queued after it posts a new request.
    m_drainPosted.store(false);
    std::vector<NumberedLine> lines;
    std::vector<SegmentRow> rows;
    bool hasRows = false;
    {
        std::lock_guard<std::mutex> guard(m_queueLock);
        lines.swap(m_pendingLines);
        rows.swap(m_pendingRows);
        hasRows = m_hasPendingRows;
        m_hasPendingRows = false;
    }
    if (hLogList) {
        for (const NumberedLine& line : lines) {
            // A line whose thread was overtaken goes where the file has it;
            // an unnumbered one goes last.
            const uint64_t number =
                line.number ? line.number : (m_shownNumbers.empty() ? 0 : m_shownNumbers.back());
            const auto at = std::upper_bound(m_shownNumbers.begin(), m_shownNumbers.end(), number);
            const WPARAM index = static_cast<WPARAM>(at - m_shownNumbers.begin());
            const std::wstring wide = NarrowToWide(line.text);
            if (SendMessageW(hLogList, LB_INSERTSTRING, index, reinterpret_cast<LPARAM>(wide.c_str())) >= 0)
                m_shownNumbers.insert(at, number);
        }
    }
    if (hasRows && hSegmentList) ShowRows(hSegmentList, rows);
}

INT_PTR CALLBACK InfoViewDlgProc(HWND wnd, UINT message, WPARAM wParam, LPARAM lParam) {
    InfoViewDlg* view = g_pInfoView.load();
    if (!view) {
        view = new InfoViewDlg();
        g_pInfoView.store(view);
    }
    return view->DialogProc(wnd, message, wParam, lParam);
}

int ShowInfoViewIfEnabled() {
    if (ReadDebugConfigInt(L"show_info_view") != 1) return 1;
    // The table is a list-view control: its class must be registered before
    // the template that names it is made.
    INITCOMMONCONTROLSEX controls = {sizeof(controls), ICC_LISTVIEW_CLASSES};
    InitCommonControlsEx(&controls);
    HWND wnd = CreateDialogParamW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(IDD_INFO_VIEW), nullptr,
                                  InfoViewDlgProc, 0);
    if (!wnd) {
        // The object may have been made by the failed window's first messages.
        if (InfoViewDlg* view = g_pInfoView.load()) view->Detach();
        return 1;
    }
    RECT rect = {};
    GetWindowRect(wnd, &rect);
    const int x = (GetSystemMetrics(SM_CXSCREEN) - (rect.right - rect.left)) / 2;
    const int y = (GetSystemMetrics(SM_CYSCREEN) - (rect.bottom - rect.top)) / 2;
    SetWindowPos(wnd, nullptr, x, y, 0, 0, SWP_SHOWWINDOW | SWP_NOSIZE);
    ShowWindow(wnd, SW_SHOW);
    return 1;
}

int OnLogLine(const char* message) {
    if (InfoViewDlg* view = g_pInfoView.load()) view->AddLogLine(message);
    return 1;
}

int OnDownloadSegments(DownloadProgress* progress) {
    if (InfoViewDlg* view = g_pInfoView.load()) view->UpdateSegments(progress);
    return 1;
}
