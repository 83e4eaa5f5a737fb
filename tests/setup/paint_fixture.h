// A main dialog whose pages are driven directly: a real window of the
// design size at the display's scale, the renderer prepared, the fonts and
// the controls the pages paint, and the fields set as the workers set them.
#pragma once

// The engine's header first: it brings winsock2.h, which must precede windows.h.
#include "IDownloader.h"

#include <windows.h>

#include <cstdint>
#include <string>

#include "SetupDlg.h"
#include "SkinTestUtil.h"

namespace paint_test {

// Hands the painter the figures a test sets.
class FakeEngine : public IDownloader {
public:
    uint64_t written = 0;
    uint64_t fileSize = 0;
    uint32_t itemSpeed = 0;

    int GetProgress(DownloadProgress* progress) override;
    int StartWithConfigData(const char*, int, std::string) override { return 0; }
    int StartWithConfigUrl(std::string, std::string) override { return 0; }
    int LoadConfigFile(std::wstring, std::string) override { return 0; }
    int BeginDownload(DownloadConfig&) override { return 0; }
    int StopDownload() override { return 0; }
    bool IsDownloading() override { return true; }
    int SetCallback(ProgressCallback&) override { return 0; }
    DownloadState GetState() override { return DownloadState{}; }
    void SetProxy(ProxyConfig&) override {}
    bool IsUsingFallback() override { return false; }
    DownloadError GetErrorCode() override { return DownloadError{}; }
    std::string GetErrorName() override { return ""; }
    std::string GetLastFailLink() override { return ""; }
    std::string GetRepairLink() override { return ""; }
    int GetCurlError() override { return 0; }
    std::vector<UrlCfg> GetCheckedUrlList() override { return {}; }
    std::vector<UrlCfg> GetUsedUrlList() override { return {}; }
    double GetFallbackSizeKB() override { return 0; }
    std::vector<HostSizeRecord> GetHostSizeList() override { return {}; }
    std::vector<UrlSwitchRecord> GetUrlSwitchList() override { return {}; }
};

// The pages as a user sees them.
enum class Page { Ready, Download, Install, Finished, Failed };

class PaintDlg : public SetupDlg {
public:
    PaintDlg();
    ~PaintDlg() override;

    // Opens the window (centred, at the display's scale), prepares the
    // renderer and builds the fonts and controls.
    void Open();
    HWND wnd() const { return m_hWnd; }
    int Width() const { return m_nWidth; }
    int Height() const { return m_nHeight; }

    // Sets the fields of a page: the download at percent (of a 5 000 000-byte
    // file), the install at percent with its frame composed and handed over.
    void Show(Page page, int percent = 0);
    // Composes one ripple frame and hands it to the install painter.
    void HandOverRippleFrame();
    void SetEngine(FakeEngine* engine);

    FakeEngine engine;

private:
    HFONT m_buttonFont = nullptr;
};

// The window's client area as 0x00RRGGBB pixels, rows from the top.
struct Picture {
    int width = 0, height = 0;
    std::vector<uint32_t> data;
    uint32_t At(int x, int y) const { return data[static_cast<size_t>(y) * width + x]; }
};
Picture CaptureWindow(HWND wnd);
bool SaveBmp(const Picture& picture, const std::wstring& path);
Picture LoadBmp(const std::wstring& path);

using skin_test::Pump;

}  // namespace paint_test
