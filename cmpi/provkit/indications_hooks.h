// The indication machine's comparison of two polls, reachable from the
// benchmark: no part of the C interface.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>

#include "platform/platform.h"
#include "provkit/indications.h"

namespace pk::testing {

// One filer's elements in a snapshot: a snapshot is a WSIList of these, in
// registry order, each owning its filer copy and its element list.
struct IndSnapshotEntry {
  Filer *filer;
  WSIList *elements;
};

// An indication that a comparison finds: its class, the filer, the element and
// (for a modification) the element it was before.
using PolledChange = std::function<void(const char *className, const Filer *filer,
                                        const void *element, const void *previous)>;

// Compares two snapshots with the library's compareIndElements, for the
// indication types in wanted (PK_IND_... bits), calling change (when set) for
// each indication found; returns how many were found.
PK_TEST_HOOK size_t comparePolls(const WSIIndImpl &impl, WSIList *previous, WSIList *current,
                                 uint8_t wanted, const PolledChange &change);

}  // namespace pk::testing
