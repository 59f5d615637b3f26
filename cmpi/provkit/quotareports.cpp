// Quota reports and status: the filer's report runs as a paged listing (start,
// batches of at most 100 lines, end); each line becomes a record with its keys,
// limits and usage.  Only the lines a caller keeps are built, so a long report
// costs memory in proportion to what the caller keeps, not to its length.
#include <wbemkelvai/wsiapi.h>

#include <cstring>
#include <memory>

#include "filerrequests.h"
#include "guards.h"
#include "provkit/fsmanip.h"
#include "provkit/quota.h"
#include "quotainternal.h"

namespace pk::quota {
namespace {

using pk::filer::Element;

constexpr const char *kNoApi = "Quota subsystem:Failed to create 'quota-status' API";
// Lines the filer is asked for per batch.
constexpr int kBatchLines = 100;

struct ReportFree {
  void operator()(QuotaReport *report) const { freeQuotaReport(report); }
};
using Report = std::unique_ptr<QuotaReport, ReportFree>;

struct StatusFree {
  void operator()(QuotaStatus *record) const { freeQuotaStatus(record); }
};
using Status = std::unique_ptr<QuotaStatus, StatusFree>;

char *start(const Filer *filer, const char *volume, const char *path, KELVAStatus *status) {
  pk::filer::Server server = pk::filer::connect(filer, kSource, __LINE__);
  if (server == nullptr) {
    setRecord(status, kNoServer);
    return nullptr;
  }
  Element request = pk::filer::element("quota-report-iter-start", kSource, __LINE__);
  if (request == nullptr) {
    setRecord(status, kNoApi);
    return nullptr;
  }
  bool added = true;
  if (volume != nullptr && path != nullptr) {
    pk::WsiText whole(makeAbsolutePath(volume, path));
    added = whole != nullptr && addStringElement(request.get(), "path", whole.get()) != 0;
  } else if (volume != nullptr) {
    added = addStringElement(request.get(), "volume", volume) != 0;
  } else if (path != nullptr) {
    added = addStringElement(request.get(), "path", path) != 0;
  }
  if (!added) {
    setRecord(status, "Quota subsystem:Failed to add parameter to 'quota-report-iter-start'");
    return nullptr;
  }
  Element answer = pk::filer::invoke(server.get(), request.get(), kSource, __LINE__);
  if (answer == nullptr) {
    setRecord(status, kNoMemory);
    return nullptr;
  }
  if (checkResultStatus(answer.get()) == 0) {
    pk::filer::reportWithIP(answer.get(), server.get(), status);
    return nullptr;
  }
  if (WSIElement *error = getChildElement(answer.get(), "error")) {
    const char *reason = getStringElement(error, "reason");
    setRecord(status, reason != nullptr ? reason : "");
    return nullptr;
  }
  if (getIntElement(answer.get(), "records", -1) < 1) {
    setRecord(status, "Quota subsystem:'Records' tag missing from iterator start");
    return nullptr;
  }
  const char *tag = getStringElement(answer.get(), "tag");
  if (tag == nullptr) {
    setRecord(status, "Quota subsystem:'Tag' tag missing from iterator start");
    return nullptr;
  }
  char *copy = wsistrdup(tag);
  if (copy == nullptr) setRecord(status, kNoMemory);
  return copy;
}

// A line passes the user filter only when it is a user line naming the filter
// text, and likewise the group filter.
bool taken(const char *type, const char *target, const char *userFilter, const char *groupFilter) {
  const char *safeTarget = target != nullptr ? target : "";
  if (userFilter != nullptr &&
      (strCompare(type, "user") != 0 || std::strstr(safeTarget, userFilter) == nullptr))
    return false;
  if (groupFilter != nullptr &&
      (strCompare(type, "group") != 0 || std::strstr(safeTarget, groupFilter) == nullptr))
    return false;
  return true;
}

Report reportLine(const WSIElement *line, const char *type, const char *target,
                  KELVAStatus *status) {
  Report report(static_cast<QuotaReport *>(wsicalloc(1, sizeof(QuotaReport))));
  if (report == nullptr) {
    setRecord(status, kNoMemory);
    return Report();
  }
  if (!buildKeys(&report->keys, type, target, getStringElement(line, "volume"),
                 getStringElement(line, "qtree"), status))
    return Report();
  if (!readLimits(line, &report->limits, status) ||
      !readLimit(line, "disk-used", true, &report->diskUsed, status) ||
      !readLimit(line, "files-used", false, &report->filesUsed, status))
    return Report();
  return report;
}

// One batch: the number of lines appended; *more false once the report is exhausted.
uint64_t batch(WSIServerInfo *server, const char *tag, const char *userFilter,
               const char *groupFilter, WSIList *list, bool *more, KELVAStatus *status) {
  *more = true;
  Element request = pk::filer::element("quota-report-iter-next", kSource, __LINE__);
  if (request == nullptr) {
    setRecord(status, kNoApi);
    return 0;
  }
  if (addStringElement(request.get(), "tag", tag) == 0) {
    setRecord(status, "Quota subsystem:Failed to add 'tag' tag");
    return 0;
  }
  if (addIntElement(request.get(), "maximum", kBatchLines) == 0) {
    setRecord(status, "Quota subsystem:Failed to add 'maximum' tag");
    return 0;
  }
  Element answer = pk::filer::invoke(server, request.get(), kSource, __LINE__);
  if (answer == nullptr) {
    setRecord(status, kNoMemory);
    return 0;
  }
  if (checkResultStatus(answer.get()) == 0) {
    pk::filer::reportWithIP(answer.get(), server, status);
    return 0;
  }
  WSIElement *quotas = getChildElement(answer.get(), "quotas");
  if (getIntElement(answer.get(), "records", 0) == 0 || quotas == nullptr) {
    *more = false;
    return 0;
  }
  pk::filer::Iterator walk = pk::filer::children(quotas, kSource, __LINE__);
  if (walk == nullptr) {
    setRecord(status, "Quota subsystem:Failed to create iterator for Reports");
    return 0;
  }
  uint64_t appended = 0;
  while (checkStatus(status) == 0) {
    WSIElement *line = getNextElement(walk.get());
    if (line == nullptr) break;
    const char *type = getStringElement(line, "quota-type");
    const char *target = getStringElement(line, "quota-target");
    if (!taken(type, target, userFilter, groupFilter)) continue;
    Report report = reportLine(line, type, target, status);
    if (report == nullptr) break;
    if (WSIList_append(list, report.get()) == 0) {
      setRecord(status, kNoMemory);
      break;
    }
    (void)report.release();
    ++appended;
  }
  return appended;
}

int next(const Filer *filer, uint64_t wanted, const char *tag, const char *userFilter,
         const char *groupFilter, uint64_t *countOut, WSIList *list, KELVAStatus *status) {
  uint64_t total = 0;
  bool more = true;
  pk::filer::Server server = pk::filer::connect(filer, kSource, __LINE__);
  if (server == nullptr) {
    setRecord(status, kNoServer);
  } else if (wanted == PK_QUOTA_NO_LIMIT) {
    while (more && checkStatus(status) == 0)
      total += batch(server.get(), tag, userFilter, groupFilter, list, &more, status);
  } else {
    uint64_t batches = wanted / kBatchLines;
    if (batches == 0) batches = 1;
    // A filter may skip every line of a pass; the next pass goes on until a line
    // is taken or the report ends.
    while (total == 0 && more && checkStatus(status) == 0) {
      for (uint64_t i = 0; i < batches && more && checkStatus(status) == 0; ++i)
        total += batch(server.get(), tag, userFilter, groupFilter, list, &more, status);
    }
  }
  if (countOut != nullptr) *countOut = total;
  return more ? 1 : 0;
}

void end(const Filer *filer, const char *tag) {
  pk::filer::Server server = pk::filer::connect(filer, kSource, __LINE__);
  if (server == nullptr) return;
  Element request = pk::filer::element("quota-report-iter-end", kSource, __LINE__);
  if (request == nullptr || addStringElement(request.get(), "tag", tag) == 0) return;
  (void)pk::filer::invoke(server.get(), request.get(), kSource, __LINE__);
}

QuotaStatus *quotaStatus(const Filer *filer, const char *volume, KELVAStatus *status) {
  Element answer = volumeRequest(filer, "quota-status", volume, kNoApi,
                                 "Quota subsystem: Failed to add 'pVolume' parameter", status);
  if (answer == nullptr) return nullptr;
  Status record(static_cast<QuotaStatus *>(wsicalloc(1, sizeof(QuotaStatus))));
  if (record == nullptr) {
    setRecord(status, kNoMemory);
    return nullptr;
  }
  const char *state = getStringElement(answer.get(), "status");
  if (state == nullptr) {
    setRecord(status, "Quota subsystem:Quota Status unknown");
    return nullptr;
  }
  static constexpr const char *kStates[] = {"on", "off", "resizing", "initializing",
                                            "shutting down"};
  for (int i = 0; i < 5; ++i) {
    if (strCompare(state, kStates[i]) == 0) record->state = i + 1;
  }
  if (record->state == 0) {
    setRecord(status, "Quota subsystem:Unexpected quota status state");
    return nullptr;
  }
  record->percentComplete =
      static_cast<int32_t>(getIntElement(answer.get(), "percent-complete", 0));
  if (const char *errors = getStringElement(answer.get(), "quota-errors")) {
    record->hasErrors = 1;
    record->errors = wsistrdup(errors);
    if (record->errors == nullptr) {
      setRecord(status, kNoMemory);
      return nullptr;
    }
  }
  return record.release();
}

}  // namespace
}  // namespace pk::quota

using namespace pk::quota;
using pk::recordEdge;

extern "C" {

char *startQuotaReport(const Filer *filer, const char *volume, const char *path,
                       KELVAStatus *status) {
  return recordEdge(status, static_cast<char *>(nullptr),
                    [&](KELVAStatus *record) { return start(filer, volume, path, record); });
}

int nextQuotaReport(const Filer *filer, uint64_t wanted, const char *tag, const char *userFilter,
                    const char *groupFilter, uint64_t *countOut, WSIList *list,
                    KELVAStatus *status) {
  if (countOut != nullptr) *countOut = 0;
  return recordEdge(status, 0, [&](KELVAStatus *record) {
    if (tag == nullptr || list == nullptr) {
      setKELVAStatus(record, 0, "Quota subsystem:Failed to add 'tag' tag");
      return 0;
    }
    return next(filer, wanted, tag, userFilter, groupFilter, countOut, list, record);
  });
}

void endQuotaReport(const Filer *filer, const char *tag) {
  pk::cEdge(
      0,
      [&] {
        if (tag != nullptr) end(filer, tag);
        return 0;
      },
      [](const char *) noexcept {});
}

void freeQuotaReport(void *report) {
  auto *line = static_cast<QuotaReport *>(report);
  if (line == nullptr) return;
  clearKeys(&line->keys);
  wsifree(line);
}

int getQuotaReportType(const QuotaReport *report) {
  return report != nullptr ? report->keys.type : PK_QUOTA_TYPE_OTHER;
}
const char *getQuotaReportAbsoluteTree(const QuotaReport *report) {
  return report != nullptr ? report->keys.absoluteTree : nullptr;
}
const char *getQuotaReportVolume(const QuotaReport *report) {
  return report != nullptr ? report->keys.volume : nullptr;
}
const char *getQuotaReportTarget(const QuotaReport *report) {
  return report != nullptr ? report->keys.target : nullptr;
}

QuotaStatus *getQuotaStatus(const Filer *filer, const char *volume, KELVAStatus *status) {
  return recordEdge(status, static_cast<QuotaStatus *>(nullptr),
                    [&](KELVAStatus *record) { return quotaStatus(filer, volume, record); });
}

void freeQuotaStatus(QuotaStatus *quotaStatus) {
  if (quotaStatus == nullptr) return;
  wsifree(quotaStatus->errors);
  wsifree(quotaStatus);
}

}  // extern "C"
