// A DNS server on 127.0.0.1 for tests: answers PTR questions from a table,
// every other name with "no such name", and counts the questions it saw.
#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cstdint>
#include <map>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

namespace pktest {

class DnsResponder {
 public:
  explicit DnsResponder(std::map<std::string, std::string> ptr) : ptr_(std::move(ptr)) {
    fd_ = socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in at{};
    at.sin_family = AF_INET;
    at.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (bind(fd_, reinterpret_cast<sockaddr *>(&at), sizeof at) != 0) {
      close(fd_);
      throw std::runtime_error("the DNS responder has no port");
    }
    socklen_t length = sizeof at;
    getsockname(fd_, reinterpret_cast<sockaddr *>(&at), &length);
    port_ = ntohs(at.sin_port);
    thread_ = std::thread([this] { serve(); });
  }
  ~DnsResponder() {
    stop_ = true;
    thread_.join();
    close(fd_);
  }
  DnsResponder(const DnsResponder &) = delete;
  DnsResponder &operator=(const DnsResponder &) = delete;

  uint16_t port() const { return port_; }
  std::vector<std::string> questions() const {
    std::lock_guard<std::mutex> guard(lock_);
    return questions_;
  }

 private:
  void serve() {
    while (!stop_) {
      pollfd ready{fd_, POLLIN, 0};
      if (poll(&ready, 1, 50) != 1) continue;
      unsigned char packet[512];
      sockaddr_in from{};
      socklen_t fromLength = sizeof from;
      ssize_t got =
          recvfrom(fd_, packet, sizeof packet, 0, reinterpret_cast<sockaddr *>(&from), &fromLength);
      if (got < 12) continue;
      std::vector<unsigned char> answer = respond(packet, static_cast<size_t>(got));
      if (!answer.empty()) {
        sendto(fd_, answer.data(), answer.size(), 0, reinterpret_cast<sockaddr *>(&from),
               fromLength);
      }
    }
  }

  std::vector<unsigned char> respond(const unsigned char *q, size_t length) {
    // The question: labels, then type and class.
    size_t at = 12;
    std::string name;
    while (at < length && q[at] != 0) {
      size_t label = q[at++];
      if (at + label > length) return {};
      if (!name.empty()) name += '.';
      name.append(reinterpret_cast<const char *>(q + at), label);
      at += label;
    }
    at += 1;
    if (at + 4 > length) return {};
    uint16_t type = static_cast<uint16_t>(q[at] << 8 | q[at + 1]);
    size_t questionEnd = at + 4;
    {
      std::lock_guard<std::mutex> guard(lock_);
      questions_.push_back(name);
    }
    std::vector<unsigned char> out(q, q + questionEnd);
    out[2] = 0x81;  // a response, recursion desired
    out[3] = 0x80;  // recursion available, no error
    out[6] = out[7] = out[8] = out[9] = out[10] = out[11] = 0;
    auto found = ptr_.find(name);
    if (type != 12 || found == ptr_.end()) {
      out[3] = 0x83;  // no such name
      return out;
    }
    out[7] = 1;  // one answer
    const unsigned char header[] = {0xc0, 0x0c, 0, 12, 0, 1, 0, 0, 0, 60};
    out.insert(out.end(), header, header + sizeof header);
    std::vector<unsigned char> data;
    size_t start = 0;
    const std::string &host = found->second;
    while (start <= host.size()) {
      size_t dot = host.find('.', start);
      if (dot == std::string::npos) dot = host.size();
      data.push_back(static_cast<unsigned char>(dot - start));
      data.insert(data.end(), host.begin() + static_cast<long>(start),
                  host.begin() + static_cast<long>(dot));
      start = dot + 1;
    }
    data.push_back(0);
    out.push_back(static_cast<unsigned char>(data.size() >> 8));
    out.push_back(static_cast<unsigned char>(data.size() & 0xff));
    out.insert(out.end(), data.begin(), data.end());
    return out;
  }

  std::map<std::string, std::string> ptr_;
  int fd_ = -1;
  uint16_t port_ = 0;
  std::atomic<bool> stop_{false};
  std::thread thread_;
  mutable std::mutex lock_;
  std::vector<std::string> questions_;
};

}  // namespace pktest
