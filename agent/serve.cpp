// The HTTP side of `provkit-agent serve`: cpp-httplib's server (HTTPS with a configured
// certificate), Basic authentication against the one configured user, limits on the
// request size and on the requests worked on at once, and a clean stop.  The CIM-XML
// mapping is in cimxml.cpp.
#include "serve.h"

#include <httplib.h>

#include <atomic>
#include <condition_variable>
#include <csignal>
#include <cstdio>
#include <fstream>
#include <mutex>
#include <thread>

#include "cimxml.h"
#include "filersim/filersim.h"
#include "platform/platform.h"

namespace agent {

namespace {

const char *const kXml = "application/xml; charset=\"utf-8\"";

// Compares without stopping at the first difference, so that the time an answer takes
// tells nothing of how much of a password was right.
bool sameSecret(const std::string &given, const std::string &expected) {
  unsigned char difference = given.size() == expected.size() ? 0 : 1;
  for (size_t i = 0; i < given.size(); ++i)
    difference |= static_cast<unsigned char>(given[i] ^ expected[i % (expected.size() + 1)]);
  return difference == 0;
}

void send(httplib::Response &response, const cimxml::Answer &answer) {
  response.status = answer.httpStatus;
  for (const auto &[name, value] : answer.headers) response.set_header(name.c_str(), value);
  response.set_header("CIMOperation", "MethodResponse");
  response.set_content(answer.body, kXml);
}

std::atomic<bool> stopRequested{false};
extern "C" void onStopSignal(int) { stopRequested = true; }

}  // namespace

// The password of the options, or the first line of their password file.
ServeOptions withPassword(ServeOptions options) {
  if (!options.password.empty() || options.passwordFile.empty()) return options;
  std::ifstream in(options.passwordFile);
  if (!in || !std::getline(in, options.password))
    throw StartError("cannot read a password from " + options.passwordFile);
  if (!options.password.empty() && options.password.back() == '\r') options.password.pop_back();
  return options;
}

struct CimServer::Impl {
  Impl(Host &host, const ServeOptions &o) : options(withPassword(o)), endpoint(host) {}

  bool authorized(const httplib::Request &request) const {
    if (options.user.empty()) return options.allowAnonymous;
    std::string givenUser, givenPassword;
    if (!filersim::basicCredentials(request.get_header_value("Authorization"), givenUser,
                                    givenPassword))
      return false;
    bool user = sameSecret(givenUser, options.user);
    bool password = sameSecret(givenPassword, options.password);
    return user && password;
  }

  void handle(const httplib::Request &request, httplib::Response &response) {
    if (!authorized(request)) {
      response.status = 401;
      response.set_header("WWW-Authenticate", "Basic realm=\"provkit-agent\"");
      return;
    }
    std::string host = request.get_header_value("Host");
    if (host.empty()) host = options.address + ":" + std::to_string(port);
    send(response, endpoint.answer(request.body, host, request.get_header_value("CIMMethod")));
  }

  ServeOptions options;
  cimxml::Endpoint endpoint;
  std::unique_ptr<httplib::Server> server;
  std::thread thread;
  std::mutex mutex;
  std::condition_variable ended;
  bool done = false;
  int port = 0;
};

CimServer::CimServer(Host &host, const ServeOptions &options)
    : impl_(std::make_unique<Impl>(host, options)) {
  if (options.user.empty() && !options.allowAnonymous)
    throw StartError("serve needs a user (--auth-user and its password) or --allow-anonymous");
  if (!options.user.empty() && impl_->options.password.empty())
    throw StartError("the user " + options.user + " needs a password (--auth-password-file)");
  if (options.certFile.empty() != options.keyFile.empty())
    throw StartError("HTTPS needs both a certificate (--cert) and its key (--key)");
  if (options.maxConcurrent < 1) throw StartError("at least one request must be served at once");
  if (options.certFile.empty()) {
    impl_->server = std::make_unique<httplib::Server>();
  } else {
    auto secure =
        std::make_unique<httplib::SSLServer>(options.certFile.c_str(), options.keyFile.c_str());
    if (!secure->is_valid())
      throw StartError("cannot load the certificate " + options.certFile + " with the key " +
                       options.keyFile);
    impl_->server = std::move(secure);
    https_ = true;
  }
  httplib::Server &server = *impl_->server;
  int threads = options.maxConcurrent;
  server.new_task_queue = [threads] { return new httplib::ThreadPool(threads); };
  server.set_payload_max_length(options.maxRequestBytes);
  server.set_keep_alive_max_count(100);
  server.set_keep_alive_timeout(5);
  server.set_read_timeout(10);
  server.set_write_timeout(10);
  Impl *impl = impl_.get();
  server.Post(R"(/.*)", [impl](const httplib::Request &request, httplib::Response &response) {
    impl->handle(request, response);
  });
  // A body over the limit is refused before any handler runs; the client still gets a
  // CIM error that says why.
  size_t limit = options.maxRequestBytes;
  httplib::Server::HandlerWithResponse tooLarge = [limit](const httplib::Request &request,
                                                          httplib::Response &response) {
    if (response.status != 413) return httplib::Server::HandlerResponse::Unhandled;
    send(response,
         cimxml::protocolError(413, "request-not-valid", request.get_header_value("CIMMethod"),
                               CMPI_RC_ERR_FAILED,
                               "the request is larger than " + std::to_string(limit) + " bytes"));
    return httplib::Server::HandlerResponse::Handled;
  };
  server.set_error_handler(tooLarge);
  if (options.port == 0) {
    port_ = server.bind_to_any_port(options.address.c_str());
  } else {
    port_ = server.bind_to_port(options.address.c_str(), options.port) ? options.port : -1;
  }
  if (port_ <= 0)
    throw StartError("cannot listen on " + options.address + ":" + std::to_string(options.port));
  impl_->port = port_;
  impl_->thread = std::thread([impl] {
    impl->server->listen_after_bind();
    std::lock_guard<std::mutex> lock(impl->mutex);
    impl->done = true;
    impl->ended.notify_all();
  });
  // stop() only ends a server that is running: wait until it listens.
  for (int i = 0; i < 5000 && !server.is_running(); ++i) pk::platform::sleepMillis(1);
}

CimServer::~CimServer() {
  stop();
  if (impl_->thread.joinable()) impl_->thread.join();
}

void CimServer::run() {
  std::unique_lock<std::mutex> lock(impl_->mutex);
  impl_->ended.wait(lock, [this] { return impl_->done; });
}

void CimServer::stop() { impl_->server->stop(); }

int serve(Host &host, const ServeOptions &options) {
  std::unique_ptr<CimServer> server;
  try {
    server = std::make_unique<CimServer>(host, options);
  } catch (const StartError &e) {
    std::fprintf(stderr, "provkit-agent: %s\n", e.what());
    return 1;
  }
  stopRequested = false;
  std::signal(SIGINT, onStopSignal);
  std::signal(SIGTERM, onStopSignal);
  std::printf("provkit-agent: serving CIM-XML on %s://%s:%d/\n", server->https() ? "https" : "http",
              options.address.c_str(), server->port());
  std::fflush(stdout);
  std::thread watcher([&server] {
    while (!stopRequested) pk::platform::sleepMillis(50);
    server->stop();
  });
  server->run();
  stopRequested = true;
  watcher.join();
  server.reset();
  std::printf("provkit-agent: stopped\n");
  std::fflush(stdout);
  return 0;
}

}  // namespace agent
