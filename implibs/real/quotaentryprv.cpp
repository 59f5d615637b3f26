// KELVA_FSQuotaConfigEntry: one instance per quota rule of a filer, in the filer's
// order, with its limits and, for a rule that names its principal or tree, the usage
// the filer's quota report gives for it.
#include <provkit/frame.h>
#include <provkit/quota.h>

#include <map>
#include <tuple>

#include "fileelements.h"

using namespace implib;

namespace {

struct QuotaListFree {
  void operator()(WSIList *list) const { WSIList_free(list, freeFilerQuotaEntry); }
};
struct ReportListFree {
  void operator()(WSIList *list) const { WSIList_free(list, freeQuotaReport); }
};

using KeyTuple = std::tuple<std::string, std::string, std::string, std::string>;

std::string orEmpty(const char *text) { return text != nullptr ? text : ""; }

KeyTuple keyOf(const QuotaKeys &keys) {
  return {orEmpty(keys.typeText), orEmpty(keys.target), orEmpty(keys.volume), orEmpty(keys.qtree)};
}

struct Usage {
  std::uint64_t disk = 0;
  std::uint64_t files = 0;
};

// The usage of every line of the filer's quota report over the volume (null: the whole
// filer), by the line's keys.
std::map<KeyTuple, Usage> usageOf(const CMPIBroker *broker, CMPIStatus *status, const Filer *filer,
                                  const char *volume) {
  std::map<KeyTuple, Usage> usage;
  Record record;
  WsiText tag(startQuotaReport(filer, volume, nullptr, record.get()));
  if (tag == nullptr) {
    raiseCMPIErrorKELVA(broker, status, record.get());
    return usage;
  }
  std::unique_ptr<WSIList, ReportListFree> lines(WSIList_new());
  if (lines == nullptr) throw std::bad_alloc();
  int more = 1;
  while (more != 0 && !record.failed()) {
    std::uint64_t count = 0;
    more = nextQuotaReport(filer, PK_QUOTA_NO_LIMIT, tag.get(), nullptr, nullptr, &count,
                           lines.get(), record.get());
    if (count == 0) break;
  }
  endQuotaReport(filer, tag.get());
  if (record.failed()) {
    raiseCMPIErrorKELVA(broker, status, record.get());
    return usage;
  }
  for (WSIListPos *at = WSIList_getFirst(lines.get()); at != nullptr; at = WSIList_getNext(at)) {
    const auto *line = static_cast<const QuotaReport *>(WSIList_getElement(at));
    if (line != nullptr) usage[keyOf(line->keys)] = {line->diskUsed, line->filesUsed};
  }
  return usage;
}

// CIM's quota types: 2 user, 3 group, 4 tree, 5 and 6 a user or group inside a qtree.
std::uint16_t cimQuotaType(const QuotaKeys &keys) {
  bool inTree = keys.qtree != nullptr && *keys.qtree != '\0';
  switch (keys.type) {
    case PK_QUOTA_TYPE_USER:
      return inTree ? 5 : 2;
    case PK_QUOTA_TYPE_GROUP:
      return inTree ? 6 : 3;
    case PK_QUOTA_TYPE_TREE:
      return 4;
    default:
      return 0;
  }
}

// "user alice on /vol/volA", "default group quota on /vol/volA/q1", "tree /vol/volA/q1".
std::string describe(const QuotaKeys &keys) {
  std::string where = "/vol/" + orEmpty(keys.volume);
  if (keys.qtree != nullptr && *keys.qtree != '\0') where += "/" + orEmpty(keys.qtree);
  if (keys.type == PK_QUOTA_TYPE_TREE) {
    if (isQuotaEntryTargetDefault(&keys) != 0) return "default tree quota on " + where;
    return "tree " + (keys.absoluteTree != nullptr ? orEmpty(keys.absoluteTree) : where);
  }
  if (isQuotaEntryTargetDefault(&keys) != 0)
    return "default " + orEmpty(keys.typeText) + " quota on " + where;
  return orEmpty(keys.typeText) + " " + orEmpty(keys.target) + " on " + where;
}

// The instance of the filer's rule, with the usage of its line of the report, if any.
FileElement elementOf(const CMPIBroker *broker, CMPIStatus *status, const std::string &system,
                      const FilerQuotaEntry &entry, const std::map<KeyTuple, Usage> &usage) {
  const QuotaKeys &keys = entry.keys;
  FileElement element;
  Record record;
  WsiText id(encodeFSQConfigEntryID(system.c_str(), &keys, record.get()));
  if (id == nullptr) {
    raiseCMPIErrorKELVA(broker, status, record.get());
    return element;
  }
  bool isDefault = isQuotaEntryTargetDefault(&keys) != 0;
  element.instanceId = id.get();
  element.text("ElementName", describe(keys))
      .uint16("QuotaType", cimQuotaType(keys))
      .text("ManagedElement", orEmpty(keys.volume))
      .boolean("Default", isDefault);
  if (keys.type == PK_QUOTA_TYPE_TREE) {
    if (!isDefault) element.text("TreeName", orEmpty(keys.target));
  } else {
    if (keys.qtree != nullptr && *keys.qtree != '\0') element.text("TreeName", orEmpty(keys.qtree));
    if (!isDefault) element.text("PrincipalID", orEmpty(keys.target));
  }
  // A limit that does not limit is left out.
  const QuotaLimits &limits = entry.limits;
  if (limits.diskLimit != PK_QUOTA_NO_LIMIT) element.uint64("HardLimit", limits.diskLimit);
  if (limits.softDiskLimit != PK_QUOTA_NO_LIMIT) element.uint64("SoftLimit", limits.softDiskLimit);
  if (limits.fileLimit != PK_QUOTA_NO_LIMIT) element.uint64("FileHardLimit", limits.fileLimit);
  if (limits.softFileLimit != PK_QUOTA_NO_LIMIT)
    element.uint64("FileSoftLimit", limits.softFileLimit);
  auto used = usage.find(keyOf(keys));
  if (used != usage.end())
    element.uint64("DiskUsed", used->second.disk).uint64("FilesUsed", used->second.files);
  if (entry.errorReason != nullptr && *entry.errorReason != '\0')
    element.text("ErrorReason", entry.errorReason);
  return element;
}

std::vector<FileElement> readEntries(const CMPIBroker *broker, CMPIStatus *status,
                                     const Filer *filer) {
  std::vector<FileElement> elements;
  Record record;
  std::unique_ptr<WSIList, QuotaListFree> entries(WSIList_new());
  if (entries == nullptr) throw std::bad_alloc();
  findFilerQuotaEntries(filer, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, 1,
                        entries.get(), record.get());
  if (record.failed()) {
    raiseCMPIErrorKELVA(broker, status, record.get());
    return elements;
  }
  std::map<KeyTuple, Usage> usage = usageOf(broker, status, filer, nullptr);
  std::string system = systemNameOf(filer);
  for (WSIListPos *at = WSIList_getFirst(entries.get()); at != nullptr && !failed(status);
       at = WSIList_getNext(at)) {
    const auto *entry = static_cast<const FilerQuotaEntry *>(WSIList_getElement(at));
    if (entry != nullptr) elements.push_back(elementOf(broker, status, system, *entry, usage));
  }
  return elements;
}

struct KeysFree {
  void operator()(QuotaKeys *keys) const { freeQuotaQORBKeys(keys); }
};
struct EntryFree {
  void operator()(FilerQuotaEntry *entry) const { freeFilerQuotaEntry(entry); }
};

// A get asks the filer for the one rule and reads the report of its volume only.
bool findEntry(const CMPIBroker *broker, CMPIStatus *status, const Filer *filer,
               const std::string &instanceId, FileElement &out) {
  std::string writable = instanceId;
  char *systemId = nullptr;
  char *prefix = nullptr;
  QuotaKeys *decoded = nullptr;
  Record record;
  if (decodeFSQConfigEntryID(writable.data(), &systemId, &prefix, &decoded, record.get()) == 0) {
    raise(broker, status, CMPI_RC_ERR_NOT_FOUND,
          "KELVA_FSQuotaConfigEntry not found: " + instanceId + ": " +
              (record.message() != nullptr ? record.message() : ""));
    return false;
  }
  std::unique_ptr<QuotaKeys, KeysFree> keys(decoded);
  std::unique_ptr<FilerQuotaEntry, EntryFree> entry(
      getFilerQuotaEntry(filer, keys.get(), 1, record.get()));
  if (entry == nullptr) {
    if (record.failed())
      raiseCMPIErrorKELVA(broker, status, record.get());
    else
      raise(broker, status, CMPI_RC_ERR_NOT_FOUND,
            "KELVA_FSQuotaConfigEntry not found: " + instanceId);
    return false;
  }
  std::map<KeyTuple, Usage> usage = usageOf(broker, status, filer, entry->keys.volume);
  if (failed(status)) return false;
  out = elementOf(broker, status, systemNameOf(filer), *entry, usage);
  return !failed(status);
}

constexpr FileElementClass kClass = {"KELVA_FSQuotaConfigEntry", readEntries, findEntry};

}  // namespace

FILE_ELEMENT_LIBRARY(kClass)
