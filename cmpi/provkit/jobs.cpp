// Job support: one process-wide binding to the job-control service library,
// made at library load and retried on demand, and the paths and lifetime of jobs.
#include "provkit/jobs.h"

#include <cmpimacs.h>

#include <cstdlib>
#include <string>

#include "guards.h"
#include "internal.h"
#include "provkit/objectpath.h"

namespace pk {
namespace {

// Guarded by the job mutex.  Callers share the record and call its functions
// after the mutex is released.
constinit WSIJobServiceImpl jobService{};

constexpr unsigned long defaultJobLifetime = 3600;
constexpr unsigned long longestJobLifetime = 86400;

}  // namespace

void bindJobServiceAtLoad() {
  if (jobMutex() == nullptr) return;
  OsLock lock(jobMutex());
  // A library that is missing now may be there later: getJobServiceImpl tries again.
  StatusRecord status;
  jobService = WSILoadJobServiceImpl(status.get());
  if (status.failed()) jobService = WSIJobServiceImpl{};
}

void unbindJobServiceAtUnload() {
  if (jobMutex() == nullptr) return;
  OsLock lock(jobMutex());
  if (jobService.handle == nullptr) return;
  StatusRecord status;
  WSIUnloadJobServiceImpl(jobService, status.get());
  jobService = WSIJobServiceImpl{};
}

}  // namespace pk

extern "C" {

WSIJobServiceImpl *getJobServiceImpl(KELVAStatus *status) {
  pk::RecordSlot slot(status);
  KELVAStatus *record = slot.get();
  if (pk::jobMutex() == nullptr) {
    // Only when the library's load was refused or the system gave no mutex.
    setKELVAStatus(record, 0, "Job service lock is not available");
    return nullptr;
  }
  pk::OsLock lock(pk::jobMutex());
  if (pk::jobService.handle == nullptr) {
    pk::jobService = WSILoadJobServiceImpl(record);
    if (slot.failed()) {
      pk::jobService = WSIJobServiceImpl{};
      return nullptr;
    }
  }
  return &pk::jobService;
}

CMPIObjectPath *createJobObjectPath(const CMPIBroker *broker, const CMPIObjectPath *reference,
                                    const char *instanceId, CMPIStatus *status) {
  pk::StatusSlot st(status);
  pk::CmpiObject<CMPIObjectPath> path(
      createCMPIObjectPath(broker, st.get(), reference, "KELVA_ConcreteJob"));
  if (!path) return nullptr;
  pk::adoptStatus(st.get(), CMAddKey(path.get(), "InstanceID", instanceId, CMPI_chars));
  return st.ok() ? path.release() : nullptr;
}

unsigned long getConcreteJobLifetime(void) {
  return pk::cEdge(
      pk::defaultJobLifetime,
      [] {
        std::string text = pk::platform::getEnv("JOB_LIFETIME_SEC");
        if (text.empty()) return pk::defaultJobLifetime;
        // Taken as unsigned, so that negative values fall outside the range.
        auto seconds = static_cast<unsigned long>(std::strtol(text.c_str(), nullptr, 10));
        if (seconds >= pk::defaultJobLifetime && seconds <= pk::longestJobLifetime) return seconds;
        return pk::defaultJobLifetime;
      },
      [](const char *) noexcept {});
}

}  // extern "C"
