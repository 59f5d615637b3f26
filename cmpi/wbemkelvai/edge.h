// The status and C-edge part of the controller library's kit (kit.h), on its own
// so that the runtime, which sits below the request interface, can use it.
#pragma once

#include <exception>
#include <new>
#include <string>
#include <utility>

#include "common/edge.h"
#include "wbemkelvai/wsiruntime.h"

namespace wsi {

// ---- Status ---------------------------------------------------------------------

using StatusRecord = kitcommon::StatusRecord;
// The caller's controller status record, or a local one when the caller passed
// none, so that every helper below the C edge gets a record it can set.
using StatusSlot = kitcommon::RecordSlot;

// Sets the (non-null) status to a failure with the text.
inline void fail(KELVAStatus *status, const std::string &text) {
  setKELVAStatus(status, 0, text.c_str());
}

using kitcommon::kNoMemory;

// ---- C edge -----------------------------------------------------------------------

using kitcommon::cEdge;

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
