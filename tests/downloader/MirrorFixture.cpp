#include "MirrorFixture.h"

#include <windows.h>

#include <algorithm>
#include <cstdio>

#include "Digest.h"
#include "TestSupport.h"

namespace mirrors {

namespace {

// The value of one field of a flat JSON line ("key": "text" or "key": number).
std::string Field(const std::string& line, const std::string& key) {
    std::string marker = "\"" + key + "\":";
    size_t p = line.find(marker);
    if (p == std::string::npos) return "";
    p += marker.size();
    while (p < line.size() && line[p] == ' ') ++p;
    if (p < line.size() && line[p] == '"') {
        std::string out;
        for (++p; p < line.size() && line[p] != '"'; ++p) {
            if (line[p] == '\\' && p + 1 < line.size()) ++p;
            out += line[p];
        }
        return out;
    }
    size_t e = line.find_first_of(",}", p);
    return line.substr(p, e - p);
}

std::vector<std::string> LinesAfter(const std::wstring& file, int64_t offset) {
    std::string bytes = testing_support::ReadFileBytes(file);
    std::vector<std::string> lines;
    if (static_cast<int64_t>(bytes.size()) <= offset) return lines;
    size_t p = static_cast<size_t>(offset);
    while (p < bytes.size()) {
        size_t e = bytes.find('\n', p);
        if (e == std::string::npos) break;  // a line still being written
        lines.push_back(bytes.substr(p, e - p));
        p = e + 1;
    }
    return lines;
}

int64_t SizeOf(const std::wstring& file) {
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!GetFileAttributesExW(file.c_str(), GetFileExInfoStandard, &data)) return 0;
    return (static_cast<int64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
}

std::wstring InFolder(const wchar_t* name) { return Folder() + L"\\" + name; }

}  // namespace

std::string Host(int n) { return std::string(MIRROR_NET) + "." + std::to_string(n); }

std::wstring Folder() { return testing_support::FromUnixPath(MIRROR_DIR); }

std::wstring PayloadPath(const std::string& name) {
    return Folder() + L"\\www\\download\\" + std::wstring(name.begin(), name.end());
}

std::string Url(const std::string& host, const std::string& path, bool https) {
    return std::string(https ? "https://" : "http://") + host + "/download/" + path;
}

std::string FallbackUrl(const std::string& host, const std::string& name, bool https) {
    return Url(host, "dl.tarvex.com/" + name, https);
}

void SetScenario(const std::map<int, std::string>& byMirror) {
    std::string json = "{";
    for (const auto& entry : byMirror) {
        if (json.size() > 1) json += ", ";
        json += "\"" + Host(entry.first) + "\": " + entry.second;
    }
    json += "}";
    std::wstring target = InFolder(L"scenario.json");
    std::wstring temp = InFolder(L"scenario.json.new");
    testing_support::WriteFileBytes(temp, json);
    MoveFileExW(temp.c_str(), target.c_str(), MOVEFILE_REPLACE_EXISTING);
    // The server notices a change by time and size; let the time move on.
    Sleep(20);
}

Log::Log()
    : own_(SizeOf(InFolder(L"requests.log"))),
      nginx_(SizeOf(InFolder(L"nginx-requests.log"))),
      icmp_(SizeOf(InFolder(L"icmp.log"))),
      since_(testing_support::UnixNow()) {}

std::vector<Request> Log::Requests() const {
    std::vector<Request> all;
    for (auto source : {std::make_pair(L"requests.log", own_), std::make_pair(L"nginx-requests.log", nginx_)}) {
        for (const std::string& line : LinesAfter(InFolder(source.first), source.second)) {
            Request r;
            r.t = atof(Field(line, "t").c_str());
            r.host = Field(line, "host");
            r.scheme = Field(line, "scheme");
            r.method = Field(line, "method");
            r.path = Field(line, "path");
            r.range = Field(line, "range");
            r.ua = Field(line, "ua");
            r.status = atoi(Field(line, "status").c_str());
            r.bytes = _atoi64(Field(line, "bytes").c_str());
            std::string corrupted = Field(line, "corrupted");
            if (!corrupted.empty()) r.corrupted = _atoi64(corrupted.c_str());
            // A request of an earlier test may end, and be logged, after the
            // mark; our mirrors stamp an entry with its request's start.
            if (r.t < since_) continue;
            all.push_back(r);
        }
    }
    std::stable_sort(all.begin(), all.end(), [](const Request& a, const Request& b) { return a.t < b.t; });
    return all;
}

std::vector<Echo> Log::Echoes() const {
    std::vector<Echo> all;
    for (const std::string& line : LinesAfter(InFolder(L"icmp.log"), icmp_)) {
        Echo e;
        e.t = atof(Field(line, "t").c_str());
        e.host = Field(line, "host");
        e.id = atoi(Field(line, "id").c_str());
        all.push_back(e);
    }
    return all;
}

int64_t Log::BytesSent() const {
    int64_t total = 0;
    for (const Request& r : Requests()) total += r.bytes;
    return total;
}

int64_t Request::first() const {
    if (range.compare(0, 6, "bytes=") != 0) return -1;
    return _atoi64(range.c_str() + 6);
}

int64_t Request::last() const {
    size_t dash = range.find('-');
    if (range.compare(0, 6, "bytes=") != 0 || dash == std::string::npos) return -1;
    return _atoi64(range.c_str() + dash + 1);
}

std::vector<Request> Only(const std::vector<Request>& all, const std::string& method, const std::string& path) {
    std::vector<Request> out;
    for (const Request& r : all)
        if (r.method == method && r.path.compare(0, path.size(), path) == 0) out.push_back(r);
    return out;
}

std::vector<Request> ForHost(const std::vector<Request>& all, const std::string& host) {
    std::vector<Request> out;
    for (const Request& r : all)
        if (r.host == host) out.push_back(r);
    return out;
}

Digests PayloadDigests(const std::string& name) {
    Digests d;
    FILE* f = _wfopen(PayloadPath(name).c_str(), L"rb");
    if (!f) return d;
    char buffer[64] = {};
    if (GetFileHash(f, buffer, sizeof(buffer))) d.whole = buffer;
    GetFileBlockHashes(f, 1048576, d.blocks);
    _fseeki64(f, 0, SEEK_END);
    d.size = _ftelli64(f);
    fclose(f);
    return d;
}

namespace {
std::wstring EngineLogPath() { return testing_support::TempFolder() + L"\\downloader-tests.log"; }
}  // namespace

EngineLog::EngineLog() : start_(testing_support::ReadFileBytes(EngineLogPath()).size()) {}

std::vector<std::string> EngineLog::LinesWith(const std::string& text) const {
    std::string bytes = testing_support::ReadFileBytes(EngineLogPath());
    std::vector<std::string> lines;
    size_t p = start_;
    while (p < bytes.size()) {
        size_t e = bytes.find('\n', p);
        if (e == std::string::npos) break;
        std::string line = bytes.substr(p, e - p);
        if (!line.empty() && line.back() == '\r') line.pop_back();
        size_t at = line.find(text);
        if (at != std::string::npos) lines.push_back(line.substr(at));
        p = e + 1;
    }
    return lines;
}

std::string Manifest(const std::string& name, const std::vector<std::string>& urls, int version) {
    Digests d = PayloadDigests(name);
    std::string xml = "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n<download size=\"" + std::to_string(d.size) +
                      "\" name=\"orvane/" + name + "\" version=\"" + std::to_string(version) + "\">\n";
    xml += "\t<url size=\"" + std::to_string(urls.size()) + "\">\n";
    for (size_t i = 0; i < urls.size(); ++i)
        xml += "\t\t<item_" + std::to_string(i) + " value=\"" + urls[i] + "\"/>\n";
    xml += "\t</url>\n\t<hash size=\"" + std::to_string(d.blocks.size() + 1) + "\">\n";
    xml += "\t\t<item_0 value=\"" + d.whole + "\"/>\n";
    for (size_t i = 0; i < d.blocks.size(); ++i)
        xml += "\t\t<item_" + std::to_string(i + 1) + " value=\"" + d.blocks[i] + "\"/>\n";
    xml += "\t</hash>\n</download>\n";
    return xml;
}

}  // namespace mirrors
