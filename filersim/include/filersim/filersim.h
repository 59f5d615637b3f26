// A simulated KELVA filer: the state of one or more filers loaded from a JSON
// scenario (docs/scenario.md), answering the controller library's requests in
// process or over HTTP, with faults that tests switch on per API.
#pragma once

#include <functional>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include <nlohmann/json.hpp>

namespace filersim {

// Thrown when a scenario cannot be read or is not valid.
struct ScenarioError : std::runtime_error {
  using std::runtime_error::runtime_error;
};

// Error numbers of the simulated filer's failed answers.
enum ErrorNumber : int {
  kNoSuchObject = 22,         // SNMP object identifier without a value
  kMalformedRequest = 13001,  // the request document could not be read
  kMissingInput = 13003,      // a required parameter is absent
  kApiNotFound = 13005,       // the API is unknown
  kInvalidInput = 13115,      // a parameter has a bad value
  kNotEnabled = 13114,        // the service (iSCSI, FCP) is not enabled
  kNoSuchIGroup = 9003,       // no initiator group of that name
  kIGroupExists = 9004,       // an initiator group of that name exists already
  kNoSuchInitiator = 9007,    // the initiator is not in the igroup
  kInitiatorExists = 9008,    // the initiator is in the igroup already
  kNoSuchLun = 9017,          // no LUN at that path
  kLunMapped = 9022,          // the LUN is mapped to the igroup already / the igroup has maps
  kNoSuchVolume = 13040,      // no volume of that name
  kVolumeOffline = 13042,     // the volume is not on line
  kVolumeOnline = 13043,      // the volume must be taken off line first
  kRootVolume = 13044,        // the root volume cannot be destroyed
  kNoSuchAggregate = 14420,   // no aggregate of that name
  kLunExists = 9012,          // a LUN exists at that path already
  kNoSpace = 9026,            // the volume has no room for the LUN's size
};

// What goes wrong with the next requests of an API.
struct Fault {
  enum class Kind {
    Fail,        // a failed answer with errorNumber and reason
    Delay,       // the right answer, after delayMillis
    Drop,        // the connection is closed before any answer byte
    StopMidway,  // half of the right answer, then the connection is closed
    Malformed,   // an answer that is not XML
    Truncated,   // the first half of the right answer, sent as if complete
    Body,        // body is sent as the answer, verbatim
  };
  Kind kind = Kind::Fail;
  int errorNumber = 0;
  std::string reason;
  int delayMillis = 0;
  std::string body;
  int times = -1;  // how many requests it affects; -1 for all

  static Fault of(Kind kind, int times = -1) {
    Fault f;
    f.kind = kind;
    f.times = times;
    return f;
  }
  static Fault fail(int errorNumber, std::string reason, int times = -1) {
    Fault f = of(Kind::Fail, times);
    f.errorNumber = errorNumber;
    f.reason = std::move(reason);
    return f;
  }
  static Fault delay(int millis, int times = -1) {
    Fault f = of(Kind::Delay, times);
    f.delayMillis = millis;
    return f;
  }
  static Fault answer(std::string body, int times = -1) {
    Fault f = of(Kind::Body, times);
    f.body = std::move(body);
    return f;
  }
};

// How one request is to be answered; the transport carries it out.
struct Reply {
  enum class Kind { Answer, Unauthorized, Offline, Drop };
  Kind kind = Kind::Answer;
  std::string body;     // for Answer, and the part sent before a Drop
  int delayMillis = 0;  // wait this long before answering
  // The body is a fault's text, to be carried exactly as written (in process too,
  // where sound answers travel as element trees).
  bool verbatim = false;
};

class Simulator {
 public:
  // Loads a scenario document; throws ScenarioError.
  explicit Simulator(const nlohmann::json &scenario);
  // Loads a scenario file; throws ScenarioError.
  static std::unique_ptr<Simulator> fromFile(const std::string &path);
  // Unregisters the in-process filers.
  ~Simulator();
  Simulator(const Simulator &) = delete;
  Simulator &operator=(const Simulator &) = delete;

  std::vector<std::string> filerNames() const;
  // Host (in-process registration key), user, password and system id of a filer.
  std::string host(const std::string &filer) const;
  std::string userName(const std::string &filer) const;
  std::string password(const std::string &filer) const;
  std::string systemId(const std::string &filer) const;

  // A copy of the filer's state, and a way to change it (under the simulator's lock).
  nlohmann::json state(const std::string &filer) const;
  void mutate(const std::string &filer, const std::function<void(nlohmann::json &)> &change);

  // Faults: per filer and API name ("*" for every API).
  void setFault(const std::string &filer, const std::string &api, const Fault &fault);
  void clearFaults();
  // An off-line filer answers nothing (in process: unreachable; over HTTP: the
  // connection is closed).
  void setOnline(const std::string &filer, bool online);
  // Number of requests the filer received (counted before faults apply).
  int requestCount(const std::string &filer) const;

  // Answers one request text for a filer, checking the credentials.
  Reply handle(const std::string &filer, const std::string &user, const std::string &password,
               const std::string &request);

  // Makes every filer reachable in this process under its host through the
  // controller library's in-process registry; undone by unregisterInProcess.
  void registerInProcess();
  void unregisterInProcess();

 private:
  struct FilerState;
  FilerState &find(const std::string &filer);
  const FilerState &find(const std::string &filer) const;

  mutable std::mutex lock_;
  std::vector<std::unique_ptr<FilerState>> filers_;
  bool registered_ = false;
};

// Where and how an HttpServer listens.  With a certificate and key file (PEM) it
// serves HTTPS instead of HTTP.
struct HttpServerOptions {
  int port = 0;  // 0 lets the system choose
  std::string certFile;
  std::string keyFile;
};

// Serves one filer of a simulator over HTTP(S) on 127.0.0.1 (POST /kelva/api), with a
// control endpoint (POST /control, docs/scenario.md).
class HttpServer {
 public:
  // Binds and starts serving on a thread of its own; throws std::runtime_error when
  // the port cannot be bound or the certificate and key cannot be loaded.
  HttpServer(Simulator &simulator, const std::string &filer, const HttpServerOptions &options);
  HttpServer(Simulator &simulator, const std::string &filer, int port = 0)
      : HttpServer(simulator, filer, HttpServerOptions{port, {}, {}}) {}
  ~HttpServer();
  HttpServer(const HttpServer &) = delete;
  HttpServer &operator=(const HttpServer &) = delete;
  int port() const { return port_; }
  void stop();

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
  int port_ = 0;
};

// Parses the "kind" words of a fault as the control endpoint and docs use them.
Fault faultFromJson(const nlohmann::json &description);

// The user and password of a basic Authorization header's value ("Basic <base64>"); false
// when it is not one or names no user.  The filer and the agent's endpoint both read it.
bool basicCredentials(const std::string &header, std::string &user, std::string &password);

}  // namespace filersim
