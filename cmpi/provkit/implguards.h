// Owners for what the provider operations hold across a request: an
// implementation library record, the registry's filer list and records, and
// arrays that an implementation library or an array function handed over.
#pragma once

#include <cmpidt.h>
#include <cmpift.h>
#include <cmpimacs.h>
#include <wbemkelvai/wsifiler.h>
#include <wbemkelvai/wsiruntime.h>

#include <memory>

#include "guards.h"
#include "provkit/arrays.h"
#include "provkit/loader.h"

namespace pk {

// An implementation library record loaded through the plain loader into the
// caller's controller status record, and unloaded into the same record when
// the scope ends.  Declare it after that record, so that the record is
// cleared only once the library has been released.
template <typename Record>
class LoadedImpl {
 public:
  using Loader = Record (*)(const char *, KELVAStatus *);
  using Unloader = void (*)(Record, KELVAStatus *);

  LoadedImpl(Loader load, Unloader unload, const char *fileName, KELVAStatus *record)
      : unload_(unload), record_(record), impl_(load(fileName, record)) {
    loaded_ = checkStatus(record) == 0;
  }
  ~LoadedImpl() {
    if (loaded_) unload_(impl_, record_);
  }
  LoadedImpl(const LoadedImpl &) = delete;
  LoadedImpl &operator=(const LoadedImpl &) = delete;

  bool loaded() const { return loaded_; }
  const Record *operator->() const { return &impl_; }

 private:
  Unloader unload_;
  KELVAStatus *record_;
  Record impl_;
  bool loaded_ = false;
};

struct FilersFree {
  void operator()(WSIList *filers) const { freeFilers(filers); }
};
// A list of filer records from the registry.
using FilerList = std::unique_ptr<WSIList, FilersFree>;

struct FilerFree {
  void operator()(Filer *filer) const { freeFiler(filer); }
};
// One filer record copy (verifyObject's, the registry's).
using FilerRecord = std::unique_ptr<Filer, FilerFree>;

struct ArrayFree {
  void operator()(CMPIArray *array) const { freeCMPIArray(array); }
};
// An array whose objects are released with it (freeCMPIArray).
using OwnedArray = std::unique_ptr<CMPIArray, ArrayFree>;

// Stores an object that the caller made at index of the array (as
// CMPI_instance or CMPI_ref).  An object manager may hold the very object in
// the element, so once stored it is the array's owner's, given back with
// freeCMPIArray; an object that could not be stored is released here.
inline void storeObject(CMPIArray *array, CMPICount index, CMPIInstance *object,
                        CMPIStatus *status) {
  CmpiObject<CMPIInstance> owned(object);
  CMPIValue value;
  value.inst = object;
  adoptStatus(status, CMSetArrayElementAt(array, index, &value, CMPI_instance));
  if (!failed(status)) (void)owned.release();
}
inline void storeObject(CMPIArray *array, CMPICount index, CMPIObjectPath *object,
                        CMPIStatus *status) {
  CmpiObject<CMPIObjectPath> owned(object);
  CMPIValue value;
  value.ref = object;
  adoptStatus(status, CMSetArrayElementAt(array, index, &value, CMPI_ref));
  if (!failed(status)) (void)owned.release();
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
