// File systems: each filer volume stands as a local file system with one of two
// settings (write-once or not); the configuration service takes volumes off line
// and destroys them, after asking whether CIFS clients still use them.
#include "provkit/fsmanip.h"

#include <cmpimacs.h>
#include <wbemkelvai/wsiapi.h>

#include <cstring>
#include <string>

#include "filerrequests.h"
#include "guards.h"
#include "provkit/frame.h"
#include "provkit/properties.h"

namespace {

using pk::recordEdge;
using pk::filer::Element;

// The source place the controller library's diagnostics name for our requests.
constexpr const char *kSource = "cmpi/provkit/fsmanip.cpp";

// The only file-system type the filers offer.
constexpr uint16_t kFileSystemType = 14;
// Error number of a volume-offline request for a volume that is already off line.
constexpr int kAlreadyOffline = 13114;
// CIFS sessions read per request while looking for a volume's users.
constexpr int kSessionBatch = 20;

// The settings, in the order getFSSettingAt hands them out; clients store the ids.
constexpr FSSetting kSettings[2] = {
    {"LYRE-Sealmode", kFileSystemType, 1, 0, 2},
    {"LYRE-NoSealmode", kFileSystemType, 0, 1, 3},
};
constexpr const FSSetting *kSealmode = &kSettings[0];
constexpr const FSSetting *kNoSealmode = &kSettings[1];

void setRecord(KELVAStatus *status, const char *text) { setKELVAStatus(status, 0, text); }

// ---- Choosing a setting ---------------------------------------------------------

// One rule of the choice: raises rc 4 with the label (and the property) in the text.
void refuse(const CMPIBroker *broker, CMPIStatus *status, const char *format, const char *label,
            const char *name = nullptr) {
  raiseFormattedError(broker, status, CMPI_RC_ERR_INVALID_PARAMETER, format, label, name);
}

bool isNull(const CMPIData &data) { return (data.state & CMPI_nullValue) != 0; }
bool isBad(const CMPIData &data) {
  return (data.state & CMPI_badValue) != 0 && (data.state & CMPI_nullValue) == 0;
}

// An optional unsigned 16-bit property: true with *present when it holds a value.
bool optionalUint16(const CMPIBroker *broker, const CMPIInstance *instance, const char *name,
                    const char *label, CMPIStatus *status, bool *present, CMPIUint16 *value) {
  CMPIData data = getEmbPropertyFromInst(broker, name, label, CMPI_uint16, instance, 0, status);
  if (pk::failed(status)) return false;
  *present = !isNull(data);
  if (*present) *value = data.value.uint16;
  return true;
}

// The object-count and object-size properties must leave the choice to the
// filer: absent, null or zero.  A client may send them as scalars (the type the
// class declares) or as one-element arrays; both forms are examined, so that a
// non-zero scalar is refused just as a non-zero element is.
void checkZeroCount(const CMPIBroker *broker, const CMPIInstance *instance, const char *name,
                    const char *label, CMPIStatus *status) {
  CMPIStatus peekStatus{CMPI_RC_OK, nullptr};
  CMPIData peek = CMGetProperty(instance, name, &peekStatus);
  pk::adoptStatus(nullptr, peekStatus);
  if (peekStatus.rc == CMPI_RC_ERR_NO_SUCH_PROPERTY) return;
  if (peekStatus.rc == CMPI_RC_OK && isBad(peek)) {
    refuse(broker, status, "%s : %s property bad value returned from CMPI", label, name);
    return;
  }
  const CMPIType expected = peek.type == CMPI_uint64A ? CMPI_uint64A : CMPI_uint64;
  CMPIData data = getEmbPropertyFromInst(broker, name, label, expected, instance, 0, status);
  if (pk::failed(status) || isNull(data)) return;
  if (expected == CMPI_uint64) {
    if (data.value.uint64 != 0)
      refuse(broker, status, "%s : %s property element [0]  - expected value 0", label, name);
    return;
  }
  CMPIArray *array = data.value.array;
  if (array == nullptr) return;
  CMPICount count = CMGetArrayCount(array, nullptr);
  if (count == 0) return;
  if (count > 1) {
    refuse(broker, status, "%s : %s property has too many elements", label, name);
    return;
  }
  CMPIStatus elementStatus{CMPI_RC_OK, nullptr};
  CMPIData element = CMGetArrayElementAt(array, 0, &elementStatus);
  pk::adoptStatus(nullptr, elementStatus);
  if (elementStatus.rc != CMPI_RC_OK || isBad(element)) {
    refuse(broker, status, "%s : %s property bad value returned from CMPI", label, name);
    return;
  }
  if (!isNull(element) && element.value.uint64 != 0)
    refuse(broker, status, "%s : %s property element [0]  - expected value 0", label, name);
}

// An optional array of unsigned 16-bit values must not hold the forbidden value.
void checkFormats(const CMPIBroker *broker, const CMPIInstance *instance, const char *name,
                  const char *label, CMPIUint16 forbidden, const char *message,
                  CMPIStatus *status) {
  CMPIData data = getEmbPropertyFromInst(broker, name, label, CMPI_uint16A, instance, 0, status);
  if (pk::failed(status) || isNull(data) || data.value.array == nullptr) return;
  CMPIArray *array = data.value.array;
  CMPICount count = CMGetArrayCount(array, nullptr);
  for (CMPICount i = 0; i < count; ++i) {
    CMPIStatus elementStatus{CMPI_RC_OK, nullptr};
    CMPIData element = CMGetArrayElementAt(array, i, &elementStatus);
    pk::adoptStatus(nullptr, elementStatus);
    if (elementStatus.rc != CMPI_RC_OK || isBad(element)) {
      refuse(broker, status, "%s : %s property -  bad element detected from CMPI", label, name);
      return;
    }
    if (isNull(element)) continue;
    if (element.type != CMPI_uint16) {
      refuse(broker, status, "%s : %s property elements must be uint16", label, name);
      return;
    }
    if (element.value.uint16 == forbidden) {
      refuse(broker, status, message, label);
      return;
    }
  }
}

const FSSetting *chooseSetting(const CMPIBroker *broker, const CMPIInstance *instance,
                               const char *label, CMPIStatus *status) {
  CMPIData type = getEmbPropertyFromInst(broker, "ActualFileSystemType", label, CMPI_uint16,
                                         instance, 1, status);
  if (pk::failed(status)) return nullptr;
  if (type.value.uint16 != kFileSystemType) {
    refuse(broker, status, "%s : ActualFileSystemType property invalid file system type", label);
    return nullptr;
  }
  CMPIData copy =
      getEmbPropertyFromInst(broker, "CopyTarget", label, CMPI_uint16, instance, 1, status);
  if (pk::failed(status)) return nullptr;
  bool sealmode = false;
  switch (copy.value.uint16) {
    case 0:
    case 1:
      break;
    case 2:
      sealmode = true;
      break;
    default:
      refuse(broker, status, "%s : CopyTarget property must be 0,1,5, or unspecified", label);
      return nullptr;
  }
  bool present = false;
  CMPIUint16 value = 0;
  if (!optionalUint16(broker, instance, "DataExtentsSharing", label, status, &present, &value))
    return nullptr;
  if (present && value != 1) {
    refuse(broker, status, "%s : DataExtentsSharing property must be 1, or unspecified", label);
    return nullptr;
  }
  if (!optionalUint16(broker, instance, "FilenameCaseAttributes", label, status, &present, &value))
    return nullptr;
  if (present && value > 1) {
    refuse(broker, status, "%s : FilenameCaseAttributes property must be 0,1, or unspecified",
           label);
    return nullptr;
  }
  for (const char *name : {"NumberOfObjects", "NumberOfObjectsMax", "NumberOfObjectsMin",
                           "ObjectSize", "ObjectSizeMax", "ObjectSizeMin"}) {
    checkZeroCount(broker, instance, name, label, status);
    if (pk::failed(status)) return nullptr;
  }
  checkFormats(broker, instance, "FilenameStreamFormats", label, 6,
               "%s : FilenameStreamFormats cannot specify UCS-32 support", status);
  if (pk::failed(status)) return nullptr;
  checkFormats(broker, instance, "FilenameFormats", label, 3,
               "%s : FilenameFormats cannot specify VMS support", status);
  if (pk::failed(status)) return nullptr;
  for (const FSSetting &setting : kSettings) {
    if (setting.fileSystemType == type.value.uint16 && (setting.sealmode != 0) == sealmode)
      return &setting;
  }
  return nullptr;
}

// ---- Requests ---------------------------------------------------------------------

// A volume record without a name cannot be named in a request.
bool named(const KELVAVolume *volume, KELVAStatus *status, const char *message) {
  if (volume != nullptr && volume->name != nullptr) return true;
  setRecord(status, message);
  return false;
}

void takeOffline(const Filer *filer, const KELVAVolume *volume, int32_t cifsDelay,
                 KELVAStatus *status) {
  if (!named(volume, status, "KELVA_FSConfigurationService failed to add name parameter")) return;
  pk::filer::Server server = pk::filer::connect(filer, kSource, __LINE__);
  if (server == nullptr) {
    setRecord(status, "KELVA_FSConfigurationService Failed to create Server connection");
    return;
  }
  Element request = pk::filer::element("volume-offline", kSource, __LINE__);
  if (request == nullptr) {
    setRecord(status, "KELVA_FSConfigurationService volume-offline api create failed");
    return;
  }
  if (addStringElement(request.get(), "name", volume->name) == 0) {
    setRecord(status, "KELVA_FSConfigurationService failed to add name parameter");
    return;
  }
  if (addIntElement(request.get(), "cifs-delay", cifsDelay) == 0) {
    setRecord(status, "KELVA_FSConfigurationService failed to add cifs-delay parameter");
    return;
  }
  Element answer = pk::filer::invoke(server.get(), request.get(), kSource, __LINE__);
  if (answer == nullptr) {
    setRecord(status, "Insufficient memory");
    return;
  }
  if (checkResultStatus(answer.get()) != 0 || getResultErrorNum(answer.get()) == kAlreadyOffline)
    return;
  const char *reason = getResultErrorString(answer.get());
  setRecord(status, reason != nullptr ? reason : "");
}

void destroy(const Filer *filer, const KELVAVolume *volume, KELVAStatus *status) {
  if (!named(volume, status, " failed to add name parameter")) return;
  pk::filer::Server server = pk::filer::connect(filer, kSource, __LINE__);
  if (server == nullptr) {
    setRecord(status, " Failed to create Server connection");
    return;
  }
  Element request = pk::filer::element("volume-destroy", kSource, __LINE__);
  if (request == nullptr) {
    setRecord(status, " volume-destroy api creation failed");
    return;
  }
  if (addStringElement(request.get(), "name", volume->name) == 0) {
    setRecord(status, " failed to add name parameter");
    return;
  }
  Element answer = pk::filer::invoke(server.get(), request.get(), kSource, __LINE__);
  if (answer == nullptr) {
    setRecord(status, "Insufficient memory");
    return;
  }
  if (checkResultStatus(answer.get()) == 0) {
    const char *reason = getResultErrorString(answer.get());
    setRecord(status, reason != nullptr ? reason : "");
    return;
  }
  // The volume is gone whatever the cache says; a filer without a cache entry
  // has nothing to drop.
  pk::StatusRecord cache;
  (void)FilerCache_deleteVolume(filer, volume->name, cache.get());
}

// Reads one batch of sessions: true when the volume is among their volumes.
// *more stays true only while the batch held sessions.
bool batchUses(const WSIElement *answer, const char *volumeName, bool *more, KELVAStatus *status) {
  *more = false;
  WSIElement *sessions = getChildElement(answer, "cifs-sessions");
  if (sessions == nullptr) return false;
  pk::filer::Iterator walk = pk::filer::children(sessions, kSource, __LINE__);
  if (walk == nullptr) {
    setRecord(status, "Failed to create cifs-session iterator");
    return false;
  }
  while (WSIElement *session = getNextElement(walk.get())) {
    *more = true;
    WSIElement *volumes = getChildElement(session, "volumes-list");
    if (volumes == nullptr) {
      setRecord(status, "Failed to locate cifs-session 'volumes-list'");
      return false;
    }
    pk::filer::Iterator names = pk::filer::children(volumes, kSource, __LINE__);
    if (names == nullptr) {
      setRecord(status, "Failed to create cifs-session iterator");
      return false;
    }
    while (WSIElement *entry = getNextElement(names.get())) {
      const char *name = getStringElement(entry, "volume");
      if (name == nullptr) {
        setRecord(status, "Failed to isolate volume name from cifs-session");
        return false;
      }
      if (std::strcmp(name, volumeName) == 0) return true;
    }
  }
  return false;
}

int inUse(const Filer *filer, const KELVAVolume *volume, KELVAStatus *status) {
  if (!named(volume, status, "Failed to isolate volume name from cifs-session")) return 0;
  pk::filer::Server server = pk::filer::connect(filer, kSource, __LINE__);
  if (server == nullptr) {
    setRecord(status, "KELVA_FSConfigurationServiceFailed to allocate server connection");
    return 0;
  }
  Element start = pk::filer::element("cifs-session-list-iter-start", kSource, __LINE__);
  if (start == nullptr) {
    setRecord(status, "Failed to create the cifs session start API ");
    return 0;
  }
  Element started = pk::filer::invoke(server.get(), start.get(), kSource, __LINE__);
  if (started == nullptr) {
    setRecord(status, "Insufficient memory");
    return 0;
  }
  if (checkResultStatus(started.get()) == 0) {
    const char *reason = getResultErrorString(started.get());
    setRecord(status, reason != nullptr ? reason : "");
    return 0;
  }
  const char *tagText = getStringElement(started.get(), "tag");
  if (tagText == nullptr) {
    setRecord(status, "failed to find cifs-session iteration tag");
    return 0;
  }
  pk::WsiText tag(wsistrdup(tagText));
  if (tag == nullptr) {
    setRecord(status, "Insufficient memory");
    return 0;
  }
  bool found = false;
  bool more = true;
  // An empty batch ends the walk as an absent one does, so that it always ends.
  while (more && !found && checkStatus(status) == 0) {
    Element next = pk::filer::element("cifs-session-list-iter-next", kSource, __LINE__);
    if (next == nullptr || addStringElement(next.get(), "tag", tag.get()) == 0 ||
        addIntElement(next.get(), "maximum", kSessionBatch) == 0) {
      setRecord(status, "Failed to cifs-sessions-next API");
      break;
    }
    Element batch = pk::filer::invoke(server.get(), next.get(), kSource, __LINE__);
    if (batch == nullptr) {
      setRecord(status, "Insufficient memory");
      break;
    }
    if (checkResultStatus(batch.get()) == 0) {
      const char *reason = getResultErrorString(batch.get());
      setRecord(status, reason != nullptr ? reason : "");
      break;
    }
    found = batchUses(batch.get(), volume->name, &more, status);
  }
  Element end = pk::filer::element("cifs-session-list-iter-end", kSource, __LINE__);
  if (end != nullptr && addStringElement(end.get(), "tag", tag.get()) != 0)
    (void)pk::filer::invoke(server.get(), end.get(), kSource, __LINE__);
  return found && checkStatus(status) == 0 ? 1 : 0;
}

void directoryExists(const Filer *filer, const char *path, KELVAStatus *status) {
  pk::filer::Server server = pk::filer::connect(filer, kSource, __LINE__);
  if (server == nullptr) {
    setRecord(status, "Failed to create Server connection");
    return;
  }
  Element request = pk::filer::element("file-list-directory-iter-start", kSource, __LINE__);
  if (request == nullptr) {
    setRecord(status, "Create API 'file-list-directory-iter-start' failed");
    return;
  }
  if (addStringElement(request.get(), "path", path) == 0) {
    setRecord(status, "failed to add 'path' parameter");
    return;
  }
  Element answer = pk::filer::invoke(server.get(), request.get(), kSource, __LINE__);
  if (answer == nullptr) {
    setRecord(status, "Insufficient memory");
    return;
  }
  if (checkResultStatus(answer.get()) == 0) {
    const char *reason = getResultErrorString(answer.get());
    setRecord(status, reason != nullptr ? reason : "");
    return;
  }
  // The listing the check started is ended again, so that the filer does not
  // keep one open per check.
  const char *tag = getStringElement(answer.get(), "tag");
  if (tag == nullptr) return;
  Element end = pk::filer::element("file-list-directory-iter-end", kSource, __LINE__);
  if (end != nullptr && addStringElement(end.get(), "tag", tag) != 0)
    (void)pk::filer::invoke(server.get(), end.get(), kSource, __LINE__);
}

}  // namespace

extern "C" {

int getNumFSSettings(void) { return 2; }

const FSSetting *getFSSettingAt(const Filer * /*filer*/, int index) {
  return index == 0 || index == 1 ? &kSettings[index] : nullptr;
}

const FSSetting *getFSSettingByID(const Filer * /*filer*/, const char *id) {
  if (id == nullptr) return nullptr;
  if (std::strcmp(id, "2") == 0) return kSealmode;
  if (std::strcmp(id, "1") == 0 || std::strcmp(id, "3") == 0) return kNoSealmode;
  for (const FSSetting &setting : kSettings) {
    if (std::strcmp(setting.name, id) == 0) return &setting;
  }
  return nullptr;
}

int areFSSettingsSame(const FSSetting *a, const FSSetting *b) { return a == b ? 1 : 0; }

int passesFSSettingFilter(const FSSetting *setting, const KELVAVolume *volume) {
  if (setting == nullptr) return 1;
  if (volume == nullptr) return 0;
  return (setting->sealmode != 0) == (volume->sealmode != 0) ? 1 : 0;
}

const FSSetting *getFSSettingFromVolume(const Filer *filer, const char *volumeName,
                                        KELVAStatus *status) {
  pk::RecordSlot record(status);
  return recordEdge(
      record.get(), static_cast<const FSSetting *>(nullptr), [&]() -> const FSSetting * {
        pk::filer::Volume volume = pk::filer::firstVolume(filer, volumeName, 1, record.get(),
                                                          "KELVA_FSSetting Insufficient memory");
        if (volume == nullptr) return nullptr;
        return volume->sealmode != 0 ? kSealmode : kNoSealmode;
      });
}

KELVAVolume *getFileSystemFromUUID(const Filer *filer, const char *identifier,
                                   KELVAStatus *status) {
  pk::RecordSlot record(status);
  return recordEdge(record.get(), static_cast<KELVAVolume *>(nullptr), [&] {
    return pk::filer::firstVolume(filer, identifier, 0, record.get(), "Insufficient memory")
        .release();
  });
}

const FSSetting *chooseBestFileSystemSetting(const CMPIBroker *broker, const Filer * /*filer*/,
                                             const CMPIInstance *instance, const char *label,
                                             CMPIStatus *status) {
  pk::StatusSlot st(status);
  return pk::cEdge(broker, st.get(), static_cast<const FSSetting *>(nullptr),
                   [&] { return chooseSetting(broker, instance, label, st.get()); });
}

void takeFileSystemOfflineNoCache(const Filer *filer, const KELVAVolume *volume, int32_t cifsDelay,
                                  KELVAStatus *status) {
  pk::RecordSlot record(status);
  recordEdge(record.get(), 0, [&] {
    takeOffline(filer, volume, cifsDelay, record.get());
    return 0;
  });
}

void destroyFileSystem(const Filer *filer, const KELVAVolume *volume, KELVAStatus *status) {
  pk::RecordSlot record(status);
  recordEdge(record.get(), 0, [&] {
    destroy(filer, volume, record.get());
    return 0;
  });
}

int isFileSystemInUse(const Filer *filer, const KELVAVolume *volume, KELVAStatus *status) {
  pk::RecordSlot record(status);
  return recordEdge(record.get(), 0, [&] { return inUse(filer, volume, record.get()); });
}

char *makeAbsolutePath(const char *volumeName, const char *relativePath) {
  return pk::cEdge(
      static_cast<char *>(nullptr),
      [&]() -> char * {
        std::string path = "/vol/";
        path += volumeName != nullptr ? volumeName : "";
        if (relativePath != nullptr) {
          path += '/';
          path += relativePath[0] == '/' ? relativePath + 1 : relativePath;
        }
        return wsistrdup(path.c_str());
      },
      [](const char *) noexcept {});
}

void doesDirectoryExist(const Filer *filer, const char *path, KELVAStatus *status) {
  pk::RecordSlot record(status);
  recordEdge(record.get(), 0, [&] {
    directoryExists(filer, path, record.get());
    return 0;
  });
}

}  // extern "C"
