// Loader of the sibling implementation libraries.  It keeps no state: every
// load opens the library again (the system counts the loads) and every unload
// releases one of them, so any number of threads may use it at once.
#include "provkit/loader.h"

#include <cmpimacs.h>

#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <tuple>
#include <type_traits>

#include "guards.h"
#include "internal.h"
#include "provkit/frame.h"

namespace pk {

std::string formatSystemError() {
  std::string text = platform::lastLibraryError();
  if (text.size() > 511) text.resize(511);
  return text;
}

namespace {

// Function names looked up by the CMPI family; each loader reads a slice.
constexpr const char *cmpiNames[18] = {
    "getInstanceImpl",    "enumInstancesImpl",     "enumInstNamesImpl",
    "existsImpl",         "authorizeFilter",       "activateFilter",
    "deActivateFilter",   "enableIndications",     "initProvider",
    "invokeMethodImpl",   "getAssociatorPathImpl", "getAssociatorInstanceImpl",
    "enumIndElements",    "freeIndElements",       "newInstanceFromIndElement",
    "compareIndElements", "SNMPTrapSubscribe",     "SNMPTrapUnSubscribe"};

// Function names looked up by the plain family.
constexpr const char *plainNames[13] = {
    "getInstanceImpl",   "enumInstancesImpl",     "enumInstNamesImpl",
    "existsImpl",        "setInstanceImpl",       "deleteInstanceImpl",
    "invokeMethodImpl",  "getAssociatorPathImpl", "getAssociatorInstanceImpl",
    "enumIndElements",   "freeIndElements",       "newInstanceFromIndElement",
    "compareIndElements"};

constexpr const char *jobNames[8] = {
    "getJobUpdate",    "trackJobStateChanges",    "getJobInstance",  "addJobInstance",
    "getJobInstances", "getJobProgressInstances", "freeJobInstance", "freeJobInstanceList"};

// Base names of the fixed libraries; the platform gives their file names.
constexpr const char *trapSinkLibrary = "trapsinkprv";
constexpr const char *jobServiceLibrary = "tasksvcprv";

// The block volume library also serves setInstance; the view controller
// library setInstance and deleteInstance.  Names of both platforms count.
bool servesSetInstance(const char *fileName) {
  if (fileName == nullptr) return false;
  for (const char *name :
       {"blockvolprv.dll", "libblockvolprv.so", "viewctlprv.dll", "libviewctlprv.so"}) {
    if (std::strcmp(fileName, name) == 0) return true;
  }
  return false;
}
bool servesDeleteInstance(const char *fileName) {
  return fileName != nullptr && (std::strcmp(fileName, "viewctlprv.dll") == 0 ||
                                 std::strcmp(fileName, "libviewctlprv.so") == 0);
}

// Each record's function fields, in the order of its table slice.
template <typename Record>
struct Fields;
template <>
struct Fields<WSIInstanceImpl> {
  static constexpr auto all =
      std::tuple{&WSIInstanceImpl::getInstanceImpl,   &WSIInstanceImpl::enumInstancesImpl,
                 &WSIInstanceImpl::enumInstNamesImpl, &WSIInstanceImpl::existsImpl,
                 &WSIInstanceImpl::setInstanceImpl,   &WSIInstanceImpl::deleteInstanceImpl};
};
template <>
struct Fields<WSIIndicationProv> {
  static constexpr auto all =
      std::tuple{&WSIIndicationProv::authorizeFilter, &WSIIndicationProv::activateFilter,
                 &WSIIndicationProv::deActivateFilter, &WSIIndicationProv::enableIndications,
                 &WSIIndicationProv::initProvider};
};
template <>
struct Fields<WSIMethodImpl> {
  static constexpr auto all = std::tuple{&WSIMethodImpl::invokeMethodImpl};
};
template <>
struct Fields<WSIAssocImpl> {
  static constexpr auto all =
      std::tuple{&WSIAssocImpl::getAssociatorPathImpl, &WSIAssocImpl::getAssociatorInstanceImpl};
};
template <>
struct Fields<WSIIndImpl> {
  static constexpr auto all =
      std::tuple{&WSIIndImpl::enumIndElements, &WSIIndImpl::freeIndElements,
                 &WSIIndImpl::newInstanceFromIndElement, &WSIIndImpl::compareIndElements};
};
template <>
struct Fields<WSISNMPImpl> {
  static constexpr auto all =
      std::tuple{&WSISNMPImpl::SNMPTrapSubscribe, &WSISNMPImpl::SNMPTrapUnSubscribe};
};
template <>
struct Fields<WSIJobImpl> {
  static constexpr auto all = std::tuple{&WSIJobImpl::getJobUpdate};
};
template <>
struct Fields<WSIJobServiceImpl> {
  static constexpr auto all =
      std::tuple{&WSIJobServiceImpl::trackJobStateChanges,    &WSIJobServiceImpl::getJobInstance,
                 &WSIJobServiceImpl::addJobInstance,          &WSIJobServiceImpl::getJobInstances,
                 &WSIJobServiceImpl::getJobProgressInstances, &WSIJobServiceImpl::freeJobInstance,
                 &WSIJobServiceImpl::freeJobInstanceList};
};

template <typename Record>
constexpr size_t fieldCount = std::tuple_size_v<decltype(Fields<Record>::all)>;

// Stores the looked-up addresses into the record's fields, in order.
template <typename Record>
void assignFields(Record &record, void *const *addresses) {
  std::apply(
      [&](auto... members) {
        size_t i = 0;
        ((record.*members =
              reinterpret_cast<std::remove_reference_t<decltype(record.*members)>>(addresses[i++])),
         ...);
      },
      Fields<Record>::all);
}

// What the system would say of a call made without a library name or handle:
// no system call ran, so the thread's last system text belongs to another call.
constexpr const char *noLibraryName = "invalid library name";
constexpr const char *noLibraryHandle = "invalid library handle";

void setFailure(KELVAStatus *kstatus, const char *format, const char *first, const char *second) {
  char text[1024];
  std::snprintf(text, sizeof text, format, first, second);
  setKELVAStatus(kstatus, 0, text);
}

const char *orEmpty(const char *text) { return text != nullptr ? text : ""; }

// Records a plain-family call's outcome: success, or the failure `format`
// with the name and the system's text (`noCall` when no system call ran).
void *recordOutcome(KELVAStatus *kstatus, void *result, bool systemCalled, const char *noCall,
                    const char *format, const char *name) {
  if (result != nullptr) {
    setKELVAStatus(kstatus, 1, nullptr);
    return result;
  }
  std::string why = systemCalled ? formatSystemError() : noCall;
  setFailure(kstatus, format, orEmpty(name), why.c_str());
  return nullptr;
}

// The body of a plain-family function: an escaping exception becomes a
// failure in the controller status record and `failure` as the result.
template <typename Result, typename Body>
Result plainEdge(KELVAStatus *kstatus, Result failure, Body &&body) noexcept {
  return cEdge(failure, std::forward<Body>(body), [&](const char *why) noexcept {
    if (kstatus != nullptr) setKELVAStatus(kstatus, 0, why);
  });
}

// CMPI family record loader: all functions of the slice or an empty record.
// `count` names from `first` on fill the first fields; the rest stay null.
template <typename Record>
Record cmpiLoad(const CMPIBroker *broker, CMPIStatus *callerStatus, const char *libraryName,
                size_t first, size_t count, const char *loaderName) {
  StatusSlot status(callerStatus);
  Record record{};
  record.handle = WSI_CMPILoadLib(broker, status.get(), libraryName);
  if (!status.ok()) return record;
  void *found[fieldCount<Record>] = {};
  for (size_t i = 0; i < count && i < fieldCount<Record> && status.ok(); ++i)
    found[i] = WSI_CMPIGetFunction(broker, status.get(), record.handle, cmpiNames[first + i]);
  if (status.ok()) {
    assignFields(record, found);
    return record;
  }
  CMLogMessage(broker, CMPI_SEV_WARNING, loaderName, nullptr, status.get()->msg);
  // A status of its own, so that the caller's keeps the lookup error.
  StatusSlot unloadStatus(nullptr);
  WSI_CMPIUnloadLib(broker, unloadStatus.get(), record.handle);
  return Record{};
}

// Plain family record loader.  `wanted` tells which names of the slice the
// library is asked for; the others stay null.
template <typename Record, typename Unloader>
Record plainLoad(const char *fileName, KELVAStatus *callerStatus, const char *const *names,
                 const bool *wanted, Unloader unload) {
  constexpr size_t count = fieldCount<Record>;
  RecordSlot kstatus(callerStatus);
  Record record{};
  record.handle = WSILoadLib(fileName, kstatus.get());
  if (kstatus.failed()) return record;
  void *found[count] = {};
  for (size_t i = 0; i < count && !kstatus.failed(); ++i) {
    if (wanted != nullptr && !wanted[i]) continue;
    found[i] = WSIGetFunction(record.handle, names[i], kstatus.get());
  }
  if (!kstatus.failed()) {
    assignFields(record, found);
    return record;
  }
  // A record of its own, so that the caller's keeps the lookup error.
  StatusRecord unloadStatus;
  unload(record, unloadStatus.get());
  return Record{};
}

}  // namespace
}  // namespace pk

namespace pk {

// An unloader releases the record's library, when it holds one, through its family.
template <typename Record>
void unloadRecord(const CMPIBroker *broker, CMPIStatus *status, const Record &record) {
  if (record.handle != nullptr) WSI_CMPIUnloadLib(broker, status, record.handle);
}
template <typename Record>
void unloadRecord(const Record &record, KELVAStatus *kstatus) {
  if (record.handle != nullptr) WSIUnloadLib(record.handle, kstatus);
}

}  // namespace pk

extern "C" {

// ---- CMPI family ------------------------------------------------------------

void *WSI_CMPILoadLib(const CMPIBroker *broker, CMPIStatus *status, const char *libraryName) {
  return pk::cEdge(broker, status, static_cast<void *>(nullptr), [&]() -> void * {
    char *resolved = nullptr;
    if (broker != nullptr && broker->xft != nullptr && broker->xft->resolveFileName != nullptr)
      resolved = broker->xft->resolveFileName(libraryName);
    if (resolved == nullptr) {
      raiseCMPIError(broker, status, CMPI_RC_ERR_FAILED,
                     "Unable to resolve system specific library name");
      return nullptr;
    }
    void *handle = pk::platform::libraryOpen(resolved);
    if (handle != nullptr) {
      clearCMPIError(broker, status);
    } else {
      std::string why = pk::formatSystemError();
      raiseFormattedError(broker, status, CMPI_RC_ERR_FAILED,
                          "Unable to load '%s', system error message: %s", pk::orEmpty(libraryName),
                          why.c_str());
    }
    std::free(resolved);  // the broker's resolveFileName allocates with malloc
    return handle;
  });
}

void *WSI_CMPIGetFunction(const CMPIBroker *broker, CMPIStatus *status, void *handle,
                          const char *functionName) {
  return pk::cEdge(broker, status, static_cast<void *>(nullptr), [&]() -> void * {
    void *address = handle != nullptr ? pk::platform::librarySymbol(handle, functionName) : nullptr;
    if (address != nullptr) {
      clearCMPIError(broker, status);
      return address;
    }
    std::string why = handle != nullptr ? pk::formatSystemError() : pk::noLibraryHandle;
    raiseFormattedError(broker, status, CMPI_RC_ERR_FAILED,
                        "Unable to find '%s', system error message: %s", pk::orEmpty(functionName),
                        why.c_str());
    return nullptr;
  });
}

void WSI_CMPIUnloadLib(const CMPIBroker *broker, CMPIStatus *status, void *handle) {
  pk::cEdgeVoid(broker, status, [&] {
    if (handle == nullptr) {
      raiseCMPIError(broker, status, CMPI_RC_ERR_FAILED, "Library handle is null");
      return;
    }
    if (!pk::platform::libraryUnload(handle) && broker != nullptr) {
      // An unload the system refuses leaves the library mapped, which harms no
      // caller: it is worth a warning, not an error.
      std::string why = pk::formatSystemError();
      char text[1024];
      std::snprintf(text, sizeof text, "Unable to unload a library, system error message: %s",
                    why.c_str());
      CMLogMessage(broker, CMPI_SEV_WARNING, "WSI_CMPIUnloadLib", text, nullptr);
    }
    clearCMPIError(broker, status);
  });
}

WSIInstanceImpl WSI_CMPILoadInstanceImpl(const CMPIBroker *broker, CMPIStatus *status,
                                         const char *libraryName) {
  // This family binds only the four functions that every instance library has.
  return pk::cmpiLoad<WSIInstanceImpl>(broker, status, libraryName, 0, 4,
                                       "WSI_CMPILoadInstanceImpl");
}

WSIIndicationProv WSI_CMPILoadIndicationProv(const CMPIBroker *broker, CMPIStatus *status,
                                             const char *libraryName) {
  return pk::cmpiLoad<WSIIndicationProv>(broker, status, libraryName, 4,
                                         pk::fieldCount<WSIIndicationProv>,
                                         "WSI_CMPILoadIndicationProv");
}

WSIMethodImpl WSI_CMPILoadMethodImpl(const CMPIBroker *broker, CMPIStatus *status,
                                     const char *libraryName) {
  return pk::cmpiLoad<WSIMethodImpl>(broker, status, libraryName, 9, pk::fieldCount<WSIMethodImpl>,
                                     "WSI_CMPILoadMethodImpl");
}

WSIAssocImpl WSI_CMPILoadAssocImpl(const CMPIBroker *broker, CMPIStatus *status,
                                   const char *libraryName) {
  return pk::cmpiLoad<WSIAssocImpl>(broker, status, libraryName, 10, pk::fieldCount<WSIAssocImpl>,
                                    "WSI_CMPILoadAssocImpl");
}

WSIIndImpl WSI_CMPILoadIndImpl(const CMPIBroker *broker, CMPIStatus *status,
                               const char *libraryName) {
  return pk::cmpiLoad<WSIIndImpl>(broker, status, libraryName, 12, pk::fieldCount<WSIIndImpl>,
                                  "WSI_CMPILoadIndImpl");
}

WSISNMPImpl WSI_CMPILoadSNMPImpl(const CMPIBroker *broker, CMPIStatus *status) {
  return pk::cEdge(broker, status, WSISNMPImpl{}, [&] {
    pk::StatusRecord kstatus;
    WSISNMPImpl record{};
    std::string fileName = pk::platform::libraryFileName(pk::trapSinkLibrary);
    record.handle = WSILoadLib(fileName.c_str(), kstatus.get());
    if (kstatus.failed()) {
      raiseCMPIErrorKELVA(broker, status, kstatus.get());
      return record;
    }
    void *found[2] = {};
    for (size_t i = 0; i < 2 && !kstatus.failed(); ++i)
      found[i] = WSIGetFunction(record.handle, pk::cmpiNames[16 + i], kstatus.get());
    if (!kstatus.failed()) {
      pk::assignFields(record, found);
      return record;
    }
    raiseCMPIErrorKELVA(broker, status, kstatus.get());
    pk::StatusRecord unloadStatus;
    WSIUnloadLib(record.handle, unloadStatus.get());
    return WSISNMPImpl{};
  });
}

void WSI_CMPIUnloadInstanceImpl(const CMPIBroker *broker, CMPIStatus *status,
                                WSIInstanceImpl record) {
  pk::unloadRecord(broker, status, record);
}
void WSI_CMPIUnloadIndicationProv(const CMPIBroker *broker, CMPIStatus *status,
                                  WSIIndicationProv record) {
  pk::unloadRecord(broker, status, record);
}
void WSI_CMPIUnloadMethodImpl(const CMPIBroker *broker, CMPIStatus *status, WSIMethodImpl record) {
  pk::unloadRecord(broker, status, record);
}
void WSI_CMPIUnloadAssocImpl(const CMPIBroker *broker, CMPIStatus *status, WSIAssocImpl record) {
  pk::unloadRecord(broker, status, record);
}
void WSI_CMPIUnloadIndImpl(const CMPIBroker *broker, CMPIStatus *status, WSIIndImpl record) {
  pk::unloadRecord(broker, status, record);
}
void WSI_CMPIUnloadSNMPImpl(const CMPIBroker *broker, CMPIStatus *status, WSISNMPImpl record) {
  pk::unloadRecord(broker, status, record);
}

// ---- Plain family -------------------------------------------------------------

void *WSILoadLib(const char *fileName, KELVAStatus *kstatus) {
  return pk::plainEdge(kstatus, static_cast<void *>(nullptr), [&] {
    void *handle = fileName != nullptr ? pk::platform::libraryOpen(fileName) : nullptr;
    return pk::recordOutcome(kstatus, handle, fileName != nullptr, pk::noLibraryName,
                             "Unable to load '%s', system error message: %s", fileName);
  });
}

void *WSIGetFunction(void *handle, const char *functionName, KELVAStatus *kstatus) {
  return pk::plainEdge(kstatus, static_cast<void *>(nullptr), [&] {
    void *address = handle != nullptr ? pk::platform::librarySymbol(handle, functionName) : nullptr;
    return pk::recordOutcome(kstatus, address, handle != nullptr, pk::noLibraryHandle,
                             "Unable to find '%s', system error message: %s", functionName);
  });
}

int WSIUnloadLib(void *handle, KELVAStatus *kstatus) {
  return pk::plainEdge(kstatus, 0, [&] {
    if (pk::platform::libraryUnload(handle)) {
      setKELVAStatus(kstatus, 1, nullptr);
      return 1;
    }
    std::string why = pk::formatSystemError();
    pk::setFailure(kstatus, "Unable to unload library, system error message: %s", why.c_str(),
                   nullptr);
    return 0;
  });
}

WSIInstanceImpl WSILoadInstanceImpl(const char *fileName, KELVAStatus *kstatus) {
  const bool wanted[6] = {
      true, true, true, true, pk::servesSetInstance(fileName), pk::servesDeleteInstance(fileName)};
  return pk::plainLoad<WSIInstanceImpl>(fileName, kstatus, pk::plainNames, wanted,
                                        WSIUnloadInstanceImpl);
}

WSIMethodImpl WSILoadMethodImpl(const char *fileName, KELVAStatus *kstatus) {
  return pk::plainLoad<WSIMethodImpl>(fileName, kstatus, pk::plainNames + 6, nullptr,
                                      WSIUnloadMethodImpl);
}

WSIAssocImpl WSILoadAssocImpl(const char *fileName, KELVAStatus *kstatus) {
  return pk::plainLoad<WSIAssocImpl>(fileName, kstatus, pk::plainNames + 7, nullptr,
                                     WSIUnloadAssocImpl);
}

WSIIndImpl WSILoadIndImpl(const char *fileName, KELVAStatus *kstatus) {
  return pk::plainLoad<WSIIndImpl>(fileName, kstatus, pk::plainNames + 9, nullptr,
                                   WSIUnloadIndImpl);
}

WSIJobImpl WSILoadJobImpl(const char *fileName, KELVAStatus *kstatus) {
  return pk::plainLoad<WSIJobImpl>(fileName, kstatus, pk::jobNames, nullptr, WSIUnloadJobImpl);
}

WSIJobServiceImpl WSILoadJobServiceImpl(KELVAStatus *kstatus) {
  return pk::plainEdge(kstatus, WSIJobServiceImpl{}, [&] {
    std::string fileName = pk::platform::libraryFileName(pk::jobServiceLibrary);
    return pk::plainLoad<WSIJobServiceImpl>(fileName.c_str(), kstatus, pk::jobNames + 1, nullptr,
                                            WSIUnloadJobServiceImpl);
  });
}

void WSIUnloadInstanceImpl(WSIInstanceImpl record, KELVAStatus *kstatus) {
  pk::unloadRecord(record, kstatus);
}
void WSIUnloadMethodImpl(WSIMethodImpl record, KELVAStatus *kstatus) {
  pk::unloadRecord(record, kstatus);
}
void WSIUnloadAssocImpl(WSIAssocImpl record, KELVAStatus *kstatus) {
  pk::unloadRecord(record, kstatus);
}
void WSIUnloadIndImpl(WSIIndImpl record, KELVAStatus *kstatus) {
  pk::unloadRecord(record, kstatus);
}
void WSIUnloadJobImpl(WSIJobImpl record, KELVAStatus *kstatus) {
  pk::unloadRecord(record, kstatus);
}
void WSIUnloadJobServiceImpl(WSIJobServiceImpl record, KELVAStatus *kstatus) {
  pk::unloadRecord(record, kstatus);
}

}  // extern "C"
