// What the storage reads need from the filer cache: each entry keeps the storage
// data read from its filer beside its filer-specific data, under a lock of its own
// so that a long storage read never holds up the health and node-name readers.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "wbemkelvai/wsiapi.h"
#include "wbemkelvai/wsifiler.h"

namespace wsi {

// The pieces of storage data cached per filer; each is read with one request.
enum Piece : unsigned { kAggregates, kVolumes, kDisks, kLuns, kIGroups, kPieceCount };
constexpr unsigned pieceBit(Piece piece) { return 1u << piece; }
constexpr unsigned kAllPieces = (1u << kPieceCount) - 1;

// The storage pieces that a request of this API may change, from the table of
// requests kept beside the storage code (storage.cpp); every piece for a request
// that is not in the table.
unsigned piecesChangedBy(const std::string &api);

// How long a filer that did not answer within its time-out is left alone by the
// cache's refreshes (docs/cache.md).
constexpr int kQuietSeconds = 20;

// Remembers that a filer did not answer within its time-out, so that refreshes made
// under an entry's lock fail fast for kQuietSeconds instead of waiting the whole
// time-out again on every call.
class QuietTime {
 public:
  // Empty when the filer may be asked now; otherwise why it is not.
  std::string why(const char *host) const;
  // Notes the answer of a refresh: a time-out starts a quiet time, any other
  // answer ends it.
  void note(const WSIElement *answer);

 private:
  std::atomic<int64_t> untilMillis_{0};
};

// The storage data of one entry (storage.cpp).
struct StoragePieces;
struct StoragePiecesDeleter {
  void operator()(StoragePieces *pieces) const;
};

// An entry's storage side, valid while withStorage runs its function.
struct StorageAccess {
  const Filer *filer;  // the entry's copy of the filer record; NULL before its first storage read
  std::unique_ptr<StoragePieces, StoragePiecesDeleter> &pieces;
  // Counts changes per piece: a piece read when its count was n is fresh only while
  // the count is still n.
  std::atomic<uint64_t> *generations;
  QuietTime &quiet;
};

// Runs use with the storage side of the filer's entry locked, adding the entry when
// missing.  False with the status set when there is no usable entry; otherwise what
// use returns.
bool withStorage(const Filer *filer, KELVAStatus *status,
                 const std::function<bool(StorageAccess &)> &use);
// Like withStorage, for the existing entry of a systemId, without changing its filer
// record; false (status set) when there is no such entry.
bool withStorageOf(const std::string &systemId, KELVAStatus *status,
                   const std::function<bool(StorageAccess &)> &use);

}  // namespace wsi
