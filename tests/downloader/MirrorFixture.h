// The tests' side of the loopback mirrors: their behaviour per host, what
// they saw, and the payload files they serve.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace mirrors {

// Mirror n's address (n from 2 to 11), on this build tree's own loopback
// addresses: nginx serves mirrors 2-5 and 10, our misbehaving server 6-9 and 11.
std::string Host(int n);

struct Request {
    double t = 0;
    std::string host, scheme, method, path, range, ua;
    int status = 0;
    int64_t bytes = 0;
    int64_t corrupted = -1;  // file offset of a byte the mirror flipped on purpose
    // The range's first and last byte, -1 without a range.
    int64_t first() const;
    int64_t last() const;
};

struct Echo {
    double t = 0;
    std::string host;
    int id = 0;
};

// The fixture's folder (Wine path) and a file in it.
std::wstring Folder();
std::wstring PayloadPath(const std::string& name);
// "http[s]://host/download/" + path
std::string Url(const std::string& host, const std::string& path, bool https = false);
// The same on the fallback host marker's path.
std::string FallbackUrl(const std::string& host, const std::string& name, bool https = false);

// Replaces the scenario: for each mirror number, the JSON object of its
// misbehaviour (keys in mirror_fixture.py); an empty map for plain mirrors.
void SetScenario(const std::map<int, std::string>& byMirror);

// Remembers where the logs end; reads what was logged after that.
class Log {
public:
    Log();
    std::vector<Request> Requests() const;  // both servers, in time order
    std::vector<Echo> Echoes() const;
    // Sum of body bytes the mirrors sent.
    int64_t BytesSent() const;

private:
    int64_t own_ = 0, nginx_ = 0, icmp_ = 0;
    double since_ = 0;  // when the log was marked, in the mirrors' clock
};

// Requests with this method and path prefix ("GET", "/download/").
std::vector<Request> Only(const std::vector<Request>& all, const std::string& method, const std::string& path);
// Every request to one host, in order.
std::vector<Request> ForHost(const std::vector<Request>& all, const std::string& host);

// The payload's whole digest and block digests, upper case.
struct Digests {
    std::string whole;
    std::vector<std::string> blocks;
    int64_t size = 0;
};
Digests PayloadDigests(const std::string& name);

// The engine's log lines (the tests' log file) written after construction,
// each from the first occurrence of a text on.
class EngineLog {
public:
    EngineLog();
    std::vector<std::string> LinesWith(const std::string& text) const;
    int Count(const std::string& text) const { return static_cast<int>(LinesWith(text).size()); }

private:
    size_t start_;
};

// A manifest for the payload with the given URLs.
std::string Manifest(const std::string& name, const std::vector<std::string>& urls, int version = 1);

}  // namespace mirrors
