// The line format of filers.dat, in one place for the registry that writes it
// and the controller library that reads it back:
//
//   systemId:host:userName:connParam1:connParam2:connParam3:password
//
// before basicEncode.  The password comes last and takes the rest of the line,
// so it may hold ':'; a host holds ':' only as an IPv6 address in brackets
// ("[2001:db8::21]"), which is read back whole.  What would not read back the
// same is refused by the writer rather than lost at the next load.
#pragma once

#include <cstddef>
#include <string_view>

namespace filerline {

// printf format of a line: systemId, host, userName, the three numbers, password.
constexpr const char *kFormat = "%s:%s:%s:%d:%d:%d:%s";
constexpr char kSeparator = ':';
constexpr char kLineEnd = '\n';
// The most bytes filers.dat may have: it is read whole into memory, and a
// line is about a hundred bytes, so this is tens of thousands of filers.
constexpr size_t kMaxFileBytes = size_t{4} << 20;

inline bool holdsLineEnd(std::string_view text) {
  return text.find_first_of("\r\n") != std::string_view::npos;
}

// A host in brackets: one IPv6 literal, read back up to its ']'.
inline bool isBracketed(std::string_view host) {
  return host.size() >= 2 && host.front() == '[' && host.back() == ']' &&
         host.find(']') == host.size() - 1;
}

// Why a record with these fields (null counts as empty) cannot be written so
// that it reads back the same, or null when it can.
inline const char *refusal(const char *systemId, const char *host, const char *userName,
                           const char *password) {
  std::string_view id = systemId != nullptr ? systemId : "";
  std::string_view h = host != nullptr ? host : "";
  std::string_view user = userName != nullptr ? userName : "";
  std::string_view pw = password != nullptr ? password : "";
  if (holdsLineEnd(id)) return "System ID holds a line end and cannot be stored in filers.dat.";
  if (holdsLineEnd(h)) return "Host holds a line end and cannot be stored in filers.dat.";
  if (holdsLineEnd(user)) return "User name holds a line end and cannot be stored in filers.dat.";
  if (holdsLineEnd(pw)) return "Password holds a line end and cannot be stored in filers.dat.";
  if (id.find(kSeparator) != std::string_view::npos)
    return "System ID holds ':' and cannot be stored in filers.dat.";
  if (!h.empty() && h.front() == '[' && !isBracketed(h))
    return "Host in brackets must be one IPv6 address, such as [2001:db8::21].";
  if (!isBracketed(h) && h.find(kSeparator) != std::string_view::npos)
    return "Host holds ':' and cannot be stored in filers.dat; write an IPv6 address in "
           "brackets, such as [2001:db8::21].";
  if (user.find(kSeparator) != std::string_view::npos)
    return "User name holds ':' and cannot be stored in filers.dat.";
  return nullptr;
}

// The fields of a decoded line, as views into it.
struct Fields {
  std::string_view systemId, host, userName, connParam1, connParam2, connParam3, password;
};

// Splits a decoded line (without its line end); false when it is not one.
inline bool split(std::string_view line, Fields &out) {
  std::string_view *numbersAndUser[] = {&out.userName, &out.connParam1, &out.connParam2,
                                        &out.connParam3};
  size_t colon = line.find(kSeparator);
  if (colon == std::string_view::npos) return false;
  out.systemId = line.substr(0, colon);
  line.remove_prefix(colon + 1);
  size_t hostEnd = 0;
  if (!line.empty() && line.front() == '[') {
    size_t close = line.find(']');
    if (close == std::string_view::npos) return false;
    hostEnd = close + 1;
  } else {
    hostEnd = line.find(kSeparator);
  }
  if (hostEnd >= line.size() || line[hostEnd] != kSeparator) return false;
  out.host = line.substr(0, hostEnd);
  line.remove_prefix(hostEnd + 1);
  for (std::string_view *field : numbersAndUser) {
    colon = line.find(kSeparator);
    if (colon == std::string_view::npos) return false;
    *field = line.substr(0, colon);
    line.remove_prefix(colon + 1);
  }
  out.password = line;
  return true;
}

}  // namespace filerline
