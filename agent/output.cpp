// Writing instances, paths and values for a person (MOF-like blocks, tables) and for
// scripts (JSON).
#include <cmpimacs.h>

#include <algorithm>
#include <cstdio>
#include <sstream>

#include "agent.h"

namespace agent {

std::string chars(const CMPIString *s) {
  const char *text = s != nullptr ? CMGetCharPtr(s) : nullptr;
  return text != nullptr ? text : "";
}

namespace {

std::string quoted(const std::string &text) {
  std::string out = "\"";
  for (char c : text) {
    if (c == '"' || c == '\\') out += '\\';
    out += c;
  }
  return out + "\"";
}

std::string real(double value) {
  char buffer[64];
  std::snprintf(buffer, sizeof buffer, "%.17g", value);
  return buffer;
}

std::string dateTimeText(const CMPIDateTime *dt) {
  if (dt == nullptr) return "";
  CMPIString *text = CMGetStringFormat(dt, nullptr);
  return chars(text);  // belongs to the date-time
}

bool isNull(const CMPIData &data) {
  return (data.state & (CMPI_nullValue | CMPI_notFound | CMPI_badValue)) != 0;
}

// One element of an array, as data of the element type.
template <typename F>
void eachElement(const CMPIData &data, F fn) {
  CMPIArray *array = data.value.array;
  if (array == nullptr) return;
  CMPICount count = CMGetArrayCount(array, nullptr);
  for (CMPICount i = 0; i < count; ++i) fn(CMGetArrayElementAt(array, i, nullptr));
}

}  // namespace

std::string pathText(const CMPIObjectPath *path) {
  return path != nullptr ? cimom::objectPathText(path) : "";
}

std::string valueText(const CMPIData &data) {
  if (isNull(data)) return "NULL";
  if ((data.type & CMPI_ARRAY) != 0) {
    std::string out = "{";
    bool first = true;
    eachElement(data, [&](const CMPIData &element) {
      out += first ? "" : ", ";
      out += valueText(element);
      first = false;
    });
    return out + "}";
  }
  if (std::string integer = cimom::integerText(data); !integer.empty()) return integer;
  switch (data.type) {
    case CMPI_string:
      return quoted(chars(data.value.string));
    case CMPI_chars:
      return quoted(data.value.chars != nullptr ? data.value.chars : "");
    case CMPI_boolean:
      return data.value.boolean != 0 ? "true" : "false";
    case CMPI_char16:
      return std::to_string(data.value.char16);
    case CMPI_real32:
      return real(data.value.real32);
    case CMPI_real64:
      return real(data.value.real64);
    case CMPI_dateTime:
      return quoted(dateTimeText(data.value.dateTime));
    case CMPI_ref:
      return quoted(pathText(data.value.ref));
    case CMPI_instance:
      return data.value.inst != nullptr ? cimom::instanceText(data.value.inst) : "NULL";
    default:
      return "?";
  }
}

nlohmann::json valueJson(const CMPIData &data) {
  if (isNull(data)) return nullptr;
  if ((data.type & CMPI_ARRAY) != 0) {
    nlohmann::json out = nlohmann::json::array();
    eachElement(data, [&](const CMPIData &element) { out.push_back(valueJson(element)); });
    return out;
  }
  switch (data.type) {
    case CMPI_string:
      return chars(data.value.string);
    case CMPI_chars:
      return std::string(data.value.chars != nullptr ? data.value.chars : "");
    case CMPI_boolean:
      return data.value.boolean != 0;
    case CMPI_char16:
      return data.value.char16;
    case CMPI_uint8:
      return data.value.uint8;
    case CMPI_uint16:
      return data.value.uint16;
    case CMPI_uint32:
      return data.value.uint32;
    case CMPI_uint64:
      return data.value.uint64;
    case CMPI_sint8:
      return data.value.sint8;
    case CMPI_sint16:
      return data.value.sint16;
    case CMPI_sint32:
      return data.value.sint32;
    case CMPI_sint64:
      return data.value.sint64;
    case CMPI_real32:
      return data.value.real32;
    case CMPI_real64:
      return data.value.real64;
    case CMPI_dateTime:
      return dateTimeText(data.value.dateTime);
    case CMPI_ref:
      return pathText(data.value.ref);
    case CMPI_instance:
      return data.value.inst != nullptr ? instanceJson(data.value.inst) : nlohmann::json();
    default:
      return nullptr;
  }
}

namespace {

// The named values of an object (its keys or its properties) as one JSON object.
template <typename ValueAt>
nlohmann::json namedValuesJson(CMPICount count, ValueAt valueAt) {
  nlohmann::json out = nlohmann::json::object();
  for (CMPICount i = 0; i < count; ++i) {
    CMPIString *name = nullptr;
    CMPIData data = valueAt(i, &name);
    out[chars(name)] = valueJson(data);
  }
  return out;
}

}  // namespace

nlohmann::json pathJson(const CMPIObjectPath *path) {
  nlohmann::json out;
  out["path"] = pathText(path);
  out["class"] = chars(CMGetClassName(path, nullptr));
  out["namespace"] = chars(CMGetNameSpace(path, nullptr));
  out["keys"] = namedValuesJson(CMGetKeyCount(path, nullptr), [&](CMPICount i, CMPIString **name) {
    return CMGetKeyAt(path, i, name, nullptr);
  });
  return out;
}

nlohmann::json instanceJson(const CMPIInstance *instance) {
  nlohmann::json out;
  CMPIObjectPath *path = CMGetObjectPath(instance, nullptr);
  out["class"] = path != nullptr ? chars(CMGetClassName(path, nullptr)) : "";
  out["path"] = pathText(path);
  out["properties"] = namedValuesJson(
      CMGetPropertyCount(instance, nullptr),
      [&](CMPICount i, CMPIString **name) { return CMGetPropertyAt(instance, i, name, nullptr); });
  return out;
}

std::string instanceBlock(const CMPIInstance *instance) {
  CMPIObjectPath *path = CMGetObjectPath(instance, nullptr);
  std::string out =
      "instance of " + (path != nullptr ? chars(CMGetClassName(path, nullptr)) : "") + " {\n";
  out += "    // " + pathText(path) + "\n";
  CMPICount count = CMGetPropertyCount(instance, nullptr);
  for (CMPICount i = 0; i < count; ++i) {
    CMPIString *name = nullptr;
    CMPIData data = CMGetPropertyAt(instance, i, &name, nullptr);
    out += "    " + chars(name) + " = " + valueText(data) + ";\n";
  }
  return out + "};\n";
}

std::string propertyText(const CMPIInstance *instance, const char *name) {
  CMPIStatus status{CMPI_RC_OK, nullptr};
  CMPIData data = CMGetProperty(instance, name, &status);
  if (status.rc != CMPI_RC_OK || isNull(data)) return "";
  if (data.type == CMPI_string) return chars(data.value.string);
  if (data.type == CMPI_chars) return data.value.chars != nullptr ? data.value.chars : "";
  return valueText(data);
}

std::string table(const std::vector<std::string> &header,
                  const std::vector<std::vector<std::string>> &rows) {
  std::vector<size_t> widths(header.size());
  for (size_t c = 0; c < header.size(); ++c) widths[c] = header[c].size();
  for (const auto &row : rows)
    for (size_t c = 0; c < row.size() && c < widths.size(); ++c)
      widths[c] = std::max(widths[c], row[c].size());
  auto line = [&](const std::vector<std::string> &cells) {
    std::string out;
    for (size_t c = 0; c < widths.size(); ++c) {
      std::string cell = c < cells.size() ? cells[c] : "";
      if (c + 1 < widths.size()) cell.resize(widths[c], ' ');
      out += (c == 0 ? "" : "  ") + cell;
    }
    while (!out.empty() && out.back() == ' ') out.pop_back();
    return out + "\n";
  };
  std::string out = line(header);
  std::vector<std::string> rule;
  rule.reserve(widths.size());
  for (size_t w : widths) rule.emplace_back(w, '-');
  out += line(rule);
  for (const auto &row : rows) out += line(row);
  return out;
}

}  // namespace agent
