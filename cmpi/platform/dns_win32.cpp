// Names on Windows: reverse lookups through DnsQuery_UTF8, host addresses
// through getaddrinfo.
#if defined(_WIN32)

#include <winsock2.h>
#include <windows.h>
#include <windns.h>
#include <ws2tcpip.h>

#include <mutex>

#include "platform.h"

namespace pk::platform {

namespace {

std::mutex serverLock;
std::string serverAddress;

// Keeps Windows sockets started for the scope.
class Sockets {
 public:
  Sockets() { started_ = WSAStartup(MAKEWORD(2, 2), &data_) == 0; }
  ~Sockets() {
    if (started_) WSACleanup();
  }
  Sockets(const Sockets &) = delete;
  Sockets &operator=(const Sockets &) = delete;
  bool started() const { return started_; }

 private:
  WSADATA data_{};
  bool started_ = false;
};

}  // namespace

bool reverseLookup(const char *name, std::string *host) {
  if (name == nullptr || host == nullptr) return false;
  IP4_ARRAY servers{};
  PIP4_ARRAY extra = nullptr;
  {
    std::lock_guard<std::mutex> guard(serverLock);
    IN_ADDR address{};
    if (!serverAddress.empty() && InetPtonA(AF_INET, serverAddress.c_str(), &address) == 1) {
      servers.AddrCount = 1;
      servers.AddrArray[0] = address.S_un.S_addr;
      extra = &servers;
    }
  }
  PDNS_RECORD records = nullptr;
  if (DnsQuery_UTF8(name, DNS_TYPE_PTR, DNS_QUERY_STANDARD, extra, &records, nullptr) != 0) {
    return false;
  }
  bool found = false;
  for (PDNS_RECORD r = records; r != nullptr && !found; r = r->pNext) {
    if (r->wType != DNS_TYPE_PTR || r->Data.PTR.pNameHost == nullptr) continue;
    *host = reinterpret_cast<const char *>(r->Data.PTR.pNameHost);
    found = true;
  }
  DnsRecordListFree(records, DnsFreeRecordList);
  return found;
}

std::vector<std::string> hostAddresses(const char *host) {
  std::vector<std::string> addresses;
  if (host == nullptr || *host == '\0') return addresses;
  Sockets sockets;
  if (!sockets.started()) return addresses;
  addrinfo hints{};
  hints.ai_family = AF_INET;
  hints.ai_socktype = SOCK_STREAM;
  addrinfo *found = nullptr;
  if (getaddrinfo(host, nullptr, &hints, &found) != 0) return addresses;
  for (addrinfo *a = found; a != nullptr; a = a->ai_next) {
    char text[INET_ADDRSTRLEN];
    auto *in = reinterpret_cast<sockaddr_in *>(a->ai_addr);
    if (InetNtopA(AF_INET, &in->sin_addr, text, sizeof text) != nullptr)
      addresses.emplace_back(text);
  }
  freeaddrinfo(found);
  return addresses;
}

void setDnsServer(const std::string &address, uint16_t port) {
  (void)port;  // DnsQuery asks servers on port 53 only
  std::lock_guard<std::mutex> guard(serverLock);
  serverAddress = address;
}

}  // namespace pk::platform

#endif
