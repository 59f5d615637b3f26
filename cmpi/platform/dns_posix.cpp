// Names on POSIX: reverse lookups through the resolver library (or, when a
// server was given, one query sent to it over UDP), host addresses through
// getaddrinfo.
#if !defined(_WIN32)

#include <arpa/inet.h>
#include <arpa/nameser.h>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <resolv.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstring>
#include <mutex>

#include "platform.h"

namespace pk::platform {

namespace {

struct DnsServer {
  std::string address;
  uint16_t port = 0;
};

std::mutex serverLock;
DnsServer server;

DnsServer currentServer() {
  std::lock_guard<std::mutex> guard(serverLock);
  return server;
}

constexpr int kAnswerBytes = 4096;
constexpr int kWaitMillis = 2000;

// Sends the query to the given server and reads one answer; its length, or -1.
int askServer(const DnsServer &to, const unsigned char *query, int queryLength,
              unsigned char *answer) {
  sockaddr_in where{};
  where.sin_family = AF_INET;
  where.sin_port = htons(to.port);
  if (inet_pton(AF_INET, to.address.c_str(), &where.sin_addr) != 1) return -1;
  int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return -1;
  int length = -1;
  if (sendto(fd, query, static_cast<size_t>(queryLength), 0, reinterpret_cast<sockaddr *>(&where),
             sizeof where) == queryLength) {
    pollfd ready{fd, POLLIN, 0};
    if (poll(&ready, 1, kWaitMillis) == 1) {
      ssize_t got = recv(fd, answer, kAnswerBytes, 0);
      // The answer must be to this query: the same identifier.
      if (got >= 2 && std::memcmp(answer, query, 2) == 0) length = static_cast<int>(got);
    }
  }
  close(fd);
  return length;
}

int query(const char *name, unsigned char *answer) {
  struct __res_state state {};
  if (res_ninit(&state) != 0) return -1;
  DnsServer to = currentServer();
  int length = -1;
  if (to.address.empty()) {
    length = res_nquery(&state, name, ns_c_in, ns_t_ptr, answer, kAnswerBytes);
  } else {
    unsigned char request[NS_PACKETSZ];
    int requestLength = res_nmkquery(&state, ns_o_query, name, ns_c_in, ns_t_ptr, nullptr, 0,
                                     nullptr, request, sizeof request);
    if (requestLength > 0) length = askServer(to, request, requestLength, answer);
  }
  res_nclose(&state);
  return length;
}

}  // namespace

bool reverseLookup(const char *name, std::string *host) {
  if (name == nullptr || host == nullptr) return false;
  unsigned char answer[kAnswerBytes];
  int length = query(name, answer);
  if (length <= 0) return false;
  ns_msg message;
  if (ns_initparse(answer, length, &message) != 0) return false;
  if (ns_msg_getflag(message, ns_f_rcode) != ns_r_noerror) return false;
  int count = ns_msg_count(message, ns_s_an);
  for (int i = 0; i < count; ++i) {
    ns_rr record;
    if (ns_parserr(&message, ns_s_an, i, &record) != 0) return false;
    if (ns_rr_type(record) != ns_t_ptr) continue;
    char text[NS_MAXDNAME];
    if (ns_name_uncompress(ns_msg_base(message), ns_msg_end(message), ns_rr_rdata(record), text,
                           sizeof text) < 0) {
      return false;
    }
    *host = text;
    return true;
  }
  return false;
}

std::vector<std::string> hostAddresses(const char *host) {
  std::vector<std::string> addresses;
  if (host == nullptr || *host == '\0') return addresses;
  addrinfo hints{};
  hints.ai_family = AF_INET;
  hints.ai_socktype = SOCK_STREAM;
  addrinfo *found = nullptr;
  if (getaddrinfo(host, nullptr, &hints, &found) != 0) return addresses;
  for (addrinfo *a = found; a != nullptr; a = a->ai_next) {
    char text[INET_ADDRSTRLEN];
    const auto *in = reinterpret_cast<const sockaddr_in *>(a->ai_addr);
    if (inet_ntop(AF_INET, &in->sin_addr, text, sizeof text) != nullptr)
      addresses.emplace_back(text);
  }
  freeaddrinfo(found);
  return addresses;
}

void setDnsServer(const std::string &address, uint16_t port) {
  std::lock_guard<std::mutex> guard(serverLock);
  server = DnsServer{address, port};
}

}  // namespace pk::platform

#endif
