// Fuzzes every decoder of the key-value formats.  The first byte picks the
// decoder, the rest is the key text, handed over as a writable copy of exactly
// its length plus the terminator, so that AddressSanitizer sees any read or
// write outside it.  Decoders must point their outputs into that copy, report
// every failure through the status, and leave no object unreleased.
#include <cimom/cimom.h>
#include <cmpimacs.h>
#include <provkit/commonimpl.h>
#include <provkit/frame.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

#include "network_decoders.h"

namespace {

// Strict, so that a decoder using or releasing an object it gave back is
// caught like a leak.  A strict object manager keeps what was released until
// it goes, so a fresh one takes over now and then.
cimom::ObjectManager &objectManager() {
  static std::unique_ptr<cimom::ObjectManager> om;
  static unsigned inputs = 0;
  if (om == nullptr || ++inputs % 1024 == 0) {
    cimom::Options options;
    options.strict = true;
    om.reset();
    om = cimom::create(options);
  }
  return *om;
}

void check(bool condition) {
  if (!condition) std::abort();
}

// An output of a decoder: unset, or a pointer to a terminated text inside the
// buffer.
void checkInside(const char *out, const char *buffer, size_t size) {
  if (out == nullptr) return;
  check(out >= buffer && out < buffer + size + 1);
  check(std::memchr(out, '\0', static_cast<size_t>(buffer + size + 1 - out)) != nullptr);
}

// Runs a decoder on a path whose key holds the text.
CMPIObjectPath *pathWith(const CMPIBroker *broker, const char *key, const char *text) {
  CMPIObjectPath *op = CMNewObjectPath(broker, "root/kelva", "KELVA_StorageVolume", nullptr);
  CMAddKey(op, key, text, CMPI_chars);
  return op;
}

void decode(const CMPIBroker *broker, CMPIStatus *status, unsigned selector, char *text,
            size_t size) {
  if (selector >= 9) return netfuzz::decode(broker, status, selector - 9, text, size);
  char *a = nullptr, *b = nullptr, *c = nullptr, *d = nullptr;
  switch (selector) {
    case 0:
      decodeSystemName(broker, status, text, &a);
      break;
    case 1:
      decodeVolumeFromLUNPath(broker, status, text, &a);
      break;
    case 2:
      decodeSnapshotDeviceID(broker, status, text, &a, &b);
      break;
    case 3:
      getLunNameFromBackingSnapshot(broker, status, text, &a, &b);
      break;
    case 4: {
      unsigned long qtree = 0;
      decodeQTreeID(broker, status, text, &a, &qtree);
      break;
    }
    case 5:
      decodeStatsID(broker, status, text, &a, &b, &c, &d);
      break;
    case 6: {
      KELVALun lun{};
      lun.backingSnapshot = text;
      std::string before(text);
      isParentLun(broker, status, "/vol/volA/lun1", &lun);
      check(before == text);  // the record's path is only read
      break;
    }
    default: {
      // The decoders that read a key of an object path first.
      CMPIObjectPath *op = pathWith(broker, selector == 7 ? "InstanceID" : "DeviceID", text);
      char *copy = nullptr;
      if (selector == 7) {
        copy = getDevIDFromPath(broker, op, status);
        // Callers stop at a failed status; the next read starts afresh.
        clearCMPIError(broker, status);
        getDiskTypeFromPath(op, broker, status);
      } else {
        copy = getNameFromPathDeviceID(broker, op, status);
      }
      wsifree(copy);
      CMRelease(op);
      return;
    }
  }
  for (const char *out : {a, b, c, d}) checkInside(out, text, size);
  if (status->rc != CMPI_RC_OK) check(status->msg != nullptr);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  if (size == 0) return 0;
  cimom::ObjectManager &om = objectManager();
  const CMPIBroker *broker = om.broker();
  auto *text = static_cast<char *>(std::malloc(size));
  std::memcpy(text, data + 1, size - 1);
  text[size - 1] = '\0';
  CMPIStatus status{CMPI_RC_OK, nullptr};
  decode(broker, &status, data[0] % (9u + netfuzz::kDecoders), text, size - 1);
  clearCMPIError(broker, &status);
  std::free(text);
  check(om.liveObjects() == 0);
  check(om.misuses().empty());
  om.clearRecords();
  return 0;
}
