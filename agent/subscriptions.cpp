// Indication subscriptions kept in memory for as long as the server runs, the providers'
// filters activated for them, and one sender thread that posts each indication to the
// listeners subscribed to it.
#include "subscriptions.h"

#include <cmpimacs.h>
#include <httplib.h>

#include <algorithm>
#include <cctype>
#include <regex>

#include "cimxml.h"
#include "platform/platform.h"

namespace agent {

namespace {

CimError invalid(const std::string &why) { return CimError(CMPI_RC_ERR_INVALID_PARAMETER, why); }

const char *const kFilter = "CIM_IndicationFilter";
const char *const kDestination = "CIM_ListenerDestination";
const char *const kSubscription = "CIM_IndicationSubscription";

// A text property of the instance, "" when null or absent.
std::string text(const CMPIInstance *instance, const char *name) {
  CMPIStatus status{CMPI_RC_OK, nullptr};
  CMPIData d = CMGetProperty(instance, name, &status);
  if (status.rc != CMPI_RC_OK || (d.state & CMPI_nullValue) != 0) return "";
  if (d.type == CMPI_string) return chars(d.value.string);
  if (d.type == CMPI_chars) return d.value.chars != nullptr ? d.value.chars : "";
  return "";
}

const CMPIObjectPath *reference(const CMPIInstance *instance, const char *name) {
  CMPIStatus status{CMPI_RC_OK, nullptr};
  CMPIData d = CMGetProperty(instance, name, &status);
  if (status.rc != CMPI_RC_OK || (d.state & CMPI_nullValue) != 0 || d.type != CMPI_ref)
    return nullptr;
  return d.value.ref;
}

// The class a query selects: "SELECT * FROM <class>" and nothing more.
std::string selectedClass(const std::string &query) {
  static const std::regex select(R"(^\s*select\s+\*\s+from\s+([A-Za-z_][A-Za-z0-9_]*)\s*$)",
                                 std::regex::icase);
  std::smatch found;
  if (!std::regex_match(query, found, select))
    throw CimError(CMPI_RC_ERR_INVALID_QUERY,
                   "only 'SELECT * FROM <indication class>' is served, not '" + query + "'");
  return found[1];
}

struct Listener {
  std::string host;
  int port = 0;
  std::string target;
};

// An http:// listener on this machine's loopback: indications stay on the machine.
Listener loopbackListener(const std::string &url) {
  static const std::regex http(R"(^http://(127\.0\.0\.1|localhost|\[::1\])(:([0-9]{1,5}))?(/.*)?$)",
                               std::regex::icase);
  std::smatch found;
  if (!std::regex_match(url, found, http))
    throw invalid("the destination " + url + " is no http:// listener on the loopback address");
  Listener out;
  out.host = found[1];
  if (out.host == "[::1]") out.host = "::1";
  out.port = found[3].matched ? std::stoi(found[3]) : 80;
  out.target = found[4].matched ? std::string(found[4]) : "/";
  if (out.port < 1 || out.port > 65535) throw invalid("the destination " + url + " has no port");
  return out;
}

}  // namespace

// An indication provider's filter, active for one subscription.
struct Subscriptions::Activation {
  CMPIIndicationMI *mi = nullptr;
  CMPISelectExp *filter = nullptr;
  CMPIObjectPath *path = nullptr;
  std::string filterClass;
  void *library = nullptr;
};

Subscriptions::Subscriptions(Host &host) : host_(host) {
  sender_ = std::thread([this] { send(); });
  host_.objectManager().setIndicationSink(
      [this](const std::string &nameSpace, const CMPIInstance *indication) {
        onIndication(nameSpace, indication);
      });
}

Subscriptions::~Subscriptions() {
  host_.objectManager().setIndicationSink({});
  {
    std::lock_guard<std::mutex> lock(queueMutex_);
    stopping_ = true;
  }
  queued_.notify_all();
  if (sender_.joinable()) sender_.join();
  std::map<std::string, Subscribed> ending;
  std::map<std::string, CMPIInstance *> kept;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    ending.swap(subscribed_);
    kept.swap(instances_);
  }
  for (auto &[path, s] : ending) deactivate(s.activations);
  for (auto &[path, instance] : kept) CMRelease(instance);
}

bool Subscriptions::holds(const std::string &className) const {
  const auto &classes = host_.classes();
  return classes.isA(className, kFilter) || classes.isA(className, kDestination) ||
         classes.isA(className, kSubscription);
}

std::vector<std::unique_ptr<Subscriptions::Activation>> Subscriptions::activate(
    const std::string &filterClass, const std::string &query, const std::string &nameSpace) {
  const CMPIBroker *broker = host_.broker();
  const CMPIContext *ctx = host_.context();
  const auto &classes = host_.classes();
  std::vector<std::unique_ptr<Activation>> out;
  for (const Registration &r : host_.registrations()) {
    if (!r.serves("indication")) continue;
    if (!classes.isA(r.className, filterClass) && !classes.isA(filterClass, r.className)) continue;
    // Each provider is asked for what it serves: the class it is registered for when that
    // is narrower than the one subscribed to.  The object manager made the MI when it
    // loaded the provider; its factory gives the same MI again.
    auto a = std::make_unique<Activation>();
    a->filterClass = classes.isA(r.className, filterClass) ? r.className : filterClass;
    a->library = pk::platform::libraryOpen(host_.libraryFile(r).c_str());
    void *factory =
        a->library != nullptr
            ? pk::platform::librarySymbol(a->library, (r.provider + "_Create_IndicationMI").c_str())
            : nullptr;
    if (factory == nullptr) {
      if (a->library != nullptr) pk::platform::libraryClose(a->library);
      continue;
    }
    using Factory = CMPIIndicationMI *(*)(const CMPIBroker *, const CMPIContext *, CMPIStatus *);
    CMPIStatus status{CMPI_RC_OK, nullptr};
    a->mi = reinterpret_cast<Factory>(factory)(broker, ctx, &status);
    std::string providerQuery =
        sameName(a->filterClass, filterClass) ? query : "SELECT * FROM " + a->filterClass;
    a->filter = CMNewSelectExp(broker, providerQuery.c_str(), "WQL", nullptr, &status);
    a->path = CMNewObjectPath(broker, nameSpace.c_str(), a->filterClass.c_str(), &status);
    if (a->mi == nullptr || a->filter == nullptr || a->path == nullptr) {
      out.push_back(std::move(a));
      deactivate(out);
      throw CimError(CMPI_RC_ERR_FAILED, "cannot activate the indications of " + r.provider);
    }
    status = a->mi->ft->activateFilter(a->mi, ctx, a->filter, a->filterClass.c_str(), a->path, 1);
    if (status.rc != CMPI_RC_OK) {
      CimError failed(status.rc,
                      "the provider " + r.provider + " refuses the filter: " +
                          (status.msg != nullptr ? chars(status.msg) : statusName(status.rc)));
      out.push_back(std::move(a));
      deactivate(out);
      throw failed;
    }
    CMPIIndicationMI *mi = a->mi;
    out.push_back(std::move(a));
    if (mi->ft->enableIndications != nullptr) mi->ft->enableIndications(mi, ctx);
  }
  return out;
}

void Subscriptions::deactivate(std::vector<std::unique_ptr<Activation>> &activations) {
  const CMPIContext *ctx = host_.context();
  for (auto &a : activations) {
    if (a->mi != nullptr && a->filter != nullptr && a->path != nullptr) {
      CMPIStatus ignored =
          a->mi->ft->deActivateFilter(a->mi, ctx, a->filter, a->filterClass.c_str(), a->path, 1);
      (void)ignored;
      if (a->mi->ft->disableIndications != nullptr) a->mi->ft->disableIndications(a->mi, ctx);
    }
    if (a->filter != nullptr) CMRelease(a->filter);
    if (a->path != nullptr) CMRelease(a->path);
    if (a->library != nullptr) pk::platform::libraryClose(a->library);
  }
  activations.clear();
}

CMPIObjectPath *Subscriptions::create(const std::string &nameSpace, const CMPIInstance *given) {
  const CMPIBroker *broker = host_.broker();
  const auto &classes = host_.classes();
  CMPIStatus status{CMPI_RC_OK, nullptr};
  CMPIInstance *instance = CMClone(given, &status);
  if (instance == nullptr) throw CimError(CMPI_RC_ERR_FAILED, "cannot keep the instance");
  struct Release {
    CMPIInstance *&object;
    ~Release() {
      if (object != nullptr) CMRelease(object);
    }
  } owner{instance};
  std::string className = chars(CMGetClassName(CMGetObjectPath(instance, nullptr), nullptr));
  bool filter = classes.isA(className, kFilter);
  bool destination = classes.isA(className, kDestination);
  const cimom::mof::Class *declared = classes.find(className);
  if (declared == nullptr || declared->isAbstract())
    throw CimError(CMPI_RC_ERR_INVALID_CLASS, "no instances of " + className + " can be made");

  std::string filterQuery, filterClass, filterPath, handlerPath;
  if (filter || destination) {
    if (text(instance, "Name").empty()) throw invalid(className + " needs a Name");
    // The keys that name this system are filled in when the client leaves them out.
    if (text(instance, "CreationClassName").empty())
      CMSetProperty(instance, "CreationClassName", className.c_str(), CMPI_chars);
    if (text(instance, "SystemCreationClassName").empty())
      CMSetProperty(instance, "SystemCreationClassName", "CIM_ComputerSystem", CMPI_chars);
    if (text(instance, "SystemName").empty())
      CMSetProperty(instance, "SystemName", "localhost", CMPI_chars);
  }
  if (filter) {
    filterQuery = text(instance, "Query");
    filterClass = checkedClass(classes, selectedClass(filterQuery));
    if (!classes.isA(filterClass, "CIM_Indication"))
      throw invalid("the query selects " + filterClass + ", which is no indication class");
    if (text(instance, "QueryLanguage").empty())
      CMSetProperty(instance, "QueryLanguage", "WQL", CMPI_chars);
  } else if (destination) {
    loopbackListener(text(instance, "Destination"));
  } else {
    const CMPIObjectPath *f = reference(instance, "Filter");
    const CMPIObjectPath *h = reference(instance, "Handler");
    if (f == nullptr || h == nullptr) throw invalid("a subscription needs a Filter and a Handler");
    filterPath = cimom::objectPathText(f);
    handlerPath = cimom::objectPathText(h);
  }

  // The path: the class and its keys, from the instance.
  CMPIObjectPath *path = CMNewObjectPath(broker, nameSpace.c_str(), className.c_str(), &status);
  if (path == nullptr) throw CimError(CMPI_RC_ERR_FAILED, "cannot make an object path");
  for (const std::string &key : classes.keys(className)) {
    CMPIData d = CMGetProperty(instance, key.c_str(), nullptr);
    if ((d.state & CMPI_nullValue) == 0) CMAddKey(path, key.c_str(), &d.value, d.type);
  }
  CMSetObjectPath(instance, path);
  std::string key = cimom::objectPathText(path);
  struct ReleasePath {
    CMPIObjectPath *object;
    ~ReleasePath() {
      if (object != nullptr) CMRelease(object);
    }
  } pathOwner{path};

  std::string subscribedFilterQuery, subscribedFilterClass, subscribedNamespace;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (instances_.count(key) != 0)
      throw CimError(CMPI_RC_ERR_ALREADY_EXISTS, key + " exists already");
    if (!filterPath.empty()) {
      auto f = instances_.find(filterPath);
      if (f == instances_.end()) throw invalid("no filter " + filterPath);
      if (instances_.count(handlerPath) == 0) throw invalid("no destination " + handlerPath);
      subscribedFilterQuery = text(f->second, "Query");
      subscribedFilterClass = selectedClass(subscribedFilterQuery);
      subscribedNamespace = text(f->second, "SourceNamespace");
      subscribed_[key] = Subscribed{filterPath, handlerPath, {}};
    }
    instances_[key] = instance;
    instance = nullptr;  // kept
  }
  if (!filterPath.empty()) {
    // Activated outside the lock: a provider may deliver at once.
    std::vector<std::unique_ptr<Activation>> activations;
    try {
      activations = activate(subscribedFilterClass, subscribedFilterQuery,
                             subscribedNamespace.empty() ? nameSpace : subscribedNamespace);
    } catch (...) {
      std::lock_guard<std::mutex> lock(mutex_);
      subscribed_.erase(key);
      CMRelease(instances_[key]);
      instances_.erase(key);
      throw;
    }
    std::lock_guard<std::mutex> lock(mutex_);
    subscribed_[key].activations = std::move(activations);
  }
  pathOwner.object = nullptr;
  return path;
}

void Subscriptions::remove(const CMPIObjectPath *path) {
  std::string key = cimom::objectPathText(path);
  std::vector<std::unique_ptr<Activation>> ending;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    auto found = instances_.find(key);
    if (found == instances_.end()) throw CimError(CMPI_RC_ERR_NOT_FOUND, "no instance " + key);
    for (const auto &[subscription, s] : subscribed_) {
      if (s.filter == key || s.handler == key) {
        std::string why = key;
        throw CimError(CMPI_RC_ERR_FAILED,
                       why.append(" is still subscribed by ").append(subscription));
      }
    }
    auto subscribed = subscribed_.find(key);
    if (subscribed != subscribed_.end()) {
      ending = std::move(subscribed->second.activations);
      subscribed_.erase(subscribed);
    }
    CMRelease(found->second);
    instances_.erase(found);
  }
  deactivate(ending);
}

CMPIInstance *Subscriptions::get(const CMPIObjectPath *path) const {
  std::string key = cimom::objectPathText(path);
  std::lock_guard<std::mutex> lock(mutex_);
  auto found = instances_.find(key);
  if (found == instances_.end()) throw CimError(CMPI_RC_ERR_NOT_FOUND, "no instance " + key);
  return CMClone(found->second, nullptr);
}

std::vector<CMPIInstance *> Subscriptions::all(const std::string &className) const {
  std::vector<CMPIInstance *> out;
  std::lock_guard<std::mutex> lock(mutex_);
  for (const auto &[key, instance] : instances_) {
    std::string cls = chars(CMGetClassName(CMGetObjectPath(instance, nullptr), nullptr));
    if (host_.classes().isA(cls, className)) out.push_back(CMClone(instance, nullptr));
  }
  return out;
}

void Subscriptions::onIndication(const std::string &nameSpace, const CMPIInstance *indication) {
  const auto &classes = host_.classes();
  std::string cls = chars(CMGetClassName(CMGetObjectPath(indication, nullptr), nullptr));
  std::vector<Listener> listeners;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    for (const auto &[key, s] : subscribed_) {
      auto f = instances_.find(s.filter);
      auto h = instances_.find(s.handler);
      if (f == instances_.end() || h == instances_.end()) continue;
      std::string source = text(f->second, "SourceNamespace");
      if (!source.empty() && !sameName(source, nameSpace)) continue;
      if (!classes.isA(cls, selectedClass(text(f->second, "Query")))) continue;
      listeners.push_back(loopbackListener(text(h->second, "Destination")));
    }
  }
  if (listeners.empty()) return;
  std::lock_guard<std::mutex> lock(queueMutex_);
  std::string body = cimxml::exportRequest(classes, indication, std::to_string(++messageId_));
  for (const Listener &l : listeners) queue_.push_back({l.host, l.port, l.target, body});
  queued_.notify_all();
}

void Subscriptions::send() {
  std::unique_lock<std::mutex> lock(queueMutex_);
  for (;;) {
    queued_.wait(lock, [this] { return stopping_ || !queue_.empty(); });
    if (stopping_) return;  // what still waits goes with the server
    Delivery d = std::move(queue_.front());
    queue_.pop_front();
    lock.unlock();
    httplib::Client client(d.host, d.port);
    client.set_connection_timeout(5);
    client.set_read_timeout(10);
    httplib::Headers headers{{"CIMExport", "MethodRequest"},
                             {"CIMExportMethod", "ExportIndication"}};
    auto answer =
        client.Post(d.target.c_str(), headers, d.body, "application/xml; charset=\"utf-8\"");
    bool ok = answer && answer->status == 200 && answer->body.find("<ERROR") == std::string::npos;
    lock.lock();
    ++(ok ? delivered_ : failed_);
  }
}

size_t Subscriptions::delivered() const {
  std::lock_guard<std::mutex> lock(queueMutex_);
  return delivered_;
}

size_t Subscriptions::failed() const {
  std::lock_guard<std::mutex> lock(queueMutex_);
  return failed_;
}

}  // namespace agent
