// The status and C-edge part of the controller library's kit (kit.h), on its own
// so that the runtime, which sits below the request interface, can use it.
#pragma once

#include <exception>
#include <new>
#include <string>
#include <utility>

#include "wbemkelvai/wsiruntime.h"

namespace wsi {

// ---- Status ---------------------------------------------------------------------

// A local controller status record: starts as success, released on scope exit.
class StatusRecord {
 public:
  StatusRecord() = default;
  ~StatusRecord() { clearKELVAStatus(&record_); }
  StatusRecord(const StatusRecord &) = delete;
  StatusRecord &operator=(const StatusRecord &) = delete;
  StatusRecord(StatusRecord &&) = delete;
  StatusRecord &operator=(StatusRecord &&) = delete;

  KELVAStatus *get() { return &record_; }
  bool failed() const { return checkStatus(&record_) != 0; }
  const char *message() const { return record_.message; }

 private:
  KELVAStatus record_ = KELVA_STATUS_INIT;
};

// The caller's controller status record, or a local one when the caller passed
// none, so that every helper below the C edge gets a record it can set.
class StatusSlot {
 public:
  explicit StatusSlot(KELVAStatus *status) : target_(status != nullptr ? status : own_.get()) {}
  StatusSlot(const StatusSlot &) = delete;
  StatusSlot &operator=(const StatusSlot &) = delete;
  StatusSlot(StatusSlot &&) = delete;
  StatusSlot &operator=(StatusSlot &&) = delete;
  ~StatusSlot() = default;

  KELVAStatus *get() const { return target_; }
  bool failed() const { return checkStatus(target_) != 0; }

 private:
  StatusRecord own_;
  KELVAStatus *target_;
};

// Sets the (non-null) status to a failure with the text.
inline void fail(KELVAStatus *status, const std::string &text) {
  setKELVAStatus(status, 0, text.c_str());
}

constexpr const char *kNoMemory = "Insufficient memory";

// ---- C edge -----------------------------------------------------------------------

// Runs the body of an exported function.  An exception that escapes it becomes
// `failure`, after `onError` has run with the reason.
template <typename Result, typename Body, typename OnError>
Result cEdge(Result failure, Body &&body, OnError &&onError) noexcept {
  try {
    return std::forward<Body>(body)();
  } catch (const std::bad_alloc &) {
    onError(kNoMemory);
  } catch (const std::exception &error) {
    onError(error.what());
  } catch (...) {
    onError("Unexpected internal error");
  }
  return failure;
}

// The same for a function without a status: the reason is dropped.
template <typename Result, typename Body>
Result cEdge(Result failure, Body &&body) noexcept {
  return cEdge(failure, std::forward<Body>(body), [](const char *) noexcept {});
}

// The same for a function that reports into a controller status record (the
// caller's, possibly NULL): the body gets a non-null record, and an escaping
// exception's reason is set there.
template <typename Result, typename Body>
Result cEdge(KELVAStatus *callerStatus, Result failure, Body &&body) noexcept {
  // The slot itself may not be made when even that fails; it allocates nothing.
  StatusSlot slot(callerStatus);
  return cEdge(
      failure, [&] { return std::forward<Body>(body)(slot.get()); },
      [&](const char *why) noexcept { setKELVAStatus(slot.get(), 0, why); });
}

// The same for a function without a result.
template <typename Body>
void cEdgeVoid(KELVAStatus *callerStatus, Body &&body) noexcept {
  cEdge(callerStatus, 0, [&](KELVAStatus *status) {
    std::forward<Body>(body)(status);
    return 0;
  });
}

}  // namespace wsi
