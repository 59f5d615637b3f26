// The iSCSI and network decoders of the decoders target: selector picks one,
// text is the writable copy, whose outputs must stay inside it.
#pragma once

#include <cmpimacs.h>
#include <provkit/endpoints.h>
#include <provkit/frame.h>

#include <cstdlib>
#include <cstring>

namespace netfuzz {

constexpr unsigned kDecoders = 11;

inline void check(bool condition) {
  if (!condition) std::abort();
}

inline void checkInside(const char *out, const char *buffer, size_t size) {
  if (out == nullptr) return;
  check(out >= buffer && out < buffer + size + 1);
  check(std::memchr(out, '\0', static_cast<size_t>(buffer + size + 1 - out)) != nullptr);
}

inline void decode(const CMPIBroker *broker, CMPIStatus *status, unsigned selector, char *text,
                   size_t size) {
  char *a = nullptr, *b = nullptr, *c = nullptr, *d = nullptr, *e = nullptr;
  uint32_t first = 0, second = 0;
  switch (selector) {
    case 0:
      decodeSessionID(broker, status, text, &a, &b, &first);
      break;
    case 1:
      decodeConnectionName(broker, status, text, &a, &b, &first, &second);
      break;
    case 2:
      decodePortalGroupID(broker, status, text, &a, &b, &c, &d, &e);
      break;
    case 3:
      decodeISCSISessionSettingID(broker, status, text, &a, &b, &c, &d, &e);
      break;
    case 4:
      decodeISCSIConnectionSettingsID(broker, status, text, &a, &b, &c, &d, &e);
      break;
    case 5:
      decodeISCSILoginStatsNodeName(broker, status, text, &a, &b, &c, &d);
      break;
    case 6:
      decodeISCSIProtocolEndPointName(broker, status, text, &a, &b);
      break;
    case 7:
      decodeTCPEndpointName(broker, status, text, &a, &b);
      break;
    case 8:
      decodeIPProtName(broker, status, text, &a, &b);
      break;
    case 9: {
      // Not in place: new texts, whose shapes follow from the input's.
      char *encoded = encodeWWN(broker, status, text);
      char *decoded = decodeWWN(broker, status, text);
      char *v6 = createIPV6FromIPV4(text);
      check(encoded != nullptr && decoded != nullptr);
      check(std::strlen(encoded) <= std::strlen(text));
      check(v6 == nullptr || std::strlen(v6) == 39);
      wsifree(encoded);
      wsifree(decoded);
      wsifree(v6);
      return;
    }
    default: {
      CMPIObjectPath *op =
          CMNewObjectPath(broker, "root/kelva", "KELVA_CECapacityUtilization", nullptr);
      CMAddKey(op, "InstanceID", text, CMPI_chars);
      wsifree(getUUIDFromCapUtilPath(broker, op, status));
      CMRelease(op);
      return;
    }
  }
  for (const char *out : {a, b, c, d, e}) checkInside(out, text, size);
  if (status->rc != CMPI_RC_OK) check(status->msg != nullptr);
}

}  // namespace netfuzz
