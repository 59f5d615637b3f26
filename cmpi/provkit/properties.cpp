// Keys, properties and method parameters read with their types and states
// tested, and the checks providers make against a filer.
#include "provkit/properties.h"

#include <cmpimacs.h>

#include <cstdint>

#include "guards.h"
#include "provkit/frame.h"
#include "provkit/loader.h"

namespace {

// A state without the key flag: a key's value is as good as a property's.
CMPIValueState plainState(CMPIValueState state) {
  return static_cast<CMPIValueState>(state & ~CMPI_keyValue);
}

CMPIData badData() {
  CMPIData data{};
  data.type = 0;
  data.state = CMPI_badValue;
  return data;
}

// Types whose value is an encapsulated object, which may be a null pointer.
bool holdsObject(CMPIType type) {
  if ((type & CMPI_ARRAY) != 0) return true;
  switch (type) {
    case CMPI_instance:
    case CMPI_ref:
    case CMPI_args:
    case CMPI_filter:
    case CMPI_enumeration:
    case CMPI_string:
    case CMPI_chars:
    case CMPI_dateTime:
    case CMPI_ptr:
    case CMPI_charsptr:
      return true;
    default:
      return false;
  }
}

// Reads a string key of the path: its string object (which the caller may
// release), or nullptr with the status set.
CMPIString *stringKey(CMPIStatus *status, const CMPIObjectPath *path, const char *keyName) {
  pk::StatusSlot st(status);
  if (path == nullptr) {
    pk::setCode(st.get(), CMPI_RC_ERR_INVALID_PARAMETER);
    return nullptr;
  }
  CMPIData key = CMGetKey(path, keyName, st.get());
  if (!st.ok()) return nullptr;
  if (key.type != CMPI_string) {
    pk::setCode(st.get(), CMPI_RC_ERR_TYPE_MISMATCH);
    return nullptr;
  }
  return (key.state & CMPI_nullValue) != 0 ? nullptr : key.value.string;
}

// Releases the encapsulated object of a good value read from an object.
void releaseValueObject(const CMPIData &data) {
  if ((data.state & (CMPI_nullValue | CMPI_badValue | CMPI_notFound)) != 0) return;
  CMPIValue value = data.value;
  if ((data.type & CMPI_ARRAY) != 0) {
    if (value.array != nullptr) CMRelease(value.array);
    return;
  }
  switch (data.type) {
    case CMPI_instance:
      if (value.inst != nullptr) CMRelease(value.inst);
      break;
    case CMPI_ref:
      if (value.ref != nullptr) CMRelease(value.ref);
      break;
    case CMPI_args:
      if (value.args != nullptr) CMRelease(value.args);
      break;
    case CMPI_string:
      if (value.string != nullptr) CMRelease(value.string);
      break;
    case CMPI_dateTime:
      if (value.dateTime != nullptr) CMRelease(value.dateTime);
      break;
    default:
      break;
  }
}

}  // namespace

extern "C" {

int getKeyAsInt(CMPIStatus *status, const CMPIObjectPath *path, const char *keyName) {
  pk::StatusSlot st(status);
  if (path == nullptr) {
    pk::setCode(st.get(), CMPI_RC_ERR_INVALID_PARAMETER);
    return 0;
  }
  CMPIData key = CMGetKey(path, keyName, st.get());
  if (!st.ok()) return 0;
  return static_cast<int>(key.value.uint32);
}

char *getKeyAsChar(CMPIStatus *status, const CMPIObjectPath *path, const char *keyName) {
  // The copy outlives the key's string object, which is given back at once
  // rather than left to accumulate until the path goes.
  pk::CmpiObject<CMPIString> key(stringKey(status, path, keyName));
  const char *text = key ? CMGetCharsPtr(key.get(), nullptr) : nullptr;
  return text != nullptr ? wsistrdup(text) : nullptr;
}

const char *getKeyAsConstChar(CMPIStatus *status, const CMPIObjectPath *path, const char *keyName) {
  const CMPIString *key = stringKey(status, path, keyName);
  return key != nullptr ? CMGetCharsPtr(key, nullptr) : nullptr;
}

CMPIData getObjectPathKey(const CMPIBroker *broker, CMPIStatus *status, const CMPIObjectPath *path,
                          const char *keyName, CMPIType expected) {
  pk::StatusSlot st(status);
  CMPIData key = CMGetKey(path, keyName, st.get());
  if (!st.ok()) return key;
  CMPIValueState state = plainState(key.state);
  if (state == CMPI_goodValue) return key;
  if ((state & (CMPI_notFound | CMPI_nullValue | CMPI_badValue)) != 0) {
    raiseCMPIError(broker, st.get(), CMPI_RC_ERR_FAILED, "Required Key not populated");
  } else if (key.type != expected) {
    raiseCMPIError(broker, st.get(), CMPI_RC_ERR_FAILED, "Required Key type mismatch");
  }
  return key;
}

char *getPropertyAsChar(const CMPIBroker *broker, CMPIStatus *status, const CMPIInstance *instance,
                        const char *name) {
  pk::StatusSlot st(status);
  CMPIData data = CMGetProperty(instance, name, st.get());
  if (!st.ok()) return nullptr;
  if (data.type != CMPI_string || (data.state & CMPI_nullValue) != 0 ||
      data.value.string == nullptr)
    return nullptr;
  // The string object is released once its text is copied.
  pk::CmpiObject<CMPIString> string(data.value.string);
  const char *text = CMGetCharsPtr(string.get(), nullptr);
  if (text == nullptr) return nullptr;
  char *copy = wsistrdup(text);
  if (copy == nullptr) raiseCMPIError(broker, st.get(), CMPI_RC_ERR_FAILED, "Insufficient memory");
  return copy;
}

CMPIData getEmbPropertyFromInst(const CMPIBroker *broker, const char *name, const char *label,
                                CMPIType expected, const CMPIInstance *instance, int required,
                                CMPIStatus *status) {
  pk::StatusSlot st(status);
  const CMPIData bad = badData();
  CMPIData data = CMGetProperty(instance, name, st.get());
  if (st.get()->rc == CMPI_RC_ERR_NO_SUCH_PROPERTY) {
    if (required) {
      raiseFormattedError(broker, st.get(), CMPI_RC_ERR_INVALID_PARAMETER,
                          "%s: Property '%s' is a required property", label, name);
      return bad;
    }
    clearCMPIError(broker, st.get());
    CMPIData absent{};
    absent.type = expected;
    absent.state = CMPI_nullValue;
    return absent;
  }
  if (!st.ok()) return bad;
  if (data.type != expected) {
    raiseFormattedError(broker, st.get(), CMPI_RC_ERR_TYPE_MISMATCH, "%s: Property '%s' wrong type",
                        label, name);
    return bad;
  }
  CMPIValueState state = plainState(data.state);
  if (state == CMPI_goodValue) return data;
  if ((state & CMPI_nullValue) == 0) {
    raiseFormattedError(broker, st.get(), CMPI_RC_ERR_INVALID_PARAMETER,
                        "%s: Property '%s' bad value detected", label, name);
    return bad;
  }
  if (!required) return data;
  raiseFormattedError(broker, st.get(), CMPI_RC_ERR_INVALID_PARAMETER,
                      "%s: Property '%s' is a required property", label, name);
  return bad;
}

void *retrieveDataFromInstanceProperty(void *callerValue, const CMPIInstance *instance,
                                       const char *name, PKPropertyReader reader,
                                       CMPIStatus *status) {
  pk::StatusSlot st(status);
  CMPIData data = CMGetProperty(instance, name, st.get());
  if (!st.ok()) return nullptr;
  bool isNull =
      (data.state & CMPI_nullValue) != 0 || (holdsObject(data.type) && data.value.inst == nullptr);
  if (isNull) return nullptr;
  // The reader only borrows the value; its object is given back afterwards.
  void *result = reader != nullptr ? reader(callerValue, st.get(), &data.value, 0) : nullptr;
  releaseValueObject(data);
  return result;
}

int isParamPresent(const char *label, const CMPIBroker *broker, const CMPIArgs *args,
                   const char *name, CMPIData *dataOut, CMPIStatus *status) {
  pk::StatusSlot st(status);
  CMPIData data = CMGetArg(args, name, st.get());
  // An absent parameter is an ordinary answer, not an error to report.
  if (st.get()->rc == CMPI_RC_ERR_NO_SUCH_PROPERTY) {
    pk::setCode(st.get(), CMPI_RC_OK);
    return 0;
  }
  if (!st.ok()) return 0;
  CMPIValueState state = plainState(data.state);
  if (state == CMPI_goodValue) {
    if (dataOut != nullptr) *dataOut = data;
    return 1;
  }
  if (state == CMPI_nullValue) return 0;
  raiseFormattedError(broker, st.get(), CMPI_RC_ERR_INVALID_PARAMETER, "%s : Bad parameter format",
                      label, nullptr);
  return 0;
}

CMPIArray *getEmbeddedArrParam(const CMPIBroker *broker, const CMPIArgs *args, const char *name,
                               const char *label, CMPIStatus *status) {
  pk::StatusSlot st(status);
  CMPIData data{};
  if (!isParamPresent(label, broker, args, name, &data, st.get())) return nullptr;
  CMPIValueState state = plainState(data.state);
  if (state == CMPI_goodValue) {
    if (data.type == CMPI_instanceA) return data.value.array;
    raiseFormattedError(broker, st.get(), CMPI_RC_ERR_INVALID_PARAMETER,
                        "%s : '%s' must be an EmbeddedInstance  array", label, name);
    return nullptr;
  }
  if (state != CMPI_nullValue)
    raiseFormattedError(broker, st.get(), CMPI_RC_ERR_INVALID_PARAMETER,
                        "%s : '%s' - bad value returned for from CMPI", label, name);
  return nullptr;
}

// Data of another type holds no object of the asked type in its value (a
// number would be taken for a pointer), so it reads as no value.
const char *getStringFromCMPIData(CMPIData data) {
  if (data.type != CMPI_string || plainState(data.state) != CMPI_goodValue ||
      data.value.string == nullptr)
    return nullptr;
  return CMGetCharsPtr(data.value.string, nullptr);
}

CMPIArray *getArrayFromCMPIData(CMPIData data) {
  if ((data.type & CMPI_ARRAY) == 0 || plainState(data.state) != CMPI_goodValue) return nullptr;
  return data.value.array;
}

int checkForNull(const CMPIBroker *broker, int errorNumber, CMPIStatus *status,
                 const Filer *filer) {
  // Only "no such object" answers can mean an empty value, and only on
  // releases before 7.3.3, which answered that way for unset objects.
  if (errorNumber != 22) return 0;
  pk::StatusRecord record;
  int32_t major = 0, minor = 0, micro = 0;
  if (!getSystemVersion(record.get(), filer, &major, &minor, &micro) || record.failed()) {
    raiseCMPIErrorKELVA(broker, status, record.get());
    return 0;
  }
  int64_t version = int64_t{major} * 10000 + int64_t{minor} * 100 + micro;
  return version < 70303 ? 1 : 0;
}

int verifyObject(const CMPIBroker *broker, const CMPIContext *context, const CMPIObjectPath *path,
                 const char *libraryName, Filer **filerOut, CMPIStatus *status) {
  int exists = 0;
  WSIInstanceImpl impl{};
  bool loaded = false;
  {
    pk::StatusRecord record;
    impl = WSILoadInstanceImpl(libraryName, record.get());
    if (record.failed()) {
      raiseCMPIErrorKELVA(broker, status, record.get());
    } else {
      loaded = true;
      if (impl.existsImpl != nullptr) exists = impl.existsImpl(broker, context, path, filerOut);
    }
  }
  if (loaded) {
    pk::StatusRecord record;
    WSIUnloadInstanceImpl(impl, record.get());
    if (record.failed()) raiseCMPIErrorKELVA(broker, status, record.get());
  }
  return exists;
}

}  // extern "C"
