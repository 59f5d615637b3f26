// The library's frame: process-wide state made at load and closed at unload,
// the stored broker, CMPI error raising and logging through the broker.
#include "provkit/frame.h"

#include <cmpimacs.h>

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <ctime>

#include "guards.h"
#include "internal.h"

namespace pk {
namespace {

// Made at load in this order; the first three are required for the load to
// succeed.  On Windows a refused load makes LoadLibrary fail; a POSIX dlopen
// cannot be refused, so a refusal leaves them all null and every user checks.
constinit platform::OsMutex *hwidCacheLock = nullptr;
constinit platform::OsMutex *brokerLock = nullptr;
constinit platform::OsMutex *healthLock = nullptr;
constinit platform::OsMutex *jobLock = nullptr;

// Set once under the broker lock, read without it by the diagnostic sinks.
constinit std::atomic<const CMPIBroker *> theBroker{nullptr};

const char *const agentVersion = "4.1";

void closeAll() {
  platform::mutexClose(hwidCacheLock);
  platform::mutexClose(brokerLock);
  platform::mutexClose(healthLock);
  platform::mutexClose(jobLock);
  hwidCacheLock = brokerLock = healthLock = jobLock = nullptr;
}

// The controller library's diagnostics are dropped until a broker is stored.
void traceSink(const char *identifier, const char *text) {
  if (const CMPIBroker *broker = theBroker.load(std::memory_order_acquire))
    logDebugStatus(broker, identifier, text);
}
void logSink(const char *identifier, const char *text) {
  if (const CMPIBroker *broker = theBroker.load(std::memory_order_acquire))
    logInfoStatus(broker, identifier, text);
}

}  // namespace

bool processAttach() {
  hwidCacheLock = platform::mutexCreate();
  brokerLock = platform::mutexCreate();
  healthLock = platform::mutexCreate();
  jobLock = platform::mutexCreate();
  if (hwidCacheLock == nullptr || brokerLock == nullptr || healthLock == nullptr) {
    closeAll();
    return false;
  }
  bindJobServiceAtLoad();
  return true;
}

void processDetach() {
  // The controller library outlives this one in the process: it must not
  // keep calling sinks whose code is about to be unmapped.
  if (theBroker.load(std::memory_order_acquire) != nullptr) setMessageFuncs(nullptr, nullptr);
  platform::mutexClose(hwidCacheLock);
  platform::mutexClose(brokerLock);
  platform::mutexClose(healthLock);
  hwidCacheLock = brokerLock = healthLock = nullptr;
  unbindJobServiceAtUnload();
  platform::mutexClose(jobLock);
  jobLock = nullptr;
}

platform::OsMutex *hardwareIdCacheLock() { return hwidCacheLock; }
platform::OsMutex *healthMutex() { return healthLock; }
platform::OsMutex *jobMutex() { return jobLock; }
const CMPIBroker *storedBroker() { return theBroker.load(std::memory_order_acquire); }

void logInfoStatus(const CMPIBroker *broker, const char *messageId, const char *text) {
  if (broker == nullptr) return;
  CMLogMessage(broker, CMPI_SEV_INFO, messageId, text, nullptr);
}

}  // namespace pk

extern "C" {

void initProvkit(const CMPIBroker *broker) {
  if (broker == nullptr || pk::theBroker.load(std::memory_order_acquire) != nullptr) return;
  if (pk::brokerLock == nullptr) return;  // the load was refused
  pk::OsLock lock(pk::brokerLock);
  if (pk::theBroker.load(std::memory_order_relaxed) != nullptr) return;
  pk::theBroker.store(broker, std::memory_order_release);
  setMessageFuncs(pk::traceSink, pk::logSink);
}

void raiseCMPIError(const CMPIBroker *broker, CMPIStatus *status, CMPIrc rc, const char *message) {
  if (status == nullptr) return;
  status->rc = rc;
  if (status->msg != nullptr) {
    CMRelease(status->msg);
    status->msg = nullptr;
  }
  if (rc == CMPI_RC_OK || broker == nullptr) return;
  status->msg = CMNewString(broker, message != nullptr ? message : "Unknown error", nullptr);
  CMLogMessage(broker, CMPI_SEV_ERROR, "CMPIError raised by provider", nullptr, status->msg);
}

void clearCMPIError(const CMPIBroker *broker, CMPIStatus *status) {
  raiseCMPIError(broker, status, CMPI_RC_OK, nullptr);
}

void raiseFormattedError(const CMPIBroker *broker, CMPIStatus *status, CMPIrc rc,
                         const char *format, const void *first, const void *second) {
  if (format == nullptr) {
    raiseCMPIError(broker, status, rc, nullptr);
    return;
  }
  char text[1024];
  // snprintf cuts at 1023 characters and terminates.  Arguments the format
  // does not consume are ignored, so both are always passed.
  std::snprintf(text, sizeof text, format, first, second);
  raiseCMPIError(broker, status, rc, text);
}

void raiseCMPIErrorKELVA(const CMPIBroker *broker, CMPIStatus *status,
                         const KELVAStatus *statusRecord) {
  raiseCMPIError(broker, status, CMPI_RC_ERR_FAILED,
                 statusRecord != nullptr ? statusRecord->message : nullptr);
}

int logKELVAStatus(const CMPIBroker *broker, const char *messageId,
                   const KELVAStatus *statusRecord) {
  if (checkStatus(statusRecord) == 0) return 0;
  logErrorStatus(broker, messageId, statusRecord->message);
  return 1;
}

void logErrorStatus(const CMPIBroker *broker, const char *messageId, const char *text) {
  if (broker == nullptr) return;
  CMLogMessage(broker, CMPI_SEV_ERROR, messageId, text, nullptr);
}

void logDebugStatus(const CMPIBroker *broker, const char *component, const char *text) {
  if (broker == nullptr) return;
  CMTraceMessage(broker, CMPI_LEV_VERBOSE, component, text, nullptr);
}

void waitSecondsCMPIThread(const CMPIBroker *broker, unsigned int seconds) {
  if (broker == nullptr || broker->xft == nullptr) return;
  const CMPIBrokerExtFT *xft = broker->xft;
  CMPI_MUTEX_TYPE mutex = xft->newMutex(0);
  if (mutex == nullptr) return;
  CMPI_COND_TYPE condition = xft->newCondition(0);
  if (condition == nullptr) {
    xft->destroyMutex(mutex);
    return;
  }
  wsi_timeval now{};
  wsi_gettimeofday(&now, nullptr);
  struct timespec deadline {};
  deadline.tv_sec = static_cast<time_t>(now.tv_sec + seconds);
  deadline.tv_nsec = static_cast<long>(now.tv_usec) * 1000L;
  {
    pk::BrokerLock lock(broker, mutex);
    // Nothing signals the condition, so a return before the deadline is a
    // spurious wake-up: wait again.
    while (xft->timedCondWait(condition, mutex, &deadline) == 0) {
      wsi_gettimeofday(&now, nullptr);
      if (now.tv_sec > deadline.tv_sec ||
          (now.tv_sec == deadline.tv_sec && now.tv_usec * 1000L >= deadline.tv_nsec))
        break;
    }
  }
  xft->destroyCondition(condition);
  xft->destroyMutex(mutex);
}

int isUnsupportedMethod(const char *methodName, const char **table) {
  if (table == nullptr) return 0;
  // The entry index is 16 bits wide: a table holds at most 65535 entries.
  for (uint16_t i = 0; i < UINT16_MAX && table[i] != nullptr; ++i) {
    if (strCompare(methodName, table[i]) == 0) return 1;
  }
  return 0;
}

char *getSMISAgentVersionString(const CMPIBroker *broker, CMPIStatus *status) {
  const char *version = pk::agentVersion;
  if (version == nullptr) {
    raiseCMPIError(broker, status, CMPI_RC_ERR_FAILED, "Version String is NULL");
    return nullptr;
  }
  char *copy = wsistrdup(version);
  if (copy == nullptr)
    raiseCMPIError(broker, status, CMPI_RC_ERR_FAILED,
                   "Unable to allocate memory for version string");
  return copy;
}

}  // extern "C"
