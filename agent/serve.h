// `provkit-agent serve`: the host's object manager behind a CIM-XML endpoint over HTTP(S).
#pragma once

#include <cstddef>
#include <memory>
#include <string>

#include "agent.h"

namespace agent {

struct ServeOptions {
  std::string address = "127.0.0.1";
  int port = 5988;       // 0: any free port
  std::string certFile;  // with keyFile: HTTPS
  std::string keyFile;
  std::string user;  // the one user that may connect, with its password
  std::string password;
  std::string passwordFile;     // the password as the file's first line, when not given
  bool allowAnonymous = false;  // no user: every client is let in
  size_t maxRequestBytes = 1024 * 1024;
  int maxConcurrent = 8;  // requests worked on at once; more wait their turn
};

// A CIM-XML server bound to its address.  Operations run on the host's object
// manager one at a time; reading, writing and authentication run in parallel.
class CimServer {
 public:
  // Binds; throws StartError (no user and no anonymous access, a certificate that cannot
  // be loaded, an address that cannot be bound).
  CimServer(Host &host, const ServeOptions &options);
  ~CimServer();
  CimServer(const CimServer &) = delete;
  CimServer &operator=(const CimServer &) = delete;

  int port() const { return port_; }
  bool https() const { return https_; }
  // Serves until stop(); returns at once when stop() came first.
  void run();
  // Ends run() after the requests under way are answered; safe from any thread.
  void stop();

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
  int port_ = 0;
  bool https_ = false;
};

// Serves until SIGINT or SIGTERM, telling on standard output where it listens; the exit
// code (0, or 1 when the server cannot start).
int serve(Host &host, const ServeOptions &options);

}  // namespace agent
