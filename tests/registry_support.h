// What the registry tests share: the broker in use, a data directory of the
// test's own, filers that answer nothing, CMPI statuses that release their
// message, and the registry's test hooks.
#pragma once

#include <cimom/cimom.h>
#include <cmpimacs.h>
#include <provkit/registry.h>
#include <stdlib.h>
#include <wbemkelvai/wsiapi.h>

#include "platform/testhooks.h"

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace pk::testing {
// Forgets the filer registry: frees its list and destroys its broker mutexes
// through `broker` (the one that made them), so that the next operation loads
// filers.dat again as the first of a process does.  For tests whose object
// manager does not outlive them.
PK_TEST_HOOK void resetFilerRegistry(const CMPIBroker *broker);
}  // namespace pk::testing

namespace regtest {

namespace fs = std::filesystem;

// The broker the helpers below use: the test's object manager's.
inline const CMPIBroker *&currentBroker() {
  static const CMPIBroker *broker = nullptr;
  return broker;
}
inline const CMPIBroker *broker() { return currentBroker(); }

struct Status {
  CMPIStatus s{CMPI_RC_OK, nullptr};
  Status() = default;
  explicit Status(CMPIStatus taken) : s(taken) {}
  ~Status() { reset(); }
  void reset() {
    if (s.msg != nullptr) CMRelease(s.msg);
    s = {CMPI_RC_OK, nullptr};
  }
  CMPIStatus *operator&() { return &s; }
  std::string message() const {
    return s.msg != nullptr ? CMGetCharsPtr(s.msg, nullptr) : std::string();
  }
};

// Filers whose host nobody answers for, so that adding one never waits on a network.
inline int offline(void *, const char *, const char *, const char *, size_t, long, WSIAnswerWriter,
                   void *) {
  return WSI_INPROC_UNREACHABLE;
}

inline Filer *newFiler(const std::string &id, const std::string &host = "offline.test",
                       int port = 443, const std::string &password = "secret") {
  wsiRegisterInProcessFiler(host.c_str(), offline, nullptr);
  auto *filer = static_cast<Filer *>(wsicalloc(1, sizeof(Filer)));
  filer->systemId = id.empty() ? nullptr : wsistrdup(id.c_str());
  filer->host = wsistrdup(host.c_str());
  filer->userName = wsistrdup("root");
  filer->password = wsistrdup(password.c_str());
  filer->connParam1 = 1;
  filer->connParam2 = port;
  filer->connParam3 = 30;
  return filer;
}

// Adds the filer; the registry owns it on success, and the test frees it otherwise.
inline CMPIrc add(Filer *filer) {
  Status status(addFilerToList(broker(), filer));
  if (status.s.rc != CMPI_RC_OK) freeFiler(filer);
  return status.s.rc;
}

inline std::vector<std::string> listedIds() {
  Status status;
  std::vector<std::string> ids;
  WSIList *list = getFilerList(broker(), &status);
  for (WSIListPos *at = WSIList_getFirst(list); at != nullptr; at = WSIList_getNext(at))
    ids.push_back(static_cast<Filer *>(WSIList_getElement(at))->systemId);
  freeFilers(list);
  return ids;
}

// The encoded line the file holds for a record with these fields.
inline std::string encodedLine(std::string plain) {
  basicEncode(plain.data());
  return plain;
}

// The records that the controller library reads from filers.dat now.
inline std::vector<Filer *> readBack() {
  KELVAStatus record = KELVA_STATUS_INIT;
  WSIList *list = WSIList_new();
  getFilersFromDiskFile(&record, list);
  clearKELVAStatus(&record);
  std::vector<Filer *> filers;
  while (!WSIList_isEmpty(list))
    filers.push_back(static_cast<Filer *>(
        WSIList_remove(list, WSIList_getFirstElement(list, nullptr, nullptr))));
  WSIList_free(list, nullptr);
  return filers;
}

inline std::vector<std::string> lines(const fs::path &file) {
  std::ifstream in(file, std::ios::binary);
  std::vector<std::string> result;
  for (std::string line; std::getline(in, line);) result.push_back(line);
  return result;
}

// A fresh data directory for the registry's files.
inline fs::path useNewDataDir() {
  std::string pattern = (fs::temp_directory_path() / "registry-XXXXXX").string();
  fs::path dir = mkdtemp(pattern.data());
  setenv(WSI_DATA_DIR_ENV, dir.string().c_str(), 1);
  return dir;
}

}  // namespace regtest
