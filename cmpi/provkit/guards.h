// provkit's internal kit: what every area uses, so that no area writes its own.
//
//   Status     The caller's CMPI status is wrapped once at the C edge by
//              `StatusSlot` (the caller's, or a local one when the caller passed
//              none); internal helpers take a non-null `CMPIStatus *status`
//              and test it with `failed()`.  `setCode` sets a bare return code
//              without message or log line; `fail` raises rc 1 with a message;
//              `adoptStatus` takes over what a broker call returned.  The
//              controller status record has the same pair: `StatusRecord` (a
//              local one) and `RecordSlot` (the caller's, or a local one).
//   C edge     `cEdge` runs an exported function's body and turns an escaping
//              C++ exception (out of memory, a system error) into the
//              function's failure result; no exception crosses the C boundary.
//              `statusEdge` does it for a function that returns a CMPI status.
//   Owners     `CmpiObject` (an encapsulated CMPI object), `WsiText` and
//              `WsiFree` (controller library memory), `BrokerLock` and
//              `OsLock` (broker and operating-system mutexes), `OwnedArray`
//              (an array freed with its objects), `FilerList` and
//              `FilerRecord` (registry copies), `LoadedImpl` (an
//              implementation library unloaded on scope exit), `DoneOnExit`
//              (CMReturnDone on every path); `storeObject` and
//              `returnAndFreeArray` keep the array ownership rule in one place.
#pragma once

#include <cmpidt.h>
#include <cmpift.h>
#include <cmpimacs.h>
#include <wbemkelvai/wsifiler.h>
#include <wbemkelvai/wsiruntime.h>

#include <exception>
#include <memory>
#include <new>
#include <system_error>
#include <type_traits>
#include <utility>

#include "common/edge.h"
#include "common/owners.h"
#include "platform/platform.h"
#include "provkit/arrays.h"
#include "provkit/frame.h"
#include "provkit/loader.h"

namespace pk {

// The controller status record's owners, shared with the controller library's kit.
using kitcommon::RecordSlot;
using kitcommon::StatusRecord;

using kitcommon::CmpiObject;

// Holds a broker mutex (CMPI broker extension) for the scope.
class BrokerLock {
 public:
  BrokerLock(const CMPIBroker *broker, CMPI_MUTEX_TYPE mutex) : broker_(broker), mutex_(mutex) {
    broker_->xft->lockMutex(mutex_);
  }
  ~BrokerLock() { broker_->xft->unlockMutex(mutex_); }
  BrokerLock(const BrokerLock &) = delete;
  BrokerLock &operator=(const BrokerLock &) = delete;

 private:
  const CMPIBroker *broker_;
  CMPI_MUTEX_TYPE mutex_;
};

// Holds an operating-system mutex for the scope.
class OsLock {
 public:
  explicit OsLock(platform::OsMutex *mutex) : mutex_(mutex) { platform::mutexLock(mutex_); }
  ~OsLock() { platform::mutexUnlock(mutex_); }
  OsLock(const OsLock &) = delete;
  OsLock &operator=(const OsLock &) = delete;

 private:
  platform::OsMutex *mutex_;
};

// Makes the CMPI status that a broker call returned the caller's status,
// releasing the message the caller's held; a null target drops it.
inline void adoptStatus(CMPIStatus *target, CMPIStatus result) {
  if (target == nullptr) {
    if (result.msg != nullptr) result.msg->ft->release(result.msg);
    return;
  }
  if (target->msg != nullptr && target->msg != result.msg) target->msg->ft->release(target->msg);
  *target = result;
}

// True when the (non-null) status holds an error.
inline bool failed(const CMPIStatus *status) { return status->rc != CMPI_RC_OK; }

// Sets a bare return code without a message and without logging, for reads
// whose callers test the code and for which a log line would be noise.
inline void setCode(CMPIStatus *status, CMPIrc rc) { adoptStatus(status, CMPIStatus{rc, nullptr}); }

// Raises rc 1 (CMPI_RC_ERR_FAILED), the code of nearly every failure, with message.
inline void fail(const CMPIBroker *broker, CMPIStatus *status, const char *message) {
  raiseCMPIError(broker, status, CMPI_RC_ERR_FAILED, message);
}

using kitcommon::WsiFree;
using kitcommon::WsiText;

// The caller's CMPI status, or a local one when the caller passed none, so
// that a function can test and set it on every path; the local one's message
// is released on scope exit.
class StatusSlot {
 public:
  explicit StatusSlot(CMPIStatus *status) : target_(status != nullptr ? status : &own_) {}
  ~StatusSlot() {
    if (target_ == &own_) adoptStatus(nullptr, own_);
  }
  StatusSlot(const StatusSlot &) = delete;
  StatusSlot &operator=(const StatusSlot &) = delete;

  CMPIStatus *get() const { return target_; }
  bool ok() const { return target_->rc == CMPI_RC_OK; }
  bool failed() const { return !ok(); }

 private:
  CMPIStatus own_{CMPI_RC_OK, nullptr};
  CMPIStatus *target_;
};

using kitcommon::cEdge;

// The same for a function that reports into a CMPI status: the reason is
// raised there with rc 1.
template <typename Result, typename Body>
Result cEdge(const CMPIBroker *broker, CMPIStatus *status, Result failure, Body &&body) noexcept {
  return cEdge(failure, std::forward<Body>(body), [&](const char *why) noexcept {
    if (status != nullptr) raiseCMPIError(broker, status, CMPI_RC_ERR_FAILED, why);
  });
}

// The same for a function without a result.
template <typename Body>
void cEdgeVoid(const CMPIBroker *broker, CMPIStatus *status, Body &&body) noexcept {
  cEdge(
      0,
      [&] {
        body();
        return 0;
      },
      [&](const char *why) noexcept {
        if (status != nullptr) raiseCMPIError(broker, status, CMPI_RC_ERR_FAILED, why);
      });
}

// The same for a function that reports into a controller status record (the
// caller's, or a local one): the reason becomes a failure there.  The body is
// given the record, or takes nothing when it holds the record already.
template <typename Result, typename Body>
Result recordEdge(KELVAStatus *status, Result failure, Body &&body) noexcept {
  RecordSlot slot(status);
  return cEdge(
      failure,
      [&]() -> Result {
        if constexpr (std::is_invocable_v<Body &, KELVAStatus *>) {
          return body(slot.get());
        } else {
          return body();
        }
      },
      [&](const char *why) noexcept { setKELVAStatus(slot.get(), 0, why); });
}

// ---- What a provider operation holds across a request ----------------------

// The plain loader's load and unload functions of each implementation record.
template <typename Record>
struct ImplLoader;
template <>
struct ImplLoader<WSIInstanceImpl> {
  static constexpr auto load = WSILoadInstanceImpl;
  static constexpr auto unload = WSIUnloadInstanceImpl;
};
template <>
struct ImplLoader<WSIMethodImpl> {
  static constexpr auto load = WSILoadMethodImpl;
  static constexpr auto unload = WSIUnloadMethodImpl;
};
template <>
struct ImplLoader<WSIAssocImpl> {
  static constexpr auto load = WSILoadAssocImpl;
  static constexpr auto unload = WSIUnloadAssocImpl;
};
template <>
struct ImplLoader<WSIIndImpl> {
  static constexpr auto load = WSILoadIndImpl;
  static constexpr auto unload = WSIUnloadIndImpl;
};

// An implementation library record loaded through the plain loader into the
// caller's controller status record, and unloaded into the same record when
// the scope ends.  Declare it after that record, so that the record is
// cleared only once the library has been released.
template <typename Record>
class LoadedImpl {
 public:
  LoadedImpl(const char *fileName, KELVAStatus *record)
      : record_(record), impl_(ImplLoader<Record>::load(fileName, record)) {
    loaded_ = checkStatus(record) == 0;
  }
  ~LoadedImpl() {
    if (loaded_) ImplLoader<Record>::unload(impl_, record_);
  }
  LoadedImpl(const LoadedImpl &) = delete;
  LoadedImpl &operator=(const LoadedImpl &) = delete;

  bool loaded() const { return loaded_; }
  // True when loaded; otherwise raises the loader's failure (rc 1 with its
  // message) into the CMPI status and gives false.
  bool loadedOrRaise(const CMPIBroker *broker, CMPIStatus *status) const {
    if (!loaded_) raiseCMPIErrorKELVA(broker, status, record_);
    return loaded_;
  }
  const Record *operator->() const { return &impl_; }

 private:
  KELVAStatus *record_;
  Record impl_;
  bool loaded_ = false;
};

using kitcommon::FilerList;
using kitcommon::FilerRecord;

struct ArrayFree {
  void operator()(CMPIArray *array) const { freeCMPIArray(array); }
};
// An array whose objects are released with it (freeCMPIArray).
using OwnedArray = std::unique_ptr<CMPIArray, ArrayFree>;

// Whether the element of the array is the very object set into it (an object
// manager that holds what it is given) rather than a copy of it.
inline bool arrayHoldsObject(const CMPIArray *array, CMPICount index, const void *object) {
  CMPIData stored = CMGetArrayElementAt(array, index, nullptr);
  return stored.value.inst == object;  // the union's pointers share their place
}

// Stores an object that the caller made at index of the array (as
// CMPI_instance or CMPI_ref).  An object manager may hold the very object in
// the element, so once stored it is the array's owner's, given back with
// freeCMPIArray; one that stores a copy leaves the object to us, and it is
// released here, as is an object that could not be stored.
template <typename T>
void storeObject(CMPIArray *array, CMPICount index, T *object, CMPIStatus *status) {
  static_assert(std::is_same_v<T, CMPIInstance> || std::is_same_v<T, CMPIObjectPath>);
  CmpiObject<T> owned(object);
  CMPIValue value;
  CMPIType type = CMPI_ref;
  if constexpr (std::is_same_v<T, CMPIInstance>) {
    value.inst = object;
    type = CMPI_instance;
  } else {
    value.ref = object;
  }
  adoptStatus(status, CMSetArrayElementAt(array, index, &value, type));
  if (!failed(status) && arrayHoldsObject(array, index, object)) (void)owned.release();
}

// Hands every element of the array (instances, else object paths) to the
// result while the status stays good, as returnArray does, and releases the
// array with its objects, as freeCMPIArray does.  Each element is read once
// for both: a read may hand out a copy that the array keeps until it is given
// back, so a second walk would double the copies and their bookkeeping.
void returnAndFreeArray(CMPIArray *array, const CMPIResult *result, bool instances,
                        CMPIStatus *status);

// Calls CMReturnDone on the result when the scope ends, on every path out.
class DoneOnExit {
 public:
  explicit DoneOnExit(const CMPIResult *result) : result_(result) {}
  ~DoneOnExit() {
    if (result_ != nullptr) CMReturnDone(result_);
  }
  DoneOnExit(const DoneOnExit &) = delete;
  DoneOnExit &operator=(const DoneOnExit &) = delete;

 private:
  const CMPIResult *result_;
};

// Runs the body of an exported function that returns a CMPI status by value:
// an escaping exception becomes rc 1 with its reason.
template <typename Body>
CMPIStatus statusEdge(const CMPIBroker *broker, Body &&body) noexcept {
  CMPIStatus reason{CMPI_RC_OK, nullptr};
  CMPIStatus status = cEdge(
      CMPIStatus{CMPI_RC_ERR_FAILED, nullptr}, body,
      [&](const char *why) noexcept { raiseCMPIError(broker, &reason, CMPI_RC_ERR_FAILED, why); });
  return reason.rc != CMPI_RC_OK ? reason : status;
}

}  // namespace pk
