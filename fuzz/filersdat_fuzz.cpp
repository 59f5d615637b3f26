// Fuzzes the reader of filers.dat: the input is the file's bytes, as a data
// directory holds them (on a memory file system where there is one, so that
// the syncs of the rejected-lines copy cost nothing).  Whatever the bytes, the
// read must not crash or leak, and every record it yields that the registry
// would write back must read back the same from its own encoded line: what a
// load keeps, the next update must not change.
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>

#include "../cmpi/wbemkelvai/filerline.h"
#include "wbemkelvai/wsiapi.h"
#include "wbemkelvai/wsifiler.h"
#include "wbemkelvai/wsiruntime.h"

namespace {

namespace fs = std::filesystem;

void check(bool condition) {
  if (!condition) std::abort();
}

// The data directory, made once for the run and removed at its end.
const std::string &dataFile() {
  static const std::string path = [] {
    fs::path base = fs::is_directory("/dev/shm") ? fs::path("/dev/shm") : fs::temp_directory_path();
    static std::string dir = (base / "filersdat-fuzz-XXXXXX").string();
    check(mkdtemp(dir.data()) != nullptr);
    setenv(WSI_DATA_DIR_ENV, dir.c_str(), 1);
    std::atexit([] {
      std::error_code ignored;
      fs::remove_all(dir, ignored);
    });
    return (fs::path(dir) / "filers.dat").string();
  }();
  return path;
}

void writeFile(const std::string &bytes) {
  std::FILE *file = std::fopen(dataFile().c_str(), "wb");
  check(file != nullptr);
  check(std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size());
  check(std::fclose(file) == 0);
}

// Reads the file as the registry's first load does; null when the read failed.
WSIList *readFile() {
  KELVAStatus status = KELVA_STATUS_INIT;
  WSIList *filers = WSIList_new();
  check(filers != nullptr);
  int ok = getFilersFromDiskFile(&status, filers);
  bool failed = checkStatus(&status) != 0;
  clearKELVAStatus(&status);
  check((ok != 0) == !failed);
  if (!failed) return filers;
  freeFilers(filers);
  return nullptr;
}

std::string text(const char *field) { return field != nullptr ? field : ""; }

// The registry's line for a record, encoded; empty when it would refuse it.
std::string encodedLine(const Filer &f) {
  if (filerline::refusal(f.systemId, f.host, f.userName, f.password) != nullptr) return "";
  int size = std::snprintf(nullptr, 0, filerline::kFormat, f.systemId, text(f.host).c_str(),
                           text(f.userName).c_str(), f.connParam1, f.connParam2, f.connParam3,
                           text(f.password).c_str());
  check(size > 0);
  std::string line(static_cast<size_t>(size) + 1, '\0');
  std::snprintf(line.data(), line.size(), filerline::kFormat, f.systemId, text(f.host).c_str(),
                text(f.userName).c_str(), f.connParam1, f.connParam2, f.connParam3,
                text(f.password).c_str());
  line.resize(static_cast<size_t>(size));
  basicEncode(line.data());
  check(line.size() == static_cast<size_t>(size));  // the encoding keeps the length
  return line;
}

bool same(const Filer &a, const Filer &b) {
  return text(a.systemId) == text(b.systemId) && text(a.host) == text(b.host) &&
         text(a.userName) == text(b.userName) && text(a.password) == text(b.password) &&
         a.connParam1 == b.connParam1 && a.connParam2 == b.connParam2 &&
         a.connParam3 == b.connParam3;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  writeFile(std::string(reinterpret_cast<const char *>(data), size));
  WSIList *read = readFile();
  if (read == nullptr) return 0;
  // Every record read has what a record needs, and the registry's writer
  // either refuses it or writes a line that reads back the same record.
  std::string rewritten;
  size_t kept = 0;
  for (WSIListPos *at = WSIList_getFirst(read); at != nullptr; at = WSIList_getNext(at)) {
    const auto *filer = static_cast<const Filer *>(WSIList_getElement(at));
    check(filer != nullptr && filer->systemId != nullptr && filer->systemId[0] != '\0');
    std::string line = encodedLine(*filer);
    if (line.empty()) continue;
    check(line.find_first_of("\r\n") == std::string::npos);
    rewritten += line + filerline::kLineEnd;
    ++kept;
  }
  writeFile(rewritten);
  WSIList *again = readFile();
  check(again != nullptr && WSIList_getLength(again) == kept);
  WSIListPos *back = WSIList_getFirst(again);
  for (WSIListPos *at = WSIList_getFirst(read); at != nullptr; at = WSIList_getNext(at)) {
    const auto *filer = static_cast<const Filer *>(WSIList_getElement(at));
    if (encodedLine(*filer).empty()) continue;
    check(back != nullptr && same(*filer, *static_cast<const Filer *>(WSIList_getElement(back))));
    back = WSIList_getNext(back);
  }
  freeFilers(again);
  freeFilers(read);
  return 0;
}
