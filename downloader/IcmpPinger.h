// One ICMP echo to a mirror host, for ordering mirrors by network distance.
#pragma once

#include <winsock2.h>
#include <windows.h>

#include <cstdint>
#include <string>

struct EchoReply {
    uint16_t sequence = 0;
    uint32_t roundTripMs = 0;
    int32_t payloadBytes = 0;  // reply length after the IP header minus 12
    int32_t ttl = 0;           // 0 when the reply came without an IP header
};

class IcmpPinger {
public:
    static constexpr int kPacketSize = 44;
    static constexpr int kReceiveSize = 256;

    // Opens a raw ICMP socket; where raw sockets are refused, an ICMP
    // datagram socket. Neither: not ready, and every echo fails at once.
    IcmpPinger();
    ~IcmpPinger();
    IcmpPinger(const IcmpPinger&) = delete;
    IcmpPinger& operator=(const IcmpPinger&) = delete;

    bool IsReady() const { return ready_; }
    bool IsDatagram() const { return datagram_; }

    // 1 when a matching reply arrived within limitMs (or, with a null reply,
    // as soon as the request was sent), else 0.
    int EchoTo(const char* address, EchoReply* reply, uint32_t limitMs);
    int Echo(uint32_t address, EchoReply* reply, uint32_t limitMs);

    // Fills a 44-byte echo request; exposed for tests.
    void FillRequest(unsigned char* packet, uint16_t sequence, uint32_t timestamp) const;
    // True and the reply fields when the datagram is the echo reply to
    // (identifier, sequence); short or foreign datagrams give false.
    static bool ParseReply(const unsigned char* data, int length, uint16_t identifier, uint16_t sequence,
                           uint32_t now, EchoReply* reply);
    uint16_t Identifier() const { return identifier_; }

private:
    SOCKET socket_ = INVALID_SOCKET;
    WSAEVENT event_ = WSA_INVALID_EVENT;
    uint16_t identifier_ = 0;
    unsigned char* packet_ = nullptr;
    bool ready_ = false;
    bool datagram_ = false;
    bool started_ = false;  // WSAStartup succeeded, so WSACleanup is owed
};

uint16_t IcmpChecksum(const unsigned char* bytes, int length);
uint32_t GetMillisecondClock();
// Dotted IPv4 text of the name's first address, or "".
std::string ResolveHostAddress(const std::string& name);
// True and the round trip when the URL's host answered within 2000 ms.
bool PingUrlHost(std::string url, uint32_t* roundTripMs);
