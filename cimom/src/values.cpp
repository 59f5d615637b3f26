// Names, typed values and their texts.
#include <cctype>
#include <cstdio>
#include <cstring>

#include "internal.h"

namespace cimom::detail {

bool sameName(const std::string &a, const char *b) {
  if (b == nullptr) return false;
  size_t n = std::strlen(b);
  if (n != a.size()) return false;
  for (size_t i = 0; i < n; ++i) {
    if (std::tolower(static_cast<unsigned char>(a[i])) !=
        std::tolower(static_cast<unsigned char>(b[i])))
      return false;
  }
  return true;
}
bool sameName(const std::string &a, const std::string &b) { return sameName(a, b.c_str()); }

std::string lowered(const std::string &text) {
  std::string out = text;
  for (auto &c : out) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return out;
}

bool lessName(const std::string &a, const std::string &b) {
  std::string la = lowered(a), lb = lowered(b);
  return la != lb ? la < lb : a < b;
}

CMPIData nullData(CMPIType type, CMPIValueState state) {
  CMPIData d{};
  d.type = type;
  d.state = state;
  return d;
}

namespace {

size_t simpleSize(CMPIType type) {
  switch (type) {
    case CMPI_boolean:
    case CMPI_uint8:
    case CMPI_sint8:
      return 1;
    case CMPI_char16:
    case CMPI_uint16:
    case CMPI_sint16:
      return 2;
    case CMPI_uint32:
    case CMPI_sint32:
    case CMPI_real32:
      return 4;
    case CMPI_uint64:
    case CMPI_sint64:
    case CMPI_real64:
      return 8;
    default:
      return 0;
  }
}

// `look` applied to the object pointer inside a value of an encapsulated
// type (it is called with the pointer's own CMPI type); nullptr for others.
template <class Look>
Obj *lookInside(const CMPIValue &v, CMPIType type, Look look) {
  if (type & CMPI_ARRAY) return look(v.array);
  switch (type) {
    case CMPI_instance:
      return look(v.inst);
    case CMPI_ref:
      return look(v.ref);
    case CMPI_args:
      return look(v.args);
    case CMPI_filter:
      return look(v.filter);
    case CMPI_enumeration:
      return look(v.Enum);
    case CMPI_string:
      return look(v.string);
    case CMPI_dateTime:
      return look(v.dateTime);
    default:
      return nullptr;
  }
}

// The object pointer inside a value of an encapsulated type.
Obj *objectIn(const CMPIValue &v, CMPIType type) {
  return lookInside(v, type, [](const auto *c) { return objOf(c); });
}

void setObjectIn(CMPIValue &v, CMPIType type, Obj *obj) {
  void *face = obj->face();
  if (type & CMPI_ARRAY) {
    v.array = static_cast<CMPIArray *>(face);
    return;
  }
  switch (type) {
    case CMPI_instance:
      v.inst = static_cast<CMPIInstance *>(face);
      break;
    case CMPI_ref:
      v.ref = static_cast<CMPIObjectPath *>(face);
      break;
    case CMPI_args:
      v.args = static_cast<CMPIArgs *>(face);
      break;
    case CMPI_filter:
      v.filter = static_cast<CMPISelectExp *>(face);
      break;
    case CMPI_enumeration:
      v.Enum = static_cast<CMPIEnumeration *>(face);
      break;
    case CMPI_string:
      v.string = static_cast<CMPIString *>(face);
      break;
    case CMPI_dateTime:
      v.dateTime = static_cast<CMPIDateTime *>(face);
      break;
    default:
      break;
  }
}

std::string quoted(const std::string &text) {
  std::string out = "\"";
  for (char c : text) {
    if (c == '"' || c == '\\') out += '\\';
    out += c;
  }
  return out + "\"";
}

}  // namespace

bool isObjectType(CMPIType type) {
  return (type & CMPI_ARRAY) || type == CMPI_instance || type == CMPI_ref || type == CMPI_args ||
         type == CMPI_filter || type == CMPI_enumeration || type == CMPI_string ||
         type == CMPI_dateTime;
}

Obj *poisonedIn(const CMPIValue &v, CMPIType type) {
  return lookInside(v, type, [](const auto *c) { return poisonedObj(c); });
}

bool ownValue(Manager *om, const CMPIValue *value, CMPIType type, CMPIData *out) {
  *out = nullData(type, CMPI_goodValue);
  if (type == CMPI_null) {
    *out = nullData();
    return true;
  }
  if (type == CMPI_chars) {
    out->type = CMPI_string;
    const char *text = reinterpret_cast<const char *>(value);
    if (text == nullptr) {
      out->state = CMPI_nullValue;
      return true;
    }
    out->value.string = makeString(om, text, Kind::Embedded);
    return true;
  }
  if (type == CMPI_ptr || type == CMPI_charsptr) {
    if (value == nullptr) {
      out->state = CMPI_nullValue;
      return true;
    }
    std::memcpy(&out->value.dataPtr, value, sizeof(CMPIValuePtr));
    return true;
  }
  if (isObjectType(type)) {
    if (value == nullptr) {
      out->state = CMPI_nullValue;
      return true;
    }
    CMPIValue v;
    std::memcpy(&v, value, sizeof(void *));
    Obj *source = objectIn(v, type);
    if (Obj *dead = poisonedIn(v, type)) {
      dead->om->usedAfterRelease(dead);
      return false;
    }
    if (source == nullptr) {
      // A null object pointer stands for a null value; a foreign one cannot be kept.
      if (v.inst == nullptr) {
        out->state = CMPI_nullValue;
        return true;
      }
      return false;
    }
    Obj *copy = cloneAs(source, Kind::Embedded);
    if (type & CMPI_ARRAY) {
      CMPIType element =
          static_cast<const CMPIArray *>(copy->face())
              ->ft->getSimpleType(static_cast<const CMPIArray *>(copy->face()), nullptr);
      out->type = static_cast<CMPIType>(CMPI_ARRAY | element);
    }
    setObjectIn(out->value, out->type, copy);
    return true;
  }
  size_t size = simpleSize(type);
  if (size == 0) return false;
  if (value == nullptr) {
    out->state = CMPI_nullValue;
    return true;
  }
  std::memcpy(&out->value, value, size);
  return true;
}

CMPIData copyData(Manager *, const CMPIData &data) {
  CMPIData out = data;
  if ((data.state & CMPI_nullValue) || !isObjectType(data.type)) return out;
  Obj *source = objectIn(data.value, data.type);
  if (source == nullptr) {
    // A borrowed element that its owner released: the copy gets a null value
    // rather than a pointer to nothing.
    if (Obj *dead = poisonedIn(data.value, data.type)) {
      dead->om->usedAfterRelease(dead);
      return nullData(data.type, CMPI_nullValue);
    }
    return out;
  }
  setObjectIn(out.value, out.type, cloneAs(source, Kind::Embedded));
  return out;
}

CMPIData handOut(Obj *owner, const CMPIData &stored) {
  CMPIData out = stored;
  Obj *source = dataObject(stored);
  if (source == nullptr) return out;
  Obj *copy = source->copy();
  owner->om->place(copy, Kind::Child, owner);
  setObjectIn(out.value, out.type, copy);
  return out;
}

void dropData(CMPIData &data) {
  if (!(data.state & CMPI_nullValue) && isObjectType(data.type)) {
    // A value of a released (poisoned) owner is poisoned with it, and still ours to free.
    Obj *obj = objectIn(data.value, data.type);
    delete (obj != nullptr ? obj : poisonedIn(data.value, data.type));
  }
  data = nullData();
}

Obj *dataObject(const CMPIData &data) {
  if ((data.state & CMPI_nullValue) || !isObjectType(data.type)) return nullptr;
  return objectIn(data.value, data.type);
}

const char *typeText(CMPIType type) {
  switch (type & ~CMPI_ARRAY) {
    case CMPI_null:
      return "null";
    case CMPI_boolean:
      return "boolean";
    case CMPI_char16:
      return "char16";
    case CMPI_real32:
      return "real32";
    case CMPI_real64:
      return "real64";
    case CMPI_uint8:
      return "uint8";
    case CMPI_uint16:
      return "uint16";
    case CMPI_uint32:
      return "uint32";
    case CMPI_uint64:
      return "uint64";
    case CMPI_sint8:
      return "sint8";
    case CMPI_sint16:
      return "sint16";
    case CMPI_sint32:
      return "sint32";
    case CMPI_sint64:
      return "sint64";
    case CMPI_instance:
      return "instance";
    case CMPI_ref:
      return "ref";
    case CMPI_args:
      return "args";
    case CMPI_string:
      return "string";
    case CMPI_chars:
      return "chars";
    case CMPI_dateTime:
      return "dateTime";
    case CMPI_ptr:
      return "ptr";
    default:
      return "unknown";
  }
}

std::string dataText(const CMPIData &d) {
  if (d.state & CMPI_nullValue) return "NULL";
  char buf[64];
  if (d.type & CMPI_ARRAY) {
    const CMPIArray *array = d.value.array;
    Obj *obj = objOf(array);
    return obj != nullptr ? obj->text() : "NULL";
  }
  if (std::string integer = integerText(d); !integer.empty()) return integer;
  switch (d.type) {
    case CMPI_boolean:
      return d.value.boolean ? "true" : "false";
    case CMPI_char16:
      return std::to_string(d.value.char16);
    case CMPI_real32:
      std::snprintf(buf, sizeof buf, "%g", static_cast<double>(d.value.real32));
      return buf;
    case CMPI_real64:
      std::snprintf(buf, sizeof buf, "%g", d.value.real64);
      return buf;
    case CMPI_string:
    case CMPI_dateTime:
    case CMPI_ref: {
      Obj *obj = objectIn(d.value, d.type);
      return obj != nullptr ? quoted(obj->text()) : "NULL";
    }
    case CMPI_instance:
    case CMPI_args:
    case CMPI_enumeration:
    case CMPI_filter: {
      Obj *obj = objectIn(d.value, d.type);
      return obj != nullptr ? obj->text() : "NULL";
    }
    case CMPI_ptr:
    case CMPI_charsptr:
      return "<ptr>";
    default:
      return "<unknown>";
  }
}

}  // namespace cimom::detail

std::string cimom::integerText(const CMPIData &data) {
  switch (data.type) {
    case CMPI_uint8:
      return std::to_string(data.value.uint8);
    case CMPI_uint16:
      return std::to_string(data.value.uint16);
    case CMPI_uint32:
      return std::to_string(data.value.uint32);
    case CMPI_uint64:
      return std::to_string(data.value.uint64);
    case CMPI_sint8:
      return std::to_string(data.value.sint8);
    case CMPI_sint16:
      return std::to_string(data.value.sint16);
    case CMPI_sint32:
      return std::to_string(data.value.sint32);
    case CMPI_sint64:
      return std::to_string(data.value.sint64);
    default:
      return "";
  }
}
