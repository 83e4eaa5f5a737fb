// Engine control: start, stop, threads and destruction.
#include <process.h>

#include <curl/curl.h>

#include "DownloaderCurl.h"
#include "Log.h"

DownloaderCurl::~DownloaderCurl() {
    StopDownload();
    JoinThreads();
    if (m_mutex) CloseHandle(m_mutex);
    if (m_stopEvent) CloseHandle(m_stopEvent);
}

void DownloaderCurl::JoinThreads() {}
int DownloaderCurl::StartWithConfigData(const char*, int, std::string) { return E_NOTIMPL; }
int DownloaderCurl::StartWithConfigUrl(std::string, std::string) { return E_NOTIMPL; }
int DownloaderCurl::LoadConfigFile(std::wstring, std::string) { return E_NOTIMPL; }
int DownloaderCurl::BeginDownload(DownloadConfig&) { return E_NOTIMPL; }
int DownloaderCurl::StopDownload() {
    m_stopped = true;
    m_downloading = false;
    if (m_stopEvent) SetEvent(m_stopEvent);
    return 0;
}
int DownloaderCurl::OnConfigDownloaded(DownloadItem*) { return E_NOTIMPL; }
int DownloaderCurl::LoadConfigData(const char*, int) { return E_NOTIMPL; }
int DownloaderCurl::LoadConfig(boost::shared_ptr<IXMLParse>, std::string) { return E_NOTIMPL; }
int DownloaderCurl::InitDownload() { return E_NOTIMPL; }
int DownloaderCurl::BeginDownloadItem(DownloadItem*) { return E_NOTIMPL; }
