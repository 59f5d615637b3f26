// CMPI arrays and the controller library's lists: conversions both ways,
// merging, freeing, returning an array as a provider result, and small
// builders.  An object manager may keep the very object set into an array
// element instead of a copy, so an object set into an array belongs to the
// array's owner from then on, who gives it back with freeCMPIArray.
#include "provkit/arrays.h"

#include <cmpimacs.h>

#include <cstdint>
#include <cstring>
#include <memory>

#include "guards.h"
#include "provkit/frame.h"

namespace {

using pk::fail;
using pk::failed;

using pk::OwnedArray;

// A clone of the object inside a good element value (the value itself for
// plain types), so that the element can go into a second array whatever the
// first one does with its own; false with the broker's reason in status.
bool cloneElement(CMPIData *data, CMPIStatus *status) {
  CMPIValue &v = data->value;
  auto clone = [&](auto *&object) {
    object = CMClone(object, status);
    return !failed(status) && object != nullptr;
  };
  switch (data->type) {
    case CMPI_string:
      return clone(v.string);
    case CMPI_instance:
      return clone(v.inst);
    case CMPI_ref:
      return clone(v.ref);
    case CMPI_dateTime:
      return clone(v.dateTime);
    default:
      return true;
  }
}

// Sets count elements of from into to starting at offset, each with its own
// type; objects go in as clones that `to` now holds.  False with the broker's
// reason in status.
bool copyElements(const CMPIArray *from, CMPICount count, CMPIArray *to, CMPICount offset,
                  CMPIStatus *status) {
  for (CMPICount i = 0; i < count; ++i) {
    CMPIData data = CMGetArrayElementAt(from, i, status);
    if (failed(status)) return false;
    if ((data.state & CMPI_nullValue) != 0 || data.value.inst == nullptr) {
      pk::adoptStatus(status, CMSetArrayElementAt(to, offset + i, nullptr, CMPI_null));
      if (failed(status)) return false;
      continue;
    }
    CMPIData copy = data;
    if (!cloneElement(&copy, status)) return false;
    pk::adoptStatus(status, CMSetArrayElementAt(to, offset + i, &copy.value, copy.type));
    if (failed(status)) {
      if (copy.value.inst != data.value.inst) CMRelease(copy.value.inst);
      return false;
    }
  }
  return true;
}

// The two arrays as one: the second when the first is missing or empty, the
// first when the second is; otherwise a new array of clones of both, and both
// inputs are given back with their objects.  Null with the reason in status,
// both inputs untouched.
// An empty input that is not returned is released too: the caller hands both
// arrays over and keeps only the result, so nobody else would free it.
CMPIArray *joinCMPIArrays(const CMPIBroker *broker, CMPIArray *first, CMPIArray *second,
                          CMPIStatus *status) {
  if (first == nullptr) return second;
  if (second == nullptr) return first;
  CMPICount firstCount = CMGetArrayCount(first, status);
  if (failed(status)) return nullptr;
  if (firstCount == 0) {
    freeCMPIArray(first);
    return second;
  }
  CMPICount secondCount = CMGetArrayCount(second, status);
  if (failed(status)) return nullptr;
  if (secondCount == 0) {
    freeCMPIArray(second);
    return first;
  }

  CMPIType firstType = CMGetArrayType(first, status);
  if (failed(status)) return nullptr;
  CMPIType secondType = CMGetArrayType(second, status);
  if (failed(status)) return nullptr;
  if (firstType != secondType) {
    fail(broker, status, "Incompatible CMPIArray types");
    return nullptr;
  }
  OwnedArray joined(CMNewArray(broker, firstCount + secondCount, firstType, status));
  if (failed(status) || !joined) return nullptr;
  if (!copyElements(first, firstCount, joined.get(), 0, status) ||
      !copyElements(second, secondCount, joined.get(), firstCount, status))
    return nullptr;
  freeCMPIArray(first);
  freeCMPIArray(second);
  return joined.release();
}

// The CMPI value of one list element of the given element type; false with
// the reason in status for a type that lists cannot hold.
bool cmpiValueFromElement(const CMPIBroker *broker, const void *element, CMPIType type,
                          CMPIValue *value, CMPIStatus *status) {
  switch (type) {
    case CMPI_boolean:
      std::memcpy(&value->boolean, element, 1);
      return true;
    case CMPI_char16:
    case CMPI_sint16:
    case CMPI_uint16:
      std::memcpy(&value->uint16, element, 2);
      return true;
    case CMPI_real32:
      std::memcpy(&value->real32, element, 4);
      return true;
    case CMPI_real64:
      std::memcpy(&value->real64, element, 8);
      return true;
    case CMPI_uint8:
    case CMPI_sint8:
      std::memcpy(&value->uint8, element, 1);
      return true;
    case CMPI_uint32:
    case CMPI_sint32:
      std::memcpy(&value->uint32, element, 4);
      return true;
    case CMPI_uint64:
    case CMPI_sint64:
      std::memcpy(&value->uint64, element, 8);
      return true;
    case CMPI_instance:
      value->inst = static_cast<CMPIInstance *>(const_cast<void *>(element));
      return true;
    case CMPI_ref:
      value->ref = static_cast<CMPIObjectPath *>(const_cast<void *>(element));
      return true;
    default:
      fail(broker, status, "Can not convert data type.");
      return false;
  }
}

}  // namespace

extern "C" {

void createSimilarArray(const CMPIBroker *broker, const CMPIContext * /*context*/,
                        const CMPIArray *source, CMPIType type, CMPIArray **arrayOut,
                        CMPICount *sizeOut, CMPIStatus *status) {
  pk::StatusSlot st(status);
  CMPICount size = source != nullptr ? CMGetArrayCount(source, st.get()) : 0;
  if (!st.ok()) size = 0;
  if (sizeOut != nullptr) *sizeOut = size;
  if (!st.ok()) return;
  pk::CmpiObject<CMPIArray> array(CMNewArray(broker, size, type, st.get()));
  if (st.ok() && arrayOut != nullptr) *arrayOut = array.release();
}

void returnArray(const CMPIArray *array, const CMPIResult *result, CMPIType arrayType,
                 CMPIStatus *status) {
  if (array == nullptr) return;
  pk::StatusSlot st(status);
  CMPICount count = CMGetArrayCount(array, st.get());
  for (CMPICount i = 0; i < count && st.ok(); ++i) {
    CMPIData element = CMGetArrayElementAt(array, i, st.get());
    if (!st.ok()) break;
    if (arrayType == CMPI_instanceA) {
      pk::adoptStatus(st.get(), CMReturnInstance(result, element.value.inst));
    } else if (arrayType == CMPI_refA) {
      pk::adoptStatus(st.get(), CMReturnObjectPath(result, element.value.ref));
    } else {
      pk::setCode(st.get(), CMPI_RC_ERR_TYPE_MISMATCH);
    }
  }
}

void addUINT16ToArray(CMPIStatus *status, CMPIUint16 value, CMPIArray *array, CMPICount index) {
  if (array == nullptr) return;
  CMPIValue v;
  v.uint16 = value;
  pk::StatusSlot st(status);
  pk::adoptStatus(st.get(), CMSetArrayElementAt(array, index, &v, CMPI_uint16));
}

void addSTRINGToArray(const CMPIBroker *broker, CMPIStatus *status, CMPIString *string,
                      CMPIArray *array, CMPICount index) {
  if (array == nullptr) {
    fail(broker, status, "addSTRINGToArray - Invalid parameter(s)");
    return;
  }
  CMPIValue v;
  v.string = string;
  pk::StatusSlot st(status);
  pk::adoptStatus(st.get(), CMSetArrayElementAt(array, index, &v, CMPI_string));
}

void setSizesArgument(const CMPIBroker *broker, CMPIStatus *status, const char *name,
                      const CMPIUint64 *size, CMPIArgs *args) {
  pk::StatusSlot st(status);
  pk::CmpiObject<CMPIArray> sizes(CMNewArray(broker, 1, CMPI_uint64, st.get()));
  if (!st.ok() || !sizes) return;
  CMPIValue v;
  v.uint64 = size != nullptr ? *size : 0;
  pk::adoptStatus(st.get(), CMSetArrayElementAt(sizes.get(), 0, &v, CMPI_uint64));
  if (!st.ok()) return;
  CMPIValue arrayValue;
  arrayValue.array = sizes.get();
  pk::adoptStatus(st.get(), CMAddArg(args, name, &arrayValue, CMPI_uint64A));
}

void freeCMPIObjectList(const CMPIBroker * /*broker*/, WSIList *list, CMPIType type) {
  if (list == nullptr) return;
  if (type == CMPI_instance || type == CMPI_ref) {
    for (WSIListPos *at = WSIList_getFirst(list); at != nullptr; at = WSIList_getNext(at)) {
      auto *object = static_cast<CMPIInstance *>(WSIList_getElement(at));
      if (object != nullptr) CMRelease(object);
    }
  }
  WSIList_free(list, nullptr);
}

WSIList *mapCMPIArrayToList(const CMPIBroker *broker, CMPIStatus *status, const CMPIArray *array) {
  if (array == nullptr) return nullptr;
  pk::StatusSlot st(status);
  CMPICount count = CMGetArrayCount(array, st.get());
  if (!st.ok()) return nullptr;
  WSIList *list = WSIList_new();
  if (list == nullptr) {
    fail(broker, st.get(), "Insufficient memory");
    return nullptr;
  }
  for (CMPICount i = 0; i < count; ++i) {
    CMPIData element = CMGetArrayElementAt(array, i, st.get());
    if (!st.ok()) {
      freeCMPIObjectList(broker, list, 0);
      return nullptr;
    }
    if (element.type != CMPI_instance && element.type != CMPI_ref) {
      fail(broker, st.get(), "Unsupported value type");
      break;
    }
    if (!WSIList_append(list, element.value.inst)) {
      fail(broker, st.get(), "Insufficient memory");
      freeCMPIObjectList(broker, list, 0);
      return nullptr;
    }
  }
  return list;
}

void mergeCMPIArray(const CMPIBroker *broker, CMPIArray **place, CMPIArray *second,
                    CMPIStatus *status) {
  if (place == nullptr) return;
  pk::StatusSlot st(status);
  CMPIArray *joined = joinCMPIArrays(broker, *place, second, st.get());
  if (st.ok()) *place = joined;
}

void freeCMPIArray(CMPIArray *array) {
  if (array == nullptr) return;
  // Object managers may hand out the array's own objects from a read, so each
  // one read here is given back before the array itself.
  pk::StatusSlot local(nullptr);
  CMPICount count = CMGetArrayCount(array, local.get());
  for (CMPICount i = 0; i < count && local.ok(); ++i) {
    CMPIData element = CMGetArrayElementAt(array, i, local.get());
    if (local.failed() || (element.state & ~CMPI_keyValue) != CMPI_goodValue) continue;
    switch (element.type) {
      case CMPI_string:
        if (element.value.string != nullptr) CMRelease(element.value.string);
        break;
      case CMPI_instance:
        if (element.value.inst != nullptr) CMRelease(element.value.inst);
        break;
      case CMPI_dateTime:
        if (element.value.dateTime != nullptr) CMRelease(element.value.dateTime);
        break;
      case CMPI_ref:
        if (element.value.ref != nullptr) CMRelease(element.value.ref);
        break;
      default:
        break;
    }
  }
  CMRelease(array);
}

CMPIArray *convertListToArray(const CMPIBroker *broker, CMPIStatus *status, WSIList *list,
                              CMPIType arrayType) {
  pk::StatusSlot st(status);
  if (arrayType <= CMPI_ARRAY) {
    fail(broker, st.get(), "Can not convert a non-array type.");
    return nullptr;
  }
  if (list == nullptr || WSIList_isEmpty(list)) return nullptr;
  CMPIArray *made = CMNewArray(broker, WSIList_getLength(list), arrayType, st.get());
  if (!st.ok() || made == nullptr) return made;
  pk::CmpiObject<CMPIArray> array(made);
  const auto elementType = static_cast<CMPIType>(arrayType & ~CMPI_ARRAY);
  CMPICount index = 0;
  for (WSIListPos *at = WSIList_getFirst(list); at != nullptr && st.ok();
       at = WSIList_getNext(at), ++index) {
    const void *element = WSIList_getElement(at);
    if (element == nullptr) {
      pk::adoptStatus(st.get(), CMSetArrayElementAt(array.get(), index, nullptr, CMPI_null));
      continue;
    }
    CMPIValue value{};
    if (!cmpiValueFromElement(broker, element, elementType, &value, st.get())) break;
    pk::adoptStatus(st.get(), CMSetArrayElementAt(array.get(), index, &value, elementType));
  }
  return st.ok() ? array.release() : nullptr;
}

void addUINT16ToList(const CMPIBroker *broker, CMPIStatus *status, CMPIUint16 value,
                     WSIList *list) {
  pk::StatusSlot st(status);
  if (!st.ok()) return;
  auto *block = static_cast<CMPIUint16 *>(wsicalloc(1, sizeof(CMPIUint16)));
  if (block == nullptr) {
    fail(broker, st.get(), "Failed to allocate state value");
    return;
  }
  *block = value;
  if (list == nullptr || !WSIList_append(list, block)) {
    wsifree(block);
    fail(broker, st.get(), "Failed to add state");
  }
}

CMPIArray *createArrayFromUINT16List(const CMPIBroker *broker, CMPIStatus *status, WSIList *list) {
  pk::StatusSlot st(status);
  CMPICount length = list != nullptr ? WSIList_getLength(list) : 0;
  CMPIArray *array = CMNewArray(broker, length, CMPI_uint16, st.get());
  if (!st.ok() || array == nullptr) return array;
  CMPICount index = 0;
  for (WSIListPos *at = list != nullptr ? WSIList_getFirst(list) : nullptr;
       at != nullptr && st.ok(); at = WSIList_getNext(at), ++index) {
    const auto *element = static_cast<const CMPIUint16 *>(WSIList_getElement(at));
    if (element == nullptr) continue;
    CMPIValue v;
    v.uint16 = *element;
    // A value that cannot be set leaves its element null; the rest still go in.
    pk::adoptStatus(nullptr, CMSetArrayElementAt(array, index, &v, CMPI_uint16));
  }
  return array;
}

CMPIArray *createArrayFromCHARList(const CMPIBroker *broker, CMPIStatus *status, WSIList *list) {
  pk::StatusSlot st(status);
  CMPICount length = list != nullptr ? WSIList_getLength(list) : 0;
  CMPIArray *made = CMNewArray(broker, length, CMPI_string, st.get());
  if (!st.ok() || made == nullptr) return made;
  // An object manager that holds the very string set into an element makes it
  // the array's (it goes with the array); one that stores a copy leaves ours
  // to be released here, as is a string whose set failed.
  OwnedArray array(made);
  CMPICount index = 0;
  for (WSIListPos *at = list != nullptr ? WSIList_getFirst(list) : nullptr; at != nullptr;
       at = WSIList_getNext(at), ++index) {
    const auto *text = static_cast<const char *>(WSIList_getElement(at));
    pk::CmpiObject<CMPIString> string(CMNewString(broker, text, st.get()));
    if (!st.ok() || !string) return nullptr;
    addSTRINGToArray(broker, st.get(), string.get(), array.get(), index);
    if (!st.ok()) return nullptr;
    if (pk::arrayHoldsObject(array.get(), index, string.get())) string.release();
  }
  return array.release();
}

int containsString(const char *text, const char **table) {
  if (table == nullptr) return 0;
  for (const char **entry = table; *entry != nullptr; ++entry) {
    if (strCompare(*entry, text) == 0) return 1;
  }
  return 0;
}

void addEmptyPropertyArray(void) {}

}  // extern "C"
