// CIM operations in their XML form: the request read with pugixml, the operation run on
// the object manager through the broker, and the response written with pugixml.
#include "cimxml.h"

#include <cmpimacs.h>

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <memory>
#include <optional>
#include <sstream>
#include <vector>

#include <pugixml.hpp>

namespace agent::cimxml {

namespace {

using pugi::xml_node;

bool isNull(const CMPIData &data) {
  return (data.state & (CMPI_nullValue | CMPI_notFound | CMPI_badValue)) != 0;
}

CimError invalid(const std::string &why) { return CimError(CMPI_RC_ERR_INVALID_PARAMETER, why); }

void check(const CMPIStatus &status, const char *what) {
  if (status.rc == CMPI_RC_OK) return;
  std::string message = chars(status.msg);
  throw CimError(status.rc,
                 message.empty() ? std::string(what) + ": " + statusName(status.rc) : message);
}

// The objects made while reading a request, released when it is answered.
class Pool {
 public:
  Pool() = default;
  Pool(const Pool &) = delete;
  Pool &operator=(const Pool &) = delete;
  ~Pool() {
    for (auto it = releases_.rbegin(); it != releases_.rend(); ++it) (*it)();
  }
  template <typename T>
  T *keep(T *object) {
    if (object != nullptr) releases_.emplace_back([object] { CMRelease(object); });
    return object;
  }

 private:
  std::vector<std::function<void()>> releases_;
};

// ---- Types ---------------------------------------------------------------------------

struct TypeName {
  CMPIType type;
  const char *name;
};
constexpr TypeName kTypes[] = {
    {CMPI_string, "string"}, {CMPI_boolean, "boolean"},   {CMPI_char16, "char16"},
    {CMPI_uint8, "uint8"},   {CMPI_uint16, "uint16"},     {CMPI_uint32, "uint32"},
    {CMPI_uint64, "uint64"}, {CMPI_sint8, "sint8"},       {CMPI_sint16, "sint16"},
    {CMPI_sint32, "sint32"}, {CMPI_sint64, "sint64"},     {CMPI_real32, "real32"},
    {CMPI_real64, "real64"}, {CMPI_dateTime, "datetime"}, {CMPI_ref, "reference"},
    {CMPI_chars, "string"},  {CMPI_instance, "string"},
};

const char *typeName(CMPIType type) {
  CMPIType scalar = type & ~CMPI_ARRAY;
  for (const TypeName &t : kTypes)
    if (t.type == scalar) return t.name;
  return "string";
}

// The CMPI type of a type name as MOF ("ref") or CIM-XML ("reference") write it.
std::optional<CMPIType> typeOf(const std::string &name) {
  if (sameName(name, "ref")) return CMPI_ref;
  for (const TypeName &t : kTypes)
    if (sameName(name, t.name)) return t.type;
  return std::nullopt;
}

// ---- Writing -------------------------------------------------------------------------

xml_node child(xml_node parent, const char *name) { return parent.append_child(name); }

void attribute(xml_node node, const char *name, const std::string &value) {
  node.append_attribute(name).set_value(value.c_str());
}

void text(xml_node node, const std::string &value) {
  node.append_child(pugi::node_pcdata).set_value(value.c_str());
}

std::string utf8(CMPIChar16 c) {
  std::string out;
  if (c < 0x80) {
    out += static_cast<char>(c);
  } else if (c < 0x800) {
    out += static_cast<char>(0xC0 | (c >> 6));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else {
    out += static_cast<char>(0xE0 | (c >> 12));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  }
  return out;
}

std::string real(double value, int digits) {
  char buffer[64];
  std::snprintf(buffer, sizeof buffer, "%.*g", digits, value);
  return buffer;
}

class Writer {
 public:
  Writer(const cimom::mof::Repository &classes, std::string host)
      : classes_(classes), host_(std::move(host)) {}

  // The text of a scalar VALUE.
  std::string scalarText(const CMPIData &d) {
    if (std::string integer = cimom::integerText(d); !integer.empty()) return integer;
    switch (d.type) {
      case CMPI_string:
        return chars(d.value.string);
      case CMPI_chars:
        return d.value.chars != nullptr ? d.value.chars : "";
      case CMPI_boolean:
        return d.value.boolean != 0 ? "TRUE" : "FALSE";
      case CMPI_char16:
        return utf8(d.value.char16);
      case CMPI_real32:
        return real(d.value.real32, 9);
      case CMPI_real64:
        return real(d.value.real64, 17);
      case CMPI_dateTime:
        return d.value.dateTime != nullptr ? chars(CMGetStringFormat(d.value.dateTime, nullptr))
                                           : "";
      case CMPI_instance: {
        // An embedded instance travels as the text of its INSTANCE element.
        pugi::xml_document doc;
        instance(doc, d.value.inst);
        std::ostringstream out;
        doc.save(out, "", pugi::format_raw | pugi::format_no_declaration);
        return out.str();
      }
      default:
        return "";
    }
  }

  void nameSpace(xml_node parent, const std::string &ns) {
    xml_node local = child(parent, "LOCALNAMESPACEPATH");
    for (size_t start = 0; start <= ns.size();) {
      size_t slash = ns.find('/', start);
      if (slash == std::string::npos) slash = ns.size();
      if (slash > start)
        attribute(child(local, "NAMESPACE"), "NAME", ns.substr(start, slash - start));
      start = slash + 1;
    }
  }

  void instanceName(xml_node parent, const CMPIObjectPath *path) {
    xml_node name = child(parent, "INSTANCENAME");
    attribute(name, "CLASSNAME", chars(CMGetClassName(path, nullptr)));
    CMPICount count = CMGetKeyCount(path, nullptr);
    for (CMPICount i = 0; i < count; ++i) {
      CMPIString *keyName = nullptr;
      CMPIData d = CMGetKeyAt(path, i, &keyName, nullptr);
      xml_node binding = child(name, "KEYBINDING");
      attribute(binding, "NAME", chars(keyName));
      if (d.type == CMPI_ref) {
        reference(binding, d.value.ref);
        continue;
      }
      xml_node value = child(binding, "KEYVALUE");
      const char *kind = "numeric";
      if (d.type == CMPI_string || d.type == CMPI_chars || d.type == CMPI_dateTime ||
          d.type == CMPI_char16)
        kind = "string";
      if (d.type == CMPI_boolean) kind = "boolean";
      attribute(value, "VALUETYPE", kind);
      attribute(value, "TYPE", typeName(d.type));
      if (!isNull(d)) text(value, scalarText(d));
    }
  }

  std::string namespaceOf(const CMPIObjectPath *path) {
    std::string ns = chars(CMGetNameSpace(path, nullptr));
    return ns.empty() ? defaultNamespace : ns;
  }

  // INSTANCEPATH: the host the client reached, the namespace and the instance name.
  void instancePath(xml_node parent, const CMPIObjectPath *path) {
    xml_node whole = child(parent, "INSTANCEPATH");
    xml_node nsPath = child(whole, "NAMESPACEPATH");
    std::string host = chars(CMGetHostname(path, nullptr));
    text(child(nsPath, "HOST"), host.empty() ? host_ : host);
    nameSpace(nsPath, namespaceOf(path));
    instanceName(whole, path);
  }

  void reference(xml_node parent, const CMPIObjectPath *path) {
    xml_node value = child(parent, "VALUE.REFERENCE");
    if (path == nullptr) return;
    instancePath(value, path);
  }

  void value(xml_node parent, const CMPIData &d) {
    if (isNull(d)) return;
    if ((d.type & CMPI_ARRAY) != 0) {
      xml_node array =
          child(parent, (d.type & ~CMPI_ARRAY) == CMPI_ref ? "VALUE.REFARRAY" : "VALUE.ARRAY");
      if (d.value.array == nullptr) return;
      CMPICount count = CMGetArrayCount(d.value.array, nullptr);
      for (CMPICount i = 0; i < count; ++i) {
        CMPIData e = CMGetArrayElementAt(d.value.array, i, nullptr);
        if ((e.type & ~CMPI_ARRAY) == CMPI_ref) {
          reference(array, isNull(e) ? nullptr : e.value.ref);
        } else if (isNull(e)) {
          child(array, "VALUE.NULL");
        } else {
          text(child(array, "VALUE"), scalarText(e));
        }
      }
      return;
    }
    if (d.type == CMPI_ref) {
      reference(parent, d.value.ref);
      return;
    }
    text(child(parent, "VALUE"), scalarText(d));
  }

  void property(xml_node parent, const std::string &className, const std::string &name,
                const CMPIData &d) {
    CMPIType type = d.type;
    std::string referenceClass;
    const cimom::mof::Property *declared = declaration(className, name);
    if (declared != nullptr) {
      if (type == CMPI_null || isNull(d)) {
        if (auto t = typeOf(declared->type)) type = *t | (declared->array ? CMPI_ARRAY : 0);
      }
      referenceClass = declared->referenceClass;
    }
    bool array = (type & CMPI_ARRAY) != 0;
    CMPIType scalar = type & ~CMPI_ARRAY;
    xml_node node;
    if (scalar == CMPI_ref && !array) {
      node = child(parent, "PROPERTY.REFERENCE");
      attribute(node, "NAME", name);
      if (!referenceClass.empty()) attribute(node, "REFERENCECLASS", referenceClass);
    } else {
      node = child(parent, array ? "PROPERTY.ARRAY" : "PROPERTY");
      attribute(node, "NAME", name);
      attribute(node, "TYPE", typeName(type));
      if (scalar == CMPI_instance) attribute(node, "EmbeddedObject", "instance");
    }
    if (!isNull(d)) value(node, d);
  }

  void instance(xml_node parent, const CMPIInstance *inst) {
    xml_node node = child(parent, "INSTANCE");
    CMPIObjectPath *path = CMGetObjectPath(inst, nullptr);
    std::string className = path != nullptr ? chars(CMGetClassName(path, nullptr)) : "";
    attribute(node, "CLASSNAME", className);
    CMPICount count = CMGetPropertyCount(inst, nullptr);
    for (CMPICount i = 0; i < count; ++i) {
      CMPIString *name = nullptr;
      CMPIData d = CMGetPropertyAt(inst, i, &name, nullptr);
      property(node, className, chars(name), d);
    }
  }

  void namedInstance(xml_node parent, const CMPIInstance *inst) {
    xml_node node = child(parent, "VALUE.NAMEDINSTANCE");
    CMPIObjectPath *path = CMGetObjectPath(inst, nullptr);
    if (path != nullptr) instanceName(node, path);
    instance(node, inst);
  }

  void objectWithPath(xml_node parent, const CMPIInstance *inst) {
    xml_node node = child(parent, "VALUE.OBJECTWITHPATH");
    CMPIObjectPath *path = CMGetObjectPath(inst, nullptr);
    if (path != nullptr) instancePath(node, path);
    instance(node, inst);
  }

  void qualifiers(xml_node parent, const std::vector<cimom::mof::Qualifier> &all) {
    for (const auto &q : all) {
      // Flags are booleans and quoted texts strings; other values (lists, numbers) are
      // left out, as their types are not kept.
      if (q.value.empty()) {
        xml_node node = child(parent, "QUALIFIER");
        attribute(node, "NAME", q.name);
        attribute(node, "TYPE", "boolean");
        text(child(node, "VALUE"), "TRUE");
      } else if (q.value.size() >= 2 && q.value.front() == '"' && q.value.back() == '"') {
        xml_node node = child(parent, "QUALIFIER");
        attribute(node, "NAME", q.name);
        attribute(node, "TYPE", "string");
        text(child(node, "VALUE"), q.value.substr(1, q.value.size() - 2));
      }
    }
  }

  void declaredProperty(xml_node parent, const cimom::mof::Property &p, const char *kind,
                        bool withQualifiers, const std::string &origin) {
    xml_node node;
    std::string element = kind;
    if (p.type == "ref") {
      node = child(parent, (element + (p.array ? ".REFARRAY" : ".REFERENCE")).c_str());
      attribute(node, "NAME", p.name);
      if (!p.referenceClass.empty()) attribute(node, "REFERENCECLASS", p.referenceClass);
    } else {
      node = child(parent, (element + (p.array ? ".ARRAY" : "")).c_str());
      attribute(node, "NAME", p.name);
      attribute(node, "TYPE", p.type);
    }
    if (!origin.empty()) attribute(node, "CLASSORIGIN", origin);
    if (withQualifiers) {
      std::vector<cimom::mof::Qualifier> all = p.qualifiers;
      if (p.key && p.qualifier("Key") == nullptr) all.push_back({"Key", ""});
      qualifiers(node, all);
    }
  }

  void classElement(xml_node parent, const cimom::mof::Class &c, bool localOnly,
                    bool includeQualifiers, bool includeOrigin) {
    xml_node node = child(parent, "CLASS");
    attribute(node, "NAME", c.name);
    if (!c.superclass.empty()) attribute(node, "SUPERCLASS", c.superclass);
    if (includeQualifiers) qualifiers(node, c.qualifiers);
    std::vector<cimom::mof::Property> properties =
        localOnly ? c.properties : classes_.allProperties(c.name);
    for (const auto &p : properties) {
      std::string origin;
      if (includeOrigin) origin = originOf(c.name, p.name);
      declaredProperty(node, p, "PROPERTY", includeQualifiers, origin);
    }
    // Without LocalOnly the inherited methods come too (clients type arguments from
    // them); a method redeclared lower down hides the one above.
    std::vector<const cimom::mof::Method *> methods;
    for (const cimom::mof::Class *k = &c; k != nullptr;
         k = localOnly || k->superclass.empty() ? nullptr : classes_.find(k->superclass)) {
      for (const auto &m : k->methods) {
        bool hidden = std::any_of(methods.begin(), methods.end(),
                                  [&](const auto *known) { return sameName(known->name, m.name); });
        if (!hidden) methods.push_back(&m);
      }
    }
    for (const cimom::mof::Method *declared : methods) {
      const cimom::mof::Method &m = *declared;
      xml_node method = child(node, "METHOD");
      attribute(method, "NAME", m.name);
      if (!m.returnType.empty()) attribute(method, "TYPE", m.returnType);
      if (includeQualifiers) qualifiers(method, m.qualifiers);
      for (const auto &p : m.parameters)
        declaredProperty(method, p, "PARAMETER", includeQualifiers, "");
    }
  }

  std::string defaultNamespace = "root/kelva";

 private:
  const cimom::mof::Property *declaration(const std::string &className, const std::string &name) {
    auto found = cache_.find(className);
    if (found == cache_.end())
      found = cache_.emplace(className, classes_.allProperties(className)).first;
    for (const auto &p : found->second)
      if (sameName(p.name, name)) return &p;
    return nullptr;
  }
  // The class highest up the chain that declares the property.
  std::string originOf(const std::string &className, const std::string &property) {
    std::string origin;
    for (const cimom::mof::Class *c = classes_.find(className); c != nullptr;
         c = c->superclass.empty() ? nullptr : classes_.find(c->superclass)) {
      for (const auto &p : c->properties)
        if (sameName(p.name, property)) origin = c->name;
    }
    return origin;
  }

  const cimom::mof::Repository &classes_;
  std::string host_;
  std::map<std::string, std::vector<cimom::mof::Property>> cache_;
};

// ---- Reading -------------------------------------------------------------------------

// A value read from the request, ready for CMAddKey, CMSetProperty or CMAddArg.
struct Value {
  CMPIValue value{};
  CMPIType type = CMPI_null;
  std::string text;  // for CMPI_chars
  const CMPIValue *pointer() const {
    return type == CMPI_chars ? reinterpret_cast<const CMPIValue *>(text.c_str()) : &value;
  }
};

template <typename T>
bool integer(const std::string &raw, T *out) {
  std::string t = raw;
  size_t first = t.find_first_not_of(" \t\r\n");
  size_t last = t.find_last_not_of(" \t\r\n");
  if (first == std::string::npos) return false;
  t = t.substr(first, last - first + 1);
  if (!t.empty() && t[0] == '+') t.erase(0, 1);
  int base = 10;
  bool negative = false;
  std::string digits = t;
  if (!digits.empty() && digits[0] == '-') {
    negative = true;
    digits.erase(0, 1);
  }
  if (digits.size() > 2 && digits[0] == '0' && (digits[1] == 'x' || digits[1] == 'X')) {
    base = 16;
    digits.erase(0, 2);
  }
  if (negative) digits.insert(0, "-");
  const char *end = digits.data() + digits.size();
  auto [ptr, ec] = std::from_chars(digits.data(), end, *out, base);
  return ec == std::errc() && ptr == end && !digits.empty();
}

class Reader {
 public:
  Reader(const CMPIBroker *broker, const cimom::mof::Repository &classes, Pool &pool)
      : broker_(broker), classes_(classes), pool_(pool) {}

  static std::string nameSpace(xml_node localNamespacePath) {
    std::string ns;
    for (xml_node n : localNamespacePath.children("NAMESPACE")) {
      if (!ns.empty()) ns += '/';
      ns += n.attribute("NAME").value();
    }
    return ns;
  }

  // A scalar of the type from its text; throws CimError(4) for text of another type.
  Value scalar(CMPIType type, const std::string &raw, const std::string &what) {
    Value v;
    auto bad = [&]() { return invalid("'" + raw + "' is no " + typeName(type) + " for " + what); };
    switch (type) {
      case CMPI_string:
      case CMPI_chars:
        v.type = CMPI_chars;
        v.text = raw;
        return v;
      case CMPI_boolean:
        if (sameName(raw, "true")) {
          v.value.boolean = 1;
        } else if (sameName(raw, "false")) {
          v.value.boolean = 0;
        } else {
          throw bad();
        }
        v.type = CMPI_boolean;
        return v;
      case CMPI_char16:
        if (raw.empty()) throw bad();
        v.value.char16 = static_cast<unsigned char>(raw[0]);
        v.type = CMPI_char16;
        return v;
      case CMPI_dateTime: {
        CMPIStatus status{CMPI_RC_OK, nullptr};
        CMPIDateTime *dt = pool_.keep(CMNewDateTimeFromChars(broker_, raw.c_str(), &status));
        if (dt == nullptr) throw bad();
        v.value.dateTime = dt;
        v.type = CMPI_dateTime;
        return v;
      }
      case CMPI_real32:
      case CMPI_real64: {
        char *end = nullptr;
        double d = std::strtod(raw.c_str(), &end);
        if (raw.empty() || end == nullptr || *end != '\0') throw bad();
        if (type == CMPI_real32) {
          v.value.real32 = static_cast<CMPIReal32>(d);
        } else {
          v.value.real64 = d;
        }
        v.type = type;
        return v;
      }
      default:
        break;
    }
    bool ok = false;
    switch (type) {
      case CMPI_uint8:
        ok = integer(raw, &v.value.uint8);
        break;
      case CMPI_uint16:
        ok = integer(raw, &v.value.uint16);
        break;
      case CMPI_uint32:
        ok = integer(raw, &v.value.uint32);
        break;
      case CMPI_uint64:
        ok = integer(raw, &v.value.uint64);
        break;
      case CMPI_sint8:
        ok = integer(raw, &v.value.sint8);
        break;
      case CMPI_sint16:
        ok = integer(raw, &v.value.sint16);
        break;
      case CMPI_sint32:
        ok = integer(raw, &v.value.sint32);
        break;
      case CMPI_sint64:
        ok = integer(raw, &v.value.sint64);
        break;
      default:
        throw invalid("no value of type " + std::string(typeName(type)) + " for " + what);
    }
    if (!ok) throw bad();
    v.type = type;
    return v;
  }

  // VALUE, VALUE.ARRAY, VALUE.REFERENCE or VALUE.REFARRAY under `holder`, as `type`
  // (an array type for the arrays); null when the holder has none of them.
  Value value(xml_node holder, CMPIType type, const std::string &what,
              const std::string &defaultNs) {
    xml_node single = holder.child("VALUE");
    xml_node array = holder.child("VALUE.ARRAY");
    if (!array) array = holder.child("VALUE.REFARRAY");
    xml_node ref = holder.child("VALUE.REFERENCE");
    Value v;
    if (array) {
      CMPIType element = type & ~CMPI_ARRAY;
      if (element == CMPI_chars) element = CMPI_string;
      std::vector<xml_node> items;
      for (xml_node n : array.children()) {
        if (n.type() == pugi::node_element) items.push_back(n);
      }
      CMPIStatus status{CMPI_RC_OK, nullptr};
      CMPIArray *made =
          pool_.keep(CMNewArray(broker_, static_cast<CMPICount>(items.size()), element, &status));
      check(status, "newArray");
      for (size_t i = 0; i < items.size(); ++i) {
        xml_node item = items[i];
        std::string name = item.name();
        if (name == "VALUE.NULL") continue;
        Value e = name == "VALUE.REFERENCE" ? referenceValue(item, defaultNs)
                                            : scalar(element, item.text().get(), what);
        CMSetArrayElementAt(made, static_cast<CMPICount>(i), e.pointer(), e.type);
      }
      v.value.array = made;
      v.type = element | CMPI_ARRAY;
      return v;
    }
    if (ref) return referenceValue(ref, defaultNs);
    if (single) return scalar(type & ~CMPI_ARRAY, single.text().get(), what);
    return v;  // null
  }

  Value referenceValue(xml_node valueReference, const std::string &defaultNs) {
    Value v;
    v.value.ref = reference(valueReference, defaultNs);
    v.type = CMPI_ref;
    return v;
  }

  // The object path of a VALUE.REFERENCE (or of any element holding one of the path
  // elements).
  CMPIObjectPath *reference(xml_node holder, const std::string &defaultNs) {
    if (xml_node p = holder.child("INSTANCEPATH")) {
      xml_node nsPath = p.child("NAMESPACEPATH");
      CMPIObjectPath *path =
          instanceName(p.child("INSTANCENAME"), nameSpace(nsPath.child("LOCALNAMESPACEPATH")));
      std::string host = nsPath.child("HOST").text().get();
      if (!host.empty()) CMSetHostname(path, host.c_str());
      return path;
    }
    if (xml_node p = holder.child("LOCALINSTANCEPATH"))
      return instanceName(p.child("INSTANCENAME"), nameSpace(p.child("LOCALNAMESPACEPATH")));
    if (xml_node p = holder.child("INSTANCENAME")) return instanceName(p, defaultNs);
    if (xml_node p = holder.child("CLASSPATH"))
      return classPath(p.child("CLASSNAME").attribute("NAME").value(),
                       nameSpace(p.child("NAMESPACEPATH").child("LOCALNAMESPACEPATH")));
    if (xml_node p = holder.child("LOCALCLASSPATH"))
      return classPath(p.child("CLASSNAME").attribute("NAME").value(),
                       nameSpace(p.child("LOCALNAMESPACEPATH")));
    if (xml_node p = holder.child("CLASSNAME"))
      return classPath(p.attribute("NAME").value(), defaultNs);
    throw invalid("a reference without a path");
  }

  CMPIObjectPath *classPath(const std::string &className, const std::string &ns) {
    std::string name = checkedClass(classes_, className);
    CMPIStatus status{CMPI_RC_OK, nullptr};
    CMPIObjectPath *path = pool_.keep(CMNewObjectPath(broker_, ns.c_str(), name.c_str(), &status));
    check(status, "newObjectPath");
    return path;
  }

  CMPIObjectPath *instanceName(xml_node node, const std::string &ns) {
    if (!node) throw invalid("an instance path without INSTANCENAME");
    CMPIObjectPath *path = classPath(node.attribute("CLASSNAME").value(), ns);
    std::string className = chars(CMGetClassName(path, nullptr));
    auto all = classes_.allProperties(className);
    auto keyValue = [&](const std::string &keyName, xml_node holder) {
      const cimom::mof::Property *declared = nullptr;
      for (const auto &p : all)
        if (sameName(p.name, keyName)) declared = &p;
      std::string name = declared != nullptr ? declared->name : keyName;
      if (xml_node ref = holder.child("VALUE.REFERENCE")) {
        Value v = referenceValue(ref, ns);
        CMAddKey(path, name.c_str(), v.pointer(), v.type);
        return;
      }
      xml_node kv = holder.child("KEYVALUE");
      std::optional<CMPIType> type;
      if (declared != nullptr) type = typeOf(declared->type);
      if (!type) type = typeOf(kv.attribute("TYPE").value());
      if (!type) {
        std::string kind = kv.attribute("VALUETYPE").value();
        type = sameName(kind, "boolean")   ? CMPI_boolean
               : sameName(kind, "numeric") ? CMPI_sint64
                                           : CMPI_string;
      }
      Value v = scalar(*type, kv.text().get(), keyName);
      CMAddKey(path, name.c_str(), v.pointer(), v.type);
    };
    for (xml_node binding : node.children("KEYBINDING"))
      keyValue(binding.attribute("NAME").value(), binding);
    // A class of one key may name its value without the binding.
    if (!node.child("KEYBINDING") && (node.child("KEYVALUE") || node.child("VALUE.REFERENCE"))) {
      auto keys = classes_.keys(className);
      if (keys.size() != 1) throw invalid("an unnamed key value for " + className);
      keyValue(keys[0], node);
    }
    return path;
  }

  // An INSTANCE element as an instance of that path.
  CMPIInstance *instance(xml_node node, CMPIObjectPath *path) {
    CMPIStatus status{CMPI_RC_OK, nullptr};
    CMPIInstance *inst = pool_.keep(CMNewInstance(broker_, path, &status));
    check(status, "newInstance");
    std::string className = chars(CMGetClassName(path, nullptr));
    std::string ns = chars(CMGetNameSpace(path, nullptr));
    auto all = classes_.allProperties(className);
    for (xml_node p : node.children()) {
      std::string element = p.name();
      if (element.rfind("PROPERTY", 0) != 0) continue;
      std::string name = p.attribute("NAME").value();
      const cimom::mof::Property *declared = nullptr;
      for (const auto &d : all)
        if (sameName(d.name, name)) declared = &d;
      if (declared == nullptr) {
        std::string why = className;
        why.append(" has no property ").append(name);
        throw CimError(CMPI_RC_ERR_NO_SUCH_PROPERTY, why);
      }
      std::optional<CMPIType> type = typeOf(declared->type);
      if (!type) type = typeOf(p.attribute("TYPE").value());
      if (!type) type = CMPI_string;
      if (declared->array) *type |= CMPI_ARRAY;
      Value v = value(p, *type, name, ns);
      if (v.type == CMPI_null) {
        CMSetProperty(inst, declared->name.c_str(), nullptr, *type & ~CMPI_ARRAY);
      } else {
        CMSetProperty(inst, declared->name.c_str(), v.pointer(), v.type);
      }
    }
    return inst;
  }

 private:
  const CMPIBroker *broker_;
  const cimom::mof::Repository &classes_;
  Pool &pool_;
};

// ---- The envelope --------------------------------------------------------------------

struct Envelope {
  pugi::xml_document doc;
  xml_node response;  // SIMPLERSP
};

void startResponse(Envelope &e, const std::string &messageId) {
  xml_node declaration = e.doc.append_child(pugi::node_declaration);
  declaration.append_attribute("version") = "1.0";
  declaration.append_attribute("encoding") = "utf-8";
  xml_node cim = child(e.doc, "CIM");
  attribute(cim, "CIMVERSION", "2.0");
  attribute(cim, "DTDVERSION", "2.0");
  xml_node message = child(cim, "MESSAGE");
  attribute(message, "ID", messageId);
  attribute(message, "PROTOCOLVERSION", "1.0");
  e.response = child(message, "SIMPLERSP");
}

std::string saved(const pugi::xml_document &doc) {
  std::ostringstream out;
  doc.save(out, "", pugi::format_raw | pugi::format_no_empty_element_tags);
  return out.str();
}

void errorElement(xml_node parent, int code, const std::string &message) {
  xml_node error = child(parent, "ERROR");
  attribute(error, "CODE", std::to_string(code));
  attribute(error, "DESCRIPTION", message);
}

// ---- The operations ------------------------------------------------------------------

std::vector<CMPIData> drain(CMPIEnumeration *enumeration) {
  std::vector<CMPIData> out;
  while (enumeration != nullptr && CMHasNext(enumeration, nullptr))
    out.push_back(CMGetNext(enumeration, nullptr));
  return out;
}

const char *const kInterop = "root/interop";

class Call {
 public:
  Call(Host &host, Pool &pool, Writer &writer, Subscriptions &subscriptions)
      : host_(host),
        subscriptions_(subscriptions),
        broker_(host.broker()),
        ctx_(host.context()),
        reader_(host.broker(), host.classes(), pool),
        writer_(writer) {}

  void checkNamespace(const std::string &ns) {
    // Subscriptions are made where clients look for them first.
    if (sameName(ns, kInterop)) return;
    for (const Registration &r : host_.registrations())
      for (const std::string &served : r.namespaces)
        if (sameName(served, ns)) return;
    throw CimError(CMPI_RC_ERR_INVALID_NAMESPACE, "no namespace " + ns);
  }

  // The named IPARAMVALUEs of an IMETHODCALL.
  void readParameters(xml_node call) {
    for (xml_node p : call.children("IPARAMVALUE")) {
      std::string name = p.attribute("NAME").value();
      for (char &c : name) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
      params_[name] = p;
    }
  }
  xml_node param(const char *name) {
    std::string key = name;
    for (char &c : key) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    auto found = params_.find(key);
    return found == params_.end() ? xml_node() : found->second;
  }
  xml_node required(const char *name) {
    xml_node p = param(name);
    if (!p) throw invalid(std::string("the parameter ") + name + " is missing");
    return p;
  }
  bool flag(const char *name, bool otherwise) {
    xml_node p = param(name);
    if (!p || !p.child("VALUE")) return otherwise;
    std::string v = p.child("VALUE").text().get();
    if (sameName(v, "true")) return true;
    if (sameName(v, "false")) return false;
    throw invalid(std::string("the parameter ") + name + " is no boolean");
  }
  std::string textParam(const char *name) {
    xml_node p = param(name);
    return p ? p.child("VALUE").text().get() : "";
  }
  // The class name of a parameter (a CLASSNAME), checked; "" when absent or null.
  std::string className(const char *name) {
    xml_node p = param(name);
    if (!p || !p.child("CLASSNAME")) return "";
    return checkedClass(host_.classes(), p.child("CLASSNAME").attribute("NAME").value());
  }
  // The PropertyList as names; no list when absent or null.
  struct Properties {
    std::vector<std::string> names;
    std::vector<const char *> pointers;
    bool given = false;
    const char **get() { return given ? pointers.data() : nullptr; }
  };
  void propertyList(Properties &out) {
    xml_node p = param("PropertyList");
    if (!p || !p.child("VALUE.ARRAY")) return;
    for (xml_node v : p.child("VALUE.ARRAY").children("VALUE")) out.names.push_back(v.text().get());
    for (const auto &n : out.names) out.pointers.push_back(n.c_str());
    out.pointers.push_back(nullptr);
    out.given = true;
  }
  static const char *orNull(const std::string &s) { return s.empty() ? nullptr : s.c_str(); }

  CMPIObjectPath *classPathParam(const char *name, const std::string &ns) {
    xml_node p = required(name);
    if (!p.child("CLASSNAME")) throw invalid(std::string(name) + " is no class name");
    return reader_.classPath(p.child("CLASSNAME").attribute("NAME").value(), ns);
  }
  CMPIObjectPath *instanceParam(const char *name, const std::string &ns) {
    xml_node p = required(name);
    if (!p.child("INSTANCENAME")) {
      if (p.child("CLASSNAME"))
        throw CimError(CMPI_RC_ERR_NOT_SUPPORTED, std::string(name) +
                                                      " names a class: only "
                                                      "instances are served");
      throw invalid(std::string(name) + " is no instance name");
    }
    return reader_.instanceName(p.child("INSTANCENAME"), ns);
  }

  // The class an instance operation is about, "" when none.
  std::string targetClass(const std::string &method) {
    xml_node p;
    if (sameName(method, "EnumerateInstances") || sameName(method, "EnumerateInstanceNames")) {
      p = param("ClassName").child("CLASSNAME");
      return p.attribute("NAME").value();
    }
    if (sameName(method, "GetInstance") || sameName(method, "DeleteInstance"))
      return param("InstanceName").child("INSTANCENAME").attribute("CLASSNAME").value();
    if (sameName(method, "CreateInstance"))
      return param("NewInstance").child("INSTANCE").attribute("CLASSNAME").value();
    if (sameName(method, "ModifyInstance"))
      return param("ModifiedInstance")
          .child("VALUE.NAMEDINSTANCE")
          .child("INSTANCENAME")
          .attribute("CLASSNAME")
          .value();
    return "";
  }

  // Filters, destinations and subscriptions live with the server, not with a provider.
  bool subscriptionOperation(const std::string &method, const std::string &ns, xml_node out) {
    std::string target = targetClass(method);
    if (target.empty() || !subscriptions_.holds(target)) return false;
    auto returned = [&]() { return child(out, "IRETURNVALUE"); };
    if (sameName(method, "EnumerateInstances") || sameName(method, "EnumerateInstanceNames")) {
      std::string className = checkedClass(host_.classes(), target);
      xml_node value = returned();
      for (CMPIInstance *inst : subscriptions_.all(className)) {
        Held<CMPIInstance> held(inst);
        if (sameName(method, "EnumerateInstances")) {
          writer_.namedInstance(value, inst);
        } else {
          writer_.instanceName(value, CMGetObjectPath(inst, nullptr));
        }
      }
    } else if (sameName(method, "GetInstance")) {
      Held<CMPIInstance> found(subscriptions_.get(instanceParam("InstanceName", ns)));
      writer_.instance(returned(), found.object);
    } else if (sameName(method, "DeleteInstance")) {
      subscriptions_.remove(instanceParam("InstanceName", ns));
    } else if (sameName(method, "CreateInstance")) {
      xml_node given = required("NewInstance").child("INSTANCE");
      CMPIObjectPath *path = reader_.classPath(given.attribute("CLASSNAME").value(), ns);
      Held<CMPIObjectPath> made(subscriptions_.create(ns, reader_.instance(given, path)));
      writer_.instanceName(returned(), made.object);
    } else {
      throw CimError(CMPI_RC_ERR_NOT_SUPPORTED, method + " of " + target + " is not served");
    }
    return true;
  }

  void intrinsic(const std::string &method, const std::string &ns, xml_node out) {
    checkNamespace(ns);
    writer_.defaultNamespace = ns;
    if (subscriptionOperation(method, ns, out)) return;
    CMPIStatus status{CMPI_RC_OK, nullptr};
    Properties properties;
    propertyList(properties);
    auto returned = [&]() { return child(out, "IRETURNVALUE"); };
    if (sameName(method, "GetClass") || sameName(method, "EnumerateClasses") ||
        sameName(method, "EnumerateClassNames")) {
      classes(method, out);
      return;
    }
    if (sameName(method, "EnumerateInstances") || sameName(method, "EnumerateInstanceNames")) {
      CMPIObjectPath *path = classPathParam("ClassName", ns);
      bool names = sameName(method, "EnumerateInstanceNames");
      Held<CMPIEnumeration> found(
          names ? CBEnumInstanceNames(broker_, ctx_, path, &status)
                : CBEnumInstances(broker_, ctx_, path, properties.get(), &status));
      check(status, method.c_str());
      xml_node value = returned();
      for (const CMPIData &d : drain(found.object)) {
        if (names) {
          writer_.instanceName(value, d.value.ref);
        } else {
          writer_.namedInstance(value, d.value.inst);
        }
      }
      return;
    }
    if (sameName(method, "GetInstance")) {
      CMPIObjectPath *path = instanceParam("InstanceName", ns);
      Held<CMPIInstance> found(CBGetInstance(broker_, ctx_, path, properties.get(), &status));
      check(status, "GetInstance");
      writer_.instance(returned(), found.object);
      return;
    }
    if (sameName(method, "DeleteInstance")) {
      CMPIObjectPath *path = instanceParam("InstanceName", ns);
      check(CBDeleteInstance(broker_, ctx_, path), "DeleteInstance");
      return;
    }
    if (sameName(method, "ModifyInstance")) {
      xml_node named = required("ModifiedInstance").child("VALUE.NAMEDINSTANCE");
      if (!named) throw invalid("ModifiedInstance is no named instance");
      CMPIObjectPath *path = reader_.instanceName(named.child("INSTANCENAME"), ns);
      CMPIInstance *inst = reader_.instance(named.child("INSTANCE"), path);
      check(CBModifyInstance(broker_, ctx_, path, inst, properties.get()), "ModifyInstance");
      return;
    }
    if (sameName(method, "CreateInstance")) {
      xml_node given = required("NewInstance").child("INSTANCE");
      if (!given) throw invalid("NewInstance is no instance");
      CMPIObjectPath *path = reader_.classPath(given.attribute("CLASSNAME").value(), ns);
      CMPIInstance *inst = reader_.instance(given, path);
      // The path of the new instance: its class and the keys it was given.
      std::string name = chars(CMGetClassName(path, nullptr));
      for (const std::string &key : host_.classes().keys(name)) {
        CMPIData d = CMGetProperty(inst, key.c_str(), nullptr);
        if (!isNull(d)) CMAddKey(path, key.c_str(), &d.value, d.type);
      }
      Held<CMPIObjectPath> made(CBCreateInstance(broker_, ctx_, path, inst, &status));
      check(status, "CreateInstance");
      writer_.instanceName(returned(), made.object != nullptr ? made.object : path);
      return;
    }
    bool associators = sameName(method, "Associators");
    bool associatorNames = sameName(method, "AssociatorNames");
    bool references = sameName(method, "References");
    bool referenceNames = sameName(method, "ReferenceNames");
    if (associators || associatorNames || references || referenceNames) {
      CMPIObjectPath *path = instanceParam("ObjectName", ns);
      std::string assocClass = className("AssocClass");
      std::string resultClass = className("ResultClass");
      std::string role = textParam("Role");
      std::string resultRole = textParam("ResultRole");
      CMPIEnumeration *e = nullptr;
      if (associators) {
        e = CBAssociators(broker_, ctx_, path, orNull(assocClass), orNull(resultClass),
                          orNull(role), orNull(resultRole), properties.get(), &status);
      } else if (associatorNames) {
        e = CBAssociatorNames(broker_, ctx_, path, orNull(assocClass), orNull(resultClass),
                              orNull(role), orNull(resultRole), &status);
      } else if (references) {
        e = CBReferences(broker_, ctx_, path, orNull(resultClass), orNull(role), properties.get(),
                         &status);
      } else {
        e = CBReferenceNames(broker_, ctx_, path, orNull(resultClass), orNull(role), &status);
      }
      Held<CMPIEnumeration> found(e);
      check(status, method.c_str());
      xml_node value = returned();
      for (const CMPIData &d : drain(found.object)) {
        if (associators || references) {
          writer_.objectWithPath(value, d.value.inst);
        } else {
          writer_.instancePath(child(value, "OBJECTPATH"), d.value.ref);
        }
      }
      return;
    }
    throw CimError(CMPI_RC_ERR_NOT_SUPPORTED, "the operation " + method + " is not served");
  }

  void classes(const std::string &method, xml_node out) {
    const cimom::mof::Repository &all = host_.classes();
    bool localOnly = flag("LocalOnly", true);
    bool qualifiers = flag("IncludeQualifiers", true);
    bool origin = flag("IncludeClassOrigin", false);
    xml_node value = child(out, "IRETURNVALUE");
    if (sameName(method, "GetClass")) {
      xml_node p = required("ClassName").child("CLASSNAME");
      const cimom::mof::Class *c = all.find(p.attribute("NAME").value());
      if (c == nullptr)
        throw CimError(CMPI_RC_ERR_NOT_FOUND,
                       std::string("no class ") + p.attribute("NAME").value());
      writer_.classElement(value, *c, localOnly, qualifiers, origin);
      return;
    }
    std::string parent = className("ClassName");
    bool deep = flag("DeepInheritance", false);
    bool names = sameName(method, "EnumerateClassNames");
    for (const cimom::mof::Class &c : all.classes()) {
      bool wanted = deep
                        ? (parent.empty() || (all.isA(c.name, parent) && !sameName(c.name, parent)))
                        : sameName(c.superclass, parent);
      if (!wanted) continue;
      if (names) {
        attribute(child(value, "CLASSNAME"), "NAME", c.name);
      } else {
        writer_.classElement(value, c, localOnly, qualifiers, origin);
      }
    }
  }

  void extrinsic(xml_node call, xml_node out) {
    std::string method = call.attribute("NAME").value();
    CMPIObjectPath *path = nullptr;
    std::string ns;
    if (xml_node p = call.child("LOCALINSTANCEPATH")) {
      ns = Reader::nameSpace(p.child("LOCALNAMESPACEPATH"));
      checkNamespace(ns);
      path = reader_.instanceName(p.child("INSTANCENAME"), ns);
    } else if (xml_node c = call.child("LOCALCLASSPATH")) {
      ns = Reader::nameSpace(c.child("LOCALNAMESPACEPATH"));
      checkNamespace(ns);
      path = reader_.classPath(c.child("CLASSNAME").attribute("NAME").value(), ns);
    } else {
      throw invalid("a method call without LOCALINSTANCEPATH or LOCALCLASSPATH");
    }
    writer_.defaultNamespace = ns;
    std::string className = chars(CMGetClassName(path, nullptr));
    const cimom::mof::Method *declared = nullptr;
    for (const cimom::mof::Class *c = host_.classes().find(className);
         c != nullptr && declared == nullptr;
         c = c->superclass.empty() ? nullptr : host_.classes().find(c->superclass)) {
      for (const auto &m : c->methods)
        if (sameName(m.name, method)) declared = &m;
    }
    if (declared == nullptr)
      throw CimError(CMPI_RC_ERR_METHOD_NOT_FOUND, className + " has no method " + method);
    CMPIStatus status{CMPI_RC_OK, nullptr};
    Held<CMPIArgs> in(CMNewArgs(broker_, &status));
    check(status, "newArgs");
    for (xml_node p : call.children("PARAMVALUE")) {
      std::string name = p.attribute("NAME").value();
      const cimom::mof::Property *parameter = nullptr;
      for (const auto &d : declared->parameters)
        if (sameName(d.name, name)) parameter = &d;
      if (parameter == nullptr) {
        std::string why = method;
        throw invalid(why.append(" has no parameter ").append(name));
      }
      std::optional<CMPIType> type = typeOf(parameter->type);
      if (!type) type = typeOf(p.attribute("PARAMTYPE").value());
      if (!type) type = CMPI_string;
      if (parameter->array) *type |= CMPI_ARRAY;
      Value v = reader_.value(p, *type, name, ns);
      if (v.type == CMPI_null) continue;
      CMAddArg(in.object, parameter->name.c_str(), v.pointer(), v.type);
    }
    Held<CMPIArgs> outArgs(CMNewArgs(broker_, &status));
    check(status, "newArgs");
    CMPIData result =
        CBInvokeMethod(broker_, ctx_, path, method.c_str(), in.object, outArgs.object, &status);
    check(status, method.c_str());
    xml_node value = child(out, "RETURNVALUE");
    CMPIType resultType = result.type;
    if ((resultType == CMPI_null || isNull(result)) && !declared->returnType.empty()) {
      if (auto t = typeOf(declared->returnType)) resultType = *t;
    }
    attribute(value, "PARAMTYPE", typeName(resultType));
    if (!isNull(result)) writer_.value(value, result);
    CMPICount count = CMGetArgCount(outArgs.object, nullptr);
    for (CMPICount i = 0; i < count; ++i) {
      CMPIString *name = nullptr;
      CMPIData d = CMGetArgAt(outArgs.object, i, &name, nullptr);
      xml_node p = child(out, "PARAMVALUE");
      attribute(p, "NAME", chars(name));
      if (d.type != CMPI_null) attribute(p, "PARAMTYPE", typeName(d.type));
      if (!isNull(d)) writer_.value(p, d);
    }
  }

 private:
  Host &host_;
  Subscriptions &subscriptions_;
  const CMPIBroker *broker_;
  const CMPIContext *ctx_;
  Reader reader_;
  Writer &writer_;
  std::map<std::string, xml_node> params_;
};

}  // namespace

std::string escaped(const std::string &value) {
  std::string out;
  out.reserve(value.size());
  for (char c : value) {
    switch (c) {
      case '&':
        out += "&amp;";
        break;
      case '<':
        out += "&lt;";
        break;
      case '>':
        out += "&gt;";
        break;
      case '"':
        out += "&quot;";
        break;
      case '\'':
        out += "&apos;";
        break;
      default:
        out += c;
    }
  }
  return out;
}

Answer protocolError(int httpStatus, const std::string &cimError, const std::string &method,
                     int code, const std::string &message) {
  Envelope e;
  startResponse(e, "0");
  xml_node out = child(e.response, "IMETHODRESPONSE");
  attribute(out, "NAME", method);
  errorElement(out, code, message);
  Answer answer;
  answer.httpStatus = httpStatus;
  answer.headers["CIMError"] = cimError;
  answer.body = saved(e.doc);
  return answer;
}

Answer Endpoint::answer(const std::string &body, const std::string &host,
                        const std::string &cimMethod) {
  pugi::xml_document request;
  pugi::xml_parse_result parsed = request.load_buffer(body.data(), body.size());
  if (!parsed) {
    return protocolError(400, "request-not-well-formed", cimMethod, CMPI_RC_ERR_FAILED,
                         std::string("the request is no well-formed XML: ") + parsed.description() +
                             " at offset " + std::to_string(parsed.offset));
  }
  xml_node message = request.child("CIM").child("MESSAGE");
  xml_node simple = message.child("SIMPLEREQ");
  xml_node imethod = simple.child("IMETHODCALL");
  xml_node method = simple.child("METHODCALL");
  if (!message || !simple || (!imethod && !method)) {
    return protocolError(400, "request-not-valid", cimMethod, CMPI_RC_ERR_FAILED,
                         "the request is no CIM operation (CIM/MESSAGE/SIMPLEREQ with "
                         "IMETHODCALL or METHODCALL)");
  }
  Envelope e;
  startResponse(e, message.attribute("ID").value());
  std::string name = (imethod ? imethod : method).attribute("NAME").value();
  xml_node out = child(e.response, imethod ? "IMETHODRESPONSE" : "METHODRESPONSE");
  attribute(out, "NAME", name);
  {
    std::lock_guard<std::mutex> lock(operations_);
    Pool pool;
    Writer writer(host_.classes(), host);
    Call call(host_, pool, writer, subscriptions_);
    try {
      if (imethod) {
        call.readParameters(imethod);
        call.intrinsic(name, Reader::nameSpace(imethod.child("LOCALNAMESPACEPATH")), out);
      } else {
        call.extrinsic(method, out);
      }
    } catch (const CimError &error) {
      // What was written before the failure goes; the ERROR stands alone.
      while (out.first_child()) out.remove_child(out.first_child());
      errorElement(out, error.code, error.what());
    } catch (const std::exception &error) {
      // Out of memory or a value out of range: the operation fails, the server goes on.
      while (out.first_child()) out.remove_child(out.first_child());
      errorElement(out, CMPI_RC_ERR_FAILED, error.what());
    }
  }
  Answer answer;
  answer.body = saved(e.doc);
  return answer;
}

std::string exportRequest(const cimom::mof::Repository &classes, const CMPIInstance *indication,
                          const std::string &messageId) {
  pugi::xml_document doc;
  xml_node declaration = doc.append_child(pugi::node_declaration);
  declaration.append_attribute("version") = "1.0";
  declaration.append_attribute("encoding") = "utf-8";
  xml_node cim = child(doc, "CIM");
  attribute(cim, "CIMVERSION", "2.0");
  attribute(cim, "DTDVERSION", "2.0");
  xml_node message = child(cim, "MESSAGE");
  attribute(message, "ID", messageId);
  attribute(message, "PROTOCOLVERSION", "1.0");
  xml_node call = child(child(child(message, "SIMPLEEXPREQ"), "EXPMETHODCALL"), "EXPPARAMVALUE");
  call.parent().append_attribute("NAME") = "ExportIndication";
  attribute(call, "NAME", "NewIndication");
  Writer writer(classes, "localhost");
  writer.instance(call, indication);
  return saved(doc);
}

}  // namespace agent::cimxml
