// What the network areas share: a server connection owned for a scope, made
// from a filer record, and the CMPI log calls they make with fixed texts.
#pragma once

#include <cmpidt.h>
#include <cmpift.h>
#include <cmpimacs.h>
#include <wbemkelvai/wsiapi.h>
#include <wbemkelvai/wsifiler.h>

#include <memory>
#include <utility>

#include "common/edge.h"

namespace pk {

// Runs the body of an exported function that has no status to report into:
// an escaping exception becomes the failure result.
template <typename Result, typename Body>
Result quietEdge(Result failure, Body &&body) noexcept {
  return kitcommon::cEdge(failure, std::forward<Body>(body), [](const char *) noexcept {});
}

struct ServerInfoFree {
  void operator()(WSIServerInfo *server) const { destroyServerInfo(server); }
};
// A server connection destroyed on every path out.
using Connection = std::unique_ptr<WSIServerInfo, ServerInfoFree>;

// A new connection to the filer, as its record describes it; empty when the
// record is missing or the library cannot make one.
inline Connection connectTo(const Filer *filer) {
  if (filer == nullptr) return Connection();
  return Connection(createServerInfo(filer->host, filer->userName, filer->password,
                                     filer->connParam3, filer->connParam1, filer->connParam2));
}

struct ElementFree {
  void operator()(WSIElement *element) const { freeElement(element); }
};
// A request or an answer freed with its children.
using Element = std::unique_ptr<WSIElement, ElementFree>;

// Logs text at severity (1 error, 2 information, 3 warning) under messageId;
// a broker that cannot log is no reason to fail the caller.
inline void logAt(const CMPIBroker *broker, int severity, const char *messageId, const char *text) {
  if (broker == nullptr) return;
  CMLogMessage(broker, severity, messageId, text, nullptr);
}

// Traces text at level for component.
inline void traceAt(const CMPIBroker *broker, int level, const char *component, const char *text) {
  if (broker == nullptr) return;
  CMTraceMessage(broker, level, component, text, nullptr);
}

}  // namespace pk
