// Serves one simulated filer over HTTP or HTTPS on the loopback address.
#include <httplib.h>

#include <chrono>
#include <thread>

#include "filersim/filersim.h"

namespace filersim {

namespace {

// Decodes standard base64; stops at the first character outside the alphabet.
std::string base64Decode(const std::string &in) {
  static const std::string alphabet =
      "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string out;
  int bits = 0;
  unsigned value = 0;
  for (char c : in) {
    size_t index = alphabet.find(c);
    if (index == std::string::npos) break;
    value = (value << 6) | static_cast<unsigned>(index);
    bits += 6;
    if (bits >= 8) {
      bits -= 8;
      out.push_back(static_cast<char>((value >> bits) & 0xFF));
    }
  }
  return out;
}

// User and password of a basic Authorization header; empty when there is none.
std::pair<std::string, std::string> credentials(const httplib::Request &request) {
  std::string user, password;
  if (!basicCredentials(request.get_header_value("Authorization"), user, password)) return {};
  return {user, password};
}

// Announces a longer answer than is sent, then closes the connection.
void dropAfter(httplib::Response &response, const std::string &partial) {
  size_t announced = partial.size() + 64;
  response.set_content_provider(announced, "text/xml",
                                [partial](size_t offset, size_t, httplib::DataSink &sink) {
                                  if (offset == 0 && !partial.empty())
                                    sink.write(partial.data(), partial.size());
                                  return false;  // the connection closes here
                                });
}

}  // namespace

bool basicCredentials(const std::string &header, std::string &user, std::string &password) {
  const std::string scheme = "Basic ";
  if (header.compare(0, scheme.size(), scheme) != 0) return false;
  std::string decoded = base64Decode(header.substr(scheme.size()));
  size_t colon = decoded.find(':');
  if (colon == std::string::npos) return false;
  user = decoded.substr(0, colon);
  password = decoded.substr(colon + 1);
  return true;
}

struct HttpServer::Impl {
  std::unique_ptr<httplib::Server> server;
  std::thread thread;
};

HttpServer::HttpServer(Simulator &simulator, const std::string &filer,
                       const HttpServerOptions &options)
    : impl_(std::make_unique<Impl>()) {
  int port = options.port;
  if (options.certFile.empty() != options.keyFile.empty())
    throw std::runtime_error("HTTPS needs both a certificate and a key file");
  if (options.certFile.empty()) {
    impl_->server = std::make_unique<httplib::Server>();
  } else {
#ifndef CPPHTTPLIB_OPENSSL_SUPPORT
    throw std::runtime_error("this build of the simulated filer serves HTTP only");
#else
    auto secure =
        std::make_unique<httplib::SSLServer>(options.certFile.c_str(), options.keyFile.c_str());
    if (!secure->is_valid())
      throw std::runtime_error("cannot load certificate " + options.certFile + " and key " +
                               options.keyFile);
    impl_->server = std::move(secure);
#endif
  }
  httplib::Server &server = *impl_->server;
  server.set_keep_alive_max_count(1000);
  // An idle connection closes after a second, as a filer's would.  Stopping the
  // server waits for its open connections, and a client that pools them (as
  // some WinHTTP builds do past the closing of the session) would hold every
  // stop for the library's default of five seconds.
  server.set_keep_alive_timeout(1);
  server.set_tcp_nodelay(true);
  server.Post("/kelva/api",
              [&simulator, filer](const httplib::Request &request, httplib::Response &response) {
                auto [user, password] = credentials(request);
                Reply reply = simulator.handle(filer, user, password, request.body);
                if (reply.delayMillis > 0)
                  std::this_thread::sleep_for(std::chrono::milliseconds(reply.delayMillis));
                switch (reply.kind) {
                  case Reply::Kind::Unauthorized:
                    response.status = 401;
                    response.set_header("WWW-Authenticate", "Basic realm=\"kelva\"");
                    return;
                  case Reply::Kind::Offline:
                  case Reply::Kind::Drop:
                    dropAfter(response, reply.body);
                    return;
                  case Reply::Kind::Answer:
                    response.set_content(reply.body, "text/xml");
                    return;
                }
              });
  // Test control: {"action": "fault", "api": ..., "fault": {...}}, {"action": "clear"},
  // {"action": "online", "online": false}.
  server.Post("/control", [&simulator, filer](const httplib::Request &request,
                                              httplib::Response &response) {
    try {
      nlohmann::json command = nlohmann::json::parse(request.body);
      std::string action = command.value("action", std::string());
      if (action == "fault") {
        simulator.setFault(filer, command.value("api", std::string("*")),
                           faultFromJson(command["fault"]));
      } else if (action == "clear") {
        simulator.clearFaults();
      } else if (action == "online") {
        simulator.setOnline(filer, command.value("online", true));
      } else {
        throw std::runtime_error("unknown action '" + action + "'");
      }
      response.set_content("{\"ok\":true}", "application/json");
    } catch (const std::exception &error) {
      response.status = 400;
      response.set_content(nlohmann::json{{"ok", false}, {"error", error.what()}}.dump(),
                           "application/json");
    }
  });
  port_ = port == 0 ? server.bind_to_any_port("127.0.0.1")
                    : (server.bind_to_port("127.0.0.1", port) ? port : -1);
  if (port_ <= 0) throw std::runtime_error("cannot bind 127.0.0.1:" + std::to_string(port));
  impl_->thread = std::thread([this] { impl_->server->listen_after_bind(); });
  // stop() only works on a running server: wait until it listens.
  for (int i = 0; i < 5000 && !server.is_running(); ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
}

HttpServer::~HttpServer() { stop(); }

void HttpServer::stop() {
  if (impl_ == nullptr || !impl_->thread.joinable()) return;
  impl_->server->stop();
  impl_->thread.join();
}

}  // namespace filersim
