// The indication subscriptions that CIM-XML clients make through `provkit-agent serve`
// (a CIM_IndicationFilter, a CIM_ListenerDestinationCIMXML and a CIM_IndicationSubscription
// joining them), and the delivery of the providers' indications to those listeners as
// ExportIndication requests.
#pragma once

#include <cmpidt.h>

#include <condition_variable>
#include <cstddef>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "agent.h"

namespace agent {

class Subscriptions {
 public:
  // Takes the object manager's indications from now on.
  explicit Subscriptions(Host &host);
  // Ends every subscription and the deliveries still waiting.
  ~Subscriptions();
  Subscriptions(const Subscriptions &) = delete;
  Subscriptions &operator=(const Subscriptions &) = delete;

  // Whether instances of the class live here rather than with a provider.
  bool holds(const std::string &className) const;

  // The instance, checked and completed, kept under its path (returned; the caller
  // releases it).  A subscription activates the indication providers of its filter's
  // class.  Throws CimError: 4 a missing or bad property, a listener not on loopback or
  // a filter or destination that is not there; 11 one of that path exists; 15 a query
  // that selects more than a class.
  CMPIObjectPath *create(const std::string &nameSpace, const CMPIInstance *instance);
  // Throws CimError: 6 no such instance; 1 a filter or destination still subscribed.
  void remove(const CMPIObjectPath *path);
  // A clone the caller releases; throws CimError(6).
  CMPIInstance *get(const CMPIObjectPath *path) const;
  // Clones of the instances of the class and its subclasses, released by the caller.
  std::vector<CMPIInstance *> all(const std::string &className) const;

  // Deliveries made, and those that failed (no listener, an error answer).
  size_t delivered() const;
  size_t failed() const;

 private:
  struct Activation;
  struct Delivery {
    std::string host;
    int port;
    std::string target;
    std::string body;
  };
  void onIndication(const std::string &nameSpace, const CMPIInstance *indication);
  std::vector<std::unique_ptr<Activation>> activate(const std::string &filterClass,
                                                    const std::string &query,
                                                    const std::string &nameSpace);
  void deactivate(std::vector<std::unique_ptr<Activation>> &activations);
  void send();

  Host &host_;
  mutable std::mutex mutex_;
  std::map<std::string, CMPIInstance *> instances_;  // by path text
  struct Subscribed {
    std::string filter, handler;  // path texts
    std::vector<std::unique_ptr<Activation>> activations;
  };
  std::map<std::string, Subscribed> subscribed_;  // by the subscription's path text

  mutable std::mutex queueMutex_;
  std::condition_variable queued_;
  std::deque<Delivery> queue_;
  bool stopping_ = false;
  size_t delivered_ = 0;
  size_t failed_ = 0;
  unsigned messageId_ = 0;
  std::thread sender_;
};

}  // namespace agent
