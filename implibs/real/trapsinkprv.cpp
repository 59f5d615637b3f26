// The SNMP trap listener library: receives the filers' enterprise traps on a
// UDP port and hands each to the subscribers of its trap number, with the
// address of the filer that sent it.
//
// Configuration (environment, read when the listener starts):
//   KELVA_TRAP_LISTEN   where to listen, as a transport address
//                       ("udp:127.0.0.1:16262"); default "udp:162".
//   KELVA_TRAP_REFUSE   trap numbers, separated by commas, whose subscription
//                       is refused, for failing a subscription on purpose.
//
// Version 1 traps of the filers' enterprise carry their number as the specific
// trap type; version 2c traps as the last part of snmpTrapOID (enterprise.0.N).
// A packet that does not parse, a trap of another enterprise and a number no
// one subscribed to are logged and dropped.  The listener runs while anyone is
// subscribed; its socket closes when the last subscriber leaves or the library
// is unloaded.
#include <cmpidt.h>
#include <cmpift.h>
#include <cmpimacs.h>
#include <net-snmp/net-snmp-config.h>
#include <net-snmp/net-snmp-includes.h>
#include <provkit/loader.h>

#include <arpa/inet.h>
#include <dlfcn.h>
#include <sys/select.h>

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <map>
#include <mutex>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#define TRAPSINK_API extern "C" __attribute__((visibility("default")))

namespace {

// The filers' enterprise (the experimental branch their MIB lives under).
const oid kEnterprise[] = {1, 3, 6, 1, 3, 9999};
constexpr size_t kEnterpriseLength = sizeof kEnterprise / sizeof kEnterprise[0];
// snmpTrapOID.0, the second variable of a version 2c notification.
const oid kSnmpTrapOid[] = {1, 3, 6, 1, 6, 3, 1, 1, 4, 1, 0};
constexpr size_t kSnmpTrapOidLength = sizeof kSnmpTrapOid / sizeof kSnmpTrapOid[0];

constexpr const char *kLogId = "trapsinkprv";

struct Subscriber {
  WSITrapCallback callback;
  void *data;
};

// Subscriptions by (class name, trap number); the broker of the first
// subscription receives the listener's log lines.
std::mutex tableLock;
std::map<std::pair<std::string, int>, Subscriber> subscribers;
const CMPIBroker *logBroker = nullptr;

void logLine(int severity, const std::string &text) {
  const CMPIBroker *broker = nullptr;
  {
    std::lock_guard<std::mutex> guard(tableLock);
    broker = logBroker;
  }
  if (broker != nullptr) CMLogMessage(broker, severity, kLogId, text.c_str(), nullptr);
}

void raise(const CMPIBroker *broker, CMPIStatus *status, const std::string &text) {
  if (status == nullptr) return;
  status->rc = CMPI_RC_ERR_FAILED;
  status->msg = broker != nullptr ? CMNewString(broker, text.c_str(), nullptr) : nullptr;
}

std::string environment(const char *name, const char *fallback) {
  const char *value = std::getenv(name);
  return value != nullptr && *value != '\0' ? value : fallback;
}

bool refused(int trapNumber) {
  std::istringstream list(environment("KELVA_TRAP_REFUSE", ""));
  std::string item;
  while (std::getline(list, item, ',')) {
    if (!item.empty() && std::atoi(item.c_str()) == trapNumber) return true;
  }
  return false;
}

// The sender's address of a received packet, as dotted text.
std::string senderOf(const netsnmp_pdu *pdu) {
  if (pdu->transport_data == nullptr ||
      pdu->transport_data_length < static_cast<int>(sizeof(netsnmp_indexed_addr_pair))) {
    return std::string();
  }
  const auto *pair = static_cast<const netsnmp_indexed_addr_pair *>(pdu->transport_data);
  if (pair->remote_addr.sa.sa_family != AF_INET) return std::string();
  char text[INET_ADDRSTRLEN] = {};
  if (inet_ntop(AF_INET, &pair->remote_addr.sin.sin_addr, text, sizeof text) == nullptr) {
    return std::string();
  }
  return text;
}

bool isFilerEnterprise(const oid *name, size_t length) {
  return name != nullptr && length >= kEnterpriseLength &&
         snmp_oid_compare(name, kEnterpriseLength, kEnterprise, kEnterpriseLength) == 0;
}

// The trap number and source of a filer trap; false for anything else.
bool decode(const netsnmp_pdu *pdu, int *trapNumber, std::string *source) {
  if (pdu->command == SNMP_MSG_TRAP) {
    if (pdu->trap_type != SNMP_TRAP_ENTERPRISESPECIFIC) return false;
    if (!isFilerEnterprise(pdu->enterprise, pdu->enterprise_length) ||
        pdu->enterprise_length != kEnterpriseLength) {
      return false;
    }
    *trapNumber = static_cast<int>(pdu->specific_type);
    static const unsigned char kNoAddress[4] = {0, 0, 0, 0};
    if (std::memcmp(pdu->agent_addr, kNoAddress, 4) != 0) {
      char text[INET_ADDRSTRLEN] = {};
      inet_ntop(AF_INET, pdu->agent_addr, text, sizeof text);
      *source = text;
    } else {
      *source = senderOf(pdu);
    }
    return !source->empty();
  }
  if (pdu->command == SNMP_MSG_TRAP2) {
    const netsnmp_variable_list *trapOid = pdu->variables;
    if (trapOid != nullptr) trapOid = trapOid->next_variable;  // after sysUpTime.0
    if (trapOid == nullptr || trapOid->type != ASN_OBJECT_ID ||
        snmp_oid_compare(trapOid->name, trapOid->name_length, kSnmpTrapOid, kSnmpTrapOidLength) !=
            0) {
      return false;
    }
    const oid *value = trapOid->val.objid;
    size_t length = trapOid->val_len / sizeof(oid);
    if (length != kEnterpriseLength + 2 || !isFilerEnterprise(value, length) ||
        value[kEnterpriseLength] != 0) {
      return false;
    }
    *trapNumber = static_cast<int>(value[kEnterpriseLength + 1]);
    *source = senderOf(pdu);
    return !source->empty();
  }
  return false;
}

void deliver(int trapNumber, const std::string &source) {
  std::vector<Subscriber> targets;
  {
    std::lock_guard<std::mutex> guard(tableLock);
    for (const auto &[key, subscriber] : subscribers)
      if (key.second == trapNumber) targets.push_back(subscriber);
  }
  if (targets.empty()) {
    logLine(3, "Trap #" + std::to_string(trapNumber) + " from " + source +
                   " has no subscriber; ignored.");
    return;
  }
  for (const Subscriber &s : targets) s.callback(trapNumber, source.c_str(), s.data);
}

int onPacket(int operation, netsnmp_session *, int, netsnmp_pdu *pdu, void *) {
  if (operation != NETSNMP_CALLBACK_OP_RECEIVED_MESSAGE || pdu == nullptr) return 1;
  int trapNumber = 0;
  std::string source;
  if (!decode(pdu, &trapNumber, &source)) {
    logLine(3, "A packet that is no trap of a filer was ignored.");
    return 1;
  }
  deliver(trapNumber, source);
  return 1;
}

// Every packet passes here after parsing; one that did not parse is logged.
int afterParse(netsnmp_session *, netsnmp_pdu *, int result) {
  if (result != 0) logLine(3, "A malformed SNMP packet was ignored.");
  return 1;
}

std::mutex netSnmpLock;

// The listener: one session on the configured transport and a thread reading it.
class Listener {
 public:
  ~Listener() { stop(); }

  bool running() const { return session_ != nullptr; }

  // Starts listening; false with the reason when the port cannot be had.
  bool start(std::string *why) {
    initialise();
    std::string where = environment("KELVA_TRAP_LISTEN", "udp:162");
    netsnmp_transport *transport = netsnmp_transport_open_server(kLogId, where.c_str());
    if (transport == nullptr) {
      *why = "Unable to listen for traps on " + where;
      return false;
    }
    netsnmp_session settings;
    snmp_sess_init(&settings);
    settings.peername = nullptr;
    settings.version = SNMP_DEFAULT_VERSION;
    settings.callback = onPacket;
    settings.callback_magic = nullptr;
    settings.authenticator = nullptr;
    settings.isAuthoritative = SNMP_SESS_UNKNOWNAUTH;
    session_ = snmp_sess_add(&settings, transport, nullptr, afterParse);
    if (session_ == nullptr) {
      *why = "Unable to open a trap session on " + where;
      return false;
    }
    stopping_ = false;
    thread_ = std::thread([this] { run(); });
    return true;
  }

  void stop() {
    if (session_ == nullptr) return;
    stopping_ = true;
    if (thread_.joinable()) thread_.join();
    snmp_sess_close(session_);
    session_ = nullptr;
  }

 private:
  // Starts net-snmp once per process.  net-snmp keeps what it
  // registers for the life of the process, so it is pinned in memory: this
  // library may be unloaded and loaded again, net-snmp stays, and what it
  // registered stays reachable.  Traps are read by number, so neither
  // configuration files, nor persistent state, nor MIB files are read; the
  // first of those settings also marks net-snmp as started for a later load.
  static void initialise() {
    std::lock_guard<std::mutex> guard(netSnmpLock);
    Dl_info where{};
    if (dladdr(reinterpret_cast<void *>(&netsnmp_tdomain_init), &where) != 0 &&
        where.dli_fname != nullptr) {
      (void)dlopen(where.dli_fname, RTLD_NOW | RTLD_NOLOAD | RTLD_NODELETE);
    }
    if (netsnmp_ds_get_boolean(NETSNMP_DS_LIBRARY_ID, NETSNMP_DS_LIB_DONT_READ_CONFIGS) != 0) {
      return;
    }
    netsnmp_ds_set_boolean(NETSNMP_DS_LIBRARY_ID, NETSNMP_DS_LIB_DONT_READ_CONFIGS, 1);
    netsnmp_ds_set_boolean(NETSNMP_DS_LIBRARY_ID, NETSNMP_DS_LIB_DISABLE_PERSISTENT_LOAD, 1);
    netsnmp_ds_set_boolean(NETSNMP_DS_LIBRARY_ID, NETSNMP_DS_LIB_DISABLE_PERSISTENT_SAVE, 1);
    // The first session set-up registers the transports, once per process.
    netsnmp_session unused;
    snmp_sess_init(&unused);
  }

  void run() {
    while (!stopping_) {
      int fds = 0;
      int block = 0;
      fd_set readable;
      FD_ZERO(&readable);
      timeval wait{0, 100000};
      snmp_sess_select_info(session_, &fds, &readable, &wait, &block);
      // Wake up often enough to notice a stop.
      wait = timeval{0, 100000};
      int ready = select(fds, &readable, nullptr, nullptr, &wait);
      if (ready > 0) snmp_sess_read(session_, &readable);
    }
  }

  void *session_ = nullptr;
  std::atomic<bool> stopping_{false};
  std::thread thread_;
};

// Guarded by listenerLock, which is never held while a callback runs.
std::mutex listenerLock;
Listener listener;

}  // namespace

TRAPSINK_API void SNMPTrapSubscribe(const CMPIBroker *broker, const char *className, int trapNumber,
                                    WSITrapCallback callback, void *data, CMPIStatus *status) {
  if (status != nullptr) *status = CMPIStatus{CMPI_RC_OK, nullptr};
  if (callback == nullptr || className == nullptr) {
    raise(broker, status, "Trap subscription without a class or a callback");
    return;
  }
  if (refused(trapNumber)) {
    raise(broker, status, "Trap #" + std::to_string(trapNumber) + " cannot be subscribed");
    return;
  }
  std::lock_guard<std::mutex> listening(listenerLock);
  {
    std::lock_guard<std::mutex> guard(tableLock);
    if (logBroker == nullptr) logBroker = broker;
    subscribers[{className, trapNumber}] = Subscriber{callback, data};
  }
  if (listener.running()) return;
  std::string why;
  if (!listener.start(&why)) {
    std::lock_guard<std::mutex> guard(tableLock);
    subscribers.erase({className, trapNumber});
    if (subscribers.empty()) logBroker = nullptr;
    raise(broker, status, why);
  }
}

TRAPSINK_API void SNMPTrapUnSubscribe(const CMPIBroker *broker, const char *className,
                                      int trapNumber, CMPIStatus *status) {
  (void)broker;
  if (status != nullptr) *status = CMPIStatus{CMPI_RC_OK, nullptr};
  if (className == nullptr) return;
  std::lock_guard<std::mutex> listening(listenerLock);
  bool last = false;
  {
    std::lock_guard<std::mutex> guard(tableLock);
    subscribers.erase({className, trapNumber});
    last = subscribers.empty();
    if (last) logBroker = nullptr;
  }
  if (last) listener.stop();
}
