// What the kits of both libraries share: the controller status record's
// owners and the C-edge wrapper.  Header-only, over the controller library's
// public interface, so that provkit needs nothing of the library's inside.
#pragma once

#include <wbemkelvai/wsiruntime.h>

#include <exception>
#include <new>
#include <utility>

namespace kitcommon {

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
  const KELVAStatus *get() const { return &record_; }
  bool failed() const { return checkStatus(&record_) != 0; }
  const char *message() const { return record_.message; }

 private:
  KELVAStatus record_ = KELVA_STATUS_INIT;
};

// The caller's controller status record, or a local one when the caller passed
// none, so that every helper below the C edge gets a record it can set.
class RecordSlot {
 public:
  explicit RecordSlot(KELVAStatus *status) : target_(status != nullptr ? status : own_.get()) {}
  RecordSlot(const RecordSlot &) = delete;
  RecordSlot &operator=(const RecordSlot &) = delete;
  RecordSlot(RecordSlot &&) = delete;
  RecordSlot &operator=(RecordSlot &&) = delete;
  ~RecordSlot() = default;

  KELVAStatus *get() const { return target_; }
  bool failed() const { return checkStatus(target_) != 0; }

 private:
  StatusRecord own_;
  KELVAStatus *target_;
};

constexpr const char *kNoMemory = "Insufficient memory";

// Runs the body of an exported function.  An exception that escapes it (out
// of memory, a system error from a mutex) becomes `failure`, the function's
// failure result, after `onError` has run with the reason: no exception
// crosses the C boundary.
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

}  // namespace kitcommon
