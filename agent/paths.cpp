// Reading object paths and method arguments as a user types them, typed from the
// classes the object manager knows.
#include <cmpimacs.h>

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cstdlib>
#include <optional>
#include <stdexcept>

#include "agent.h"

namespace agent {

bool sameName(const std::string &a, const std::string &b) {
  return a.size() == b.size() &&
         std::equal(a.begin(), a.end(), b.begin(), [](unsigned char x, unsigned char y) {
           return std::tolower(x) == std::tolower(y);
         });
}

namespace {

CimError badPath(const std::string &text, const std::string &why) {
  return CimError(CMPI_RC_ERR_INVALID_PARAMETER, "bad object path '" + text + "': " + why);
}

// Owns a CMPI object until it is handed on.
template <typename T>
struct Owned {
  T *object = nullptr;
  ~Owned() {
    if (object != nullptr) CMRelease(object);
  }
  T *release() {
    T *out = object;
    object = nullptr;
    return out;
  }
};

// One "name=value" of a path or an argument: the value as written, and whether it
// was quoted (and so a string or a path, never a number).
struct Assignment {
  std::string name;
  std::string value;
  bool quoted = false;
};

// Splits Key=value,Key="v,\"x\"",... ; throws the message of what is wrong.
std::vector<Assignment> splitKeys(const std::string &text) {
  std::vector<Assignment> out;
  size_t i = 0;
  while (i < text.size()) {
    size_t eq = text.find('=', i);
    if (eq == std::string::npos)
      throw std::invalid_argument("expected Key=value after '" + text.substr(0, i) + "'");
    Assignment a;
    a.name = text.substr(i, eq - i);
    if (a.name.empty()) throw std::invalid_argument("a key without a name");
    i = eq + 1;
    if (i < text.size() && text[i] == '"') {
      a.quoted = true;
      ++i;
      bool closed = false;
      while (i < text.size()) {
        char c = text[i++];
        if (c == '\\' && i < text.size()) {
          a.value += text[i++];
        } else if (c == '"') {
          closed = true;
          break;
        } else {
          a.value += c;
        }
      }
      if (!closed) throw std::invalid_argument("the value of " + a.name + " has no closing quote");
      if (i < text.size() && text[i] != ',')
        throw std::invalid_argument("expected ',' after the value of " + a.name);
    } else {
      size_t comma = text.find(',', i);
      a.value = text.substr(i, comma == std::string::npos ? std::string::npos : comma - i);
      i = comma == std::string::npos ? text.size() : comma;
    }
    if (i < text.size()) ++i;  // the comma
    out.push_back(std::move(a));
  }
  return out;
}

template <typename T>
std::optional<T> number(const std::string &text) {
  T value{};
  const char *end = text.data() + text.size();
  auto [ptr, ec] = std::from_chars(text.data(), end, value);
  if (ec != std::errc() || ptr != end || text.empty()) return std::nullopt;
  return value;
}

// A typed value from its text; false when the text is no value of that type.
bool typedValue(const CMPIBroker *broker, const cimom::mof::Repository &classes,
                const cimom::mof::Property &declared, const Assignment &a,
                const std::string &defaultNamespace, CMPIValue *value, CMPIType *type,
                CMPIObjectPath **madePath) {
  const std::string &t = declared.type;
  const std::string &v = a.value;
  auto integer = [&](auto sample, CMPIType code, auto *slot) {
    auto parsed = number<decltype(sample)>(v);
    if (!parsed || a.quoted) return false;
    *slot = *parsed;
    *type = code;
    return true;
  };
  if (t == "string" || t == "datetime" || t == "char16") {
    *type = CMPI_chars;  // the caller passes the text itself
    return true;
  }
  if (t == "boolean") {
    std::string lower = v;
    std::transform(lower.begin(), lower.end(), lower.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    if (a.quoted || (lower != "true" && lower != "false")) return false;
    value->boolean = lower == "true";
    *type = CMPI_boolean;
    return true;
  }
  if (t == "uint8") return integer(CMPIUint8{}, CMPI_uint8, &value->uint8);
  if (t == "uint16") return integer(CMPIUint16{}, CMPI_uint16, &value->uint16);
  if (t == "uint32") return integer(CMPIUint32{}, CMPI_uint32, &value->uint32);
  if (t == "uint64") return integer(CMPIUint64{}, CMPI_uint64, &value->uint64);
  if (t == "sint8") return integer(CMPISint8{}, CMPI_sint8, &value->sint8);
  if (t == "sint16") return integer(CMPISint16{}, CMPI_sint16, &value->sint16);
  if (t == "sint32") return integer(CMPISint32{}, CMPI_sint32, &value->sint32);
  if (t == "sint64") return integer(CMPISint64{}, CMPI_sint64, &value->sint64);
  if (t == "real32" || t == "real64") {
    if (a.quoted || v.empty()) return false;
    char *end = nullptr;
    double d = std::strtod(v.c_str(), &end);
    if (end == nullptr || *end != '\0') return false;
    if (t == "real32") {
      value->real32 = static_cast<CMPIReal32>(d);
      *type = CMPI_real32;
    } else {
      value->real64 = d;
      *type = CMPI_real64;
    }
    return true;
  }
  if (t == "ref") {
    *madePath = parsePath(broker, classes, v, defaultNamespace, false);
    value->ref = *madePath;
    *type = CMPI_ref;
    return true;
  }
  return false;
}

// The declaration of a property (key or not) of the class, or null.
const cimom::mof::Property *findProperty(const std::vector<cimom::mof::Property> &all,
                                         const std::string &name) {
  for (const auto &p : all)
    if (sameName(p.name, name)) return &p;
  return nullptr;
}

}  // namespace

std::string checkedClass(const cimom::mof::Repository &classes, const std::string &name) {
  const cimom::mof::Class *found = classes.find(name);
  if (found == nullptr) throw CimError(CMPI_RC_ERR_INVALID_CLASS, "no class " + name);
  return found->name;
}

CMPIObjectPath *parsePath(const CMPIBroker *broker, const cimom::mof::Repository &classes,
                          const std::string &text, const std::string &defaultNamespace,
                          bool wholeKeys) {
  std::string rest = text;
  std::string host;
  if (rest.rfind("//", 0) == 0) {
    size_t slash = rest.find('/', 2);
    if (slash == std::string::npos) throw badPath(text, "a host without a path");
    host = rest.substr(2, slash - 2);
    rest = rest.substr(slash + 1);
  }
  size_t dot = rest.find('.');
  std::string head = rest.substr(0, dot);
  std::string keyText = dot == std::string::npos ? "" : rest.substr(dot + 1);
  std::string ns = defaultNamespace;
  size_t colon = head.find(':');
  if (colon != std::string::npos) {
    ns = head.substr(0, colon);
    head = head.substr(colon + 1);
  }
  if (ns.empty()) throw badPath(text, "an empty namespace");
  if (head.empty()) throw badPath(text, "no class name");
  if (dot != std::string::npos && keyText.empty()) throw badPath(text, "no keys after '.'");
  std::string className = checkedClass(classes, head);

  std::vector<Assignment> keys;
  try {
    keys = splitKeys(keyText);
  } catch (const std::invalid_argument &why) {
    throw badPath(text, why.what());
  }
  auto all = classes.allProperties(className);
  CMPIStatus status{CMPI_RC_OK, nullptr};
  Owned<CMPIObjectPath> path{CMNewObjectPath(broker, ns.c_str(), className.c_str(), &status)};
  if (path.object == nullptr) throw CimError(CMPI_RC_ERR_FAILED, "cannot make an object path");
  if (!host.empty()) CMSetHostname(path.object, host.c_str());
  for (const Assignment &key : keys) {
    const cimom::mof::Property *declared = findProperty(all, key.name);
    if (declared == nullptr) throw badPath(text, className + " has no property " + key.name);
    if (!declared->key) throw badPath(text, key.name + " is not a key of " + className);
    CMPIValue value{};
    CMPIType type = CMPI_null;
    Owned<CMPIObjectPath> reference;
    if (!typedValue(broker, classes, *declared, key, ns, &value, &type, &reference.object))
      throw badPath(text, "'" + key.value + "' is no " + declared->type + " for " + key.name);
    // Text goes in as itself, not inside a CMPIValue.
    if (type == CMPI_chars) {
      CMAddKey(path.object, declared->name.c_str(), key.value.c_str(), CMPI_chars);
    } else {
      CMAddKey(path.object, declared->name.c_str(), &value, type);
    }
  }
  if (wholeKeys) {
    for (const std::string &name : classes.keys(className)) {
      bool given = std::any_of(keys.begin(), keys.end(),
                               [&](const Assignment &a) { return sameName(a.name, name); });
      if (!given) {
        std::string why = "key ";
        why.append(name).append(" of ").append(className).append(" is missing");
        throw badPath(text, why);
      }
    }
  }
  return path.release();
}

CMPIArgs *parseArguments(const CMPIBroker *broker, const cimom::mof::Repository &classes,
                         const std::string &className, const std::string &method,
                         const std::vector<std::string> &assignments) {
  // The method as the class or its nearest superclass declares it.
  const cimom::mof::Method *declared = nullptr;
  for (const cimom::mof::Class *c = classes.find(className); c != nullptr && declared == nullptr;
       c = c->superclass.empty() ? nullptr : classes.find(c->superclass)) {
    for (const auto &m : c->methods)
      if (sameName(m.name, method)) declared = &m;
  }
  if (declared == nullptr)
    throw CimError(CMPI_RC_ERR_METHOD_NOT_FOUND, className + " has no method " + method);
  CMPIStatus status{CMPI_RC_OK, nullptr};
  Owned<CMPIArgs> args{CMNewArgs(broker, &status)};
  if (args.object == nullptr) throw CimError(CMPI_RC_ERR_FAILED, "cannot make arguments");
  for (const std::string &text : assignments) {
    size_t eq = text.find('=');
    if (eq == std::string::npos || eq == 0)
      throw CimError(CMPI_RC_ERR_INVALID_PARAMETER,
                     "an argument is name=value, not '" + text + "'");
    Assignment a{text.substr(0, eq), text.substr(eq + 1), false};
    if (a.value.size() >= 2 && a.value.front() == '"' && a.value.back() == '"') {
      a.value = a.value.substr(1, a.value.size() - 2);
      a.quoted = true;
    }
    const cimom::mof::Property *parameter = findProperty(declared->parameters, a.name);
    if (parameter == nullptr)
      throw CimError(CMPI_RC_ERR_INVALID_PARAMETER, method + " has no parameter " + a.name);
    if (parameter->array)
      throw CimError(CMPI_RC_ERR_INVALID_PARAMETER,
                     "array parameters (" + a.name + ") cannot be given on the command line");
    CMPIValue value{};
    CMPIType type = CMPI_null;
    Owned<CMPIObjectPath> reference;
    if (!typedValue(broker, classes, *parameter, a, "root/kelva", &value, &type, &reference.object))
      throw CimError(CMPI_RC_ERR_INVALID_PARAMETER,
                     "'" + a.value + "' is no " + parameter->type + " for " + a.name);
    if (type == CMPI_chars) {
      CMAddArg(args.object, parameter->name.c_str(), a.value.c_str(), CMPI_chars);
    } else {
      CMAddArg(args.object, parameter->name.c_str(), &value, type);
    }
  }
  return args.release();
}

}  // namespace agent
