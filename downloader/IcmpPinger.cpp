#include "IcmpPinger.h"

#include <ws2tcpip.h>

#include <atomic>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <vector>

#include "IDownloader.h"
#include "Log.h"

namespace {

std::atomic<uint16_t> g_sequence{0};

struct ClockAnchors {
    std::once_flag once;
    uint32_t tick = 0;
    uint64_t wall = 0;
};
ClockAnchors g_clock;

uint64_t LocalMilliseconds() {
    SYSTEMTIME st;
    GetLocalTime(&st);
    FILETIME ft;
    SystemTimeToFileTime(&st, &ft);
    ULARGE_INTEGER v;
    v.LowPart = ft.dwLowDateTime;
    v.HighPart = ft.dwHighDateTime;
    return v.QuadPart / 10000;
}

uint16_t Get16(const unsigned char* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }
uint32_t Get32(const unsigned char* p) {
    return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) | (static_cast<uint32_t>(p[2]) << 16) |
           (static_cast<uint32_t>(p[3]) << 24);
}
void Put16(unsigned char* p, uint16_t v) {
    p[0] = static_cast<unsigned char>(v);
    p[1] = static_cast<unsigned char>(v >> 8);
}
void Put32(unsigned char* p, uint32_t v) {
    for (int i = 0; i < 4; ++i) p[i] = static_cast<unsigned char>(v >> (8 * i));
}

}  // namespace

uint16_t IcmpChecksum(const unsigned char* bytes, int length) {
    uint32_t sum = 0;
    int i = 0;
    for (; i + 1 < length; i += 2) sum += Get16(bytes + i);
    if (length & 1) sum += bytes[length - 1];
    sum = (sum >> 16) + (sum & 0xFFFF);
    sum += sum >> 16;
    return static_cast<uint16_t>(~sum & 0xFFFF);
}

uint32_t GetMillisecondClock() {
    uint64_t now = LocalMilliseconds();
    std::call_once(g_clock.once, [now] {
        g_clock.tick = GetTickCount();
        g_clock.wall = now;
    });
    return static_cast<uint32_t>(g_clock.tick + (now - g_clock.wall));
}

IcmpPinger::IcmpPinger() {
    WSADATA data;
    int rc = WSAStartup(MAKEWORD(1, 1), &data);
    if (rc != 0) {
        printf("WSAStartup() failed: %lu\n", static_cast<unsigned long>(GetLastError()));
        return;
    }
    started_ = true;
    event_ = WSACreateEvent();
    identifier_ = static_cast<uint16_t>(GetCurrentProcessId());
    socket_ = WSASocketW(AF_INET, SOCK_RAW, IPPROTO_ICMP, nullptr, 0, 0);
    if (socket_ == INVALID_SOCKET) {
        WriteLog("WSASocket() failed: %d\n", WSAGetLastError());
        // Where raw sockets are refused, some systems still offer ICMP echo
        // through a datagram socket; its replies come without an IP header.
        socket_ = WSASocketW(AF_INET, SOCK_DGRAM, IPPROTO_ICMP, nullptr, 0, 0);
        if (socket_ == INVALID_SOCKET) return;
        datagram_ = true;
    }
    if (event_ == WSA_INVALID_EVENT || WSAEventSelect(socket_, event_, FD_READ) != 0) return;
    packet_ = new (std::nothrow) unsigned char[kPacketSize];
    ready_ = packet_ != nullptr;
}

IcmpPinger::~IcmpPinger() {
    if (socket_ != INVALID_SOCKET) closesocket(socket_);
    if (event_ != WSA_INVALID_EVENT) WSACloseEvent(event_);
    delete[] packet_;
    if (started_) WSACleanup();
}

void IcmpPinger::FillRequest(unsigned char* packet, uint16_t sequence, uint32_t timestamp) const {
    memset(packet, 0, kPacketSize);
    packet[0] = 8;
    packet[1] = 0;
    Put16(packet + 4, identifier_);
    Put16(packet + 6, sequence);
    Put32(packet + 8, timestamp);
    Put16(packet + 2, IcmpChecksum(packet, kPacketSize));
}

bool IcmpPinger::ParseReply(const unsigned char* data, int length, uint16_t identifier, uint16_t sequence,
                            uint32_t now, EchoReply* reply) {
    if (!data || length < 1) return false;
    int headerLength = 0;
    int ttl = 0;
    // A raw socket hands over the IP header; a datagram socket may not.
    if ((data[0] >> 4) == 4) {
        headerLength = (data[0] & 0x0F) * 4;
        if (headerLength < 20 || length < headerLength) return false;
        ttl = data[8];
    }
    // Type, code, checksum, identifier, sequence and the echoed timestamp.
    if (length < headerLength + 12) return false;
    const unsigned char* icmp = data + headerLength;
    if (icmp[0] != 0 || Get16(icmp + 4) != identifier || Get16(icmp + 6) != sequence) return false;
    if (reply) {
        reply->sequence = sequence;
        reply->roundTripMs = now - Get32(icmp + 8);
        reply->payloadBytes = length - headerLength - 12;
        reply->ttl = ttl;
    }
    return true;
}

int IcmpPinger::Echo(uint32_t address, EchoReply* reply, uint32_t limitMs) {
    if (!ready_) return 0;
    sockaddr_in to = {};
    to.sin_family = AF_INET;
    to.sin_addr.s_addr = address;

    uint32_t sent = GetMillisecondClock();
    uint16_t sequence = static_cast<uint16_t>(++g_sequence);
    FillRequest(packet_, sequence, sent);
    if (sendto(socket_, reinterpret_cast<const char*>(packet_), kPacketSize, 0, reinterpret_cast<sockaddr*>(&to),
               sizeof(to)) == SOCKET_ERROR)
        return 0;
    if (!reply) return 1;

    unsigned char buffer[kReceiveSize] = {};
    for (;;) {
        DWORD w = WSAWaitForMultipleEvents(1, &event_, FALSE, 100, FALSE);
        if (w == WSA_WAIT_EVENT_0) {
            WSANETWORKEVENTS events = {};
            WSAEnumNetworkEvents(socket_, event_, &events);
            // Drain every queued datagram: on loopback our own request comes first.
            for (;;) {
                sockaddr_in from = {};
                int fromLength = sizeof(from);
                int got = recvfrom(socket_, reinterpret_cast<char*>(buffer), sizeof(buffer), 0,
                                   reinterpret_cast<sockaddr*>(&from), &fromLength);
                if (got == SOCKET_ERROR) break;
                uint32_t now = GetMillisecondClock();
                if (ParseReply(buffer, got, identifier_, sequence, now, reply)) return 1;
            }
        }
        if (GetMillisecondClock() - sent >= limitMs) return 0;
    }
}

int IcmpPinger::EchoTo(const char* address, EchoReply* reply, uint32_t limitMs) {
    if (!address) return 0;
    return Echo(inet_addr(address), reply, limitMs);
}

std::string ResolveHostAddress(const std::string& name) {
    WSADATA data;
    if (WSAStartup(MAKEWORD(2, 2), &data) != 0) return "";
    std::string result;
    hostent* host = gethostbyname(name.c_str());
    if (host && host->h_addrtype == AF_INET && host->h_addr_list && host->h_addr_list[0]) {
        in_addr a;
        memcpy(&a, host->h_addr_list[0], sizeof(a));
        result = inet_ntoa(a);
    }
    WSACleanup();
    return result;
}

bool PingUrlHost(std::string url, uint32_t* roundTripMs) {
    std::string host = ExtractUrlHost(url);
    if (host.empty()) return false;
    IcmpPinger pinger;
    EchoReply reply;
    if (pinger.EchoTo(host.c_str(), &reply, 2000)) {
        if (roundTripMs) *roundTripMs = reply.roundTripMs;
        return true;
    }
    std::string address = ResolveHostAddress(host);
    if (!address.empty() && pinger.EchoTo(address.c_str(), &reply, 2000)) {
        if (roundTripMs) *roundTripMs = reply.roundTripMs;
        return true;
    }
    return false;
}
