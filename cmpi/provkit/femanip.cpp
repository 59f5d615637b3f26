// File exports and shares: CIFS shares and NFS export rules of a filer, listed,
// identified and changed through the filer's own requests.
#include "provkit/femanip.h"

#include <cmpimacs.h>
#include <wbemkelvai/wsiapi.h>
#include <wbemkelvai/wsistorage.h>

#include <cstring>
#include <memory>
#include <string>

#include "filerrequests.h"
#include "guards.h"
#include "provkit/frame.h"
#include "provkit/fsmanip.h"
#include "provkit/properties.h"

namespace {

using pk::recordEdge;

using pk::filer::Element;
using pk::filer::Server;

// The source place the controller library's diagnostics name for our requests.
constexpr const char *kSource = "cmpi/provkit/femanip.cpp";
constexpr const char *kNoMemory = "Insufficient memory";

// CIFS shares read in the one batch a listing asks for.
constexpr int kShareBatch = 100;
// Failed answers of a CIFS listing that mean "no CIFS here": the service is not
// licensed, not set up, or not running.  The listing then holds no CIFS shares.
constexpr int kNoCifs[] = {13008, 13200, 13201};
// Permissions of a new CIFS share's files: rw-r--r--.
constexpr int kShareUmask = 0644;

constexpr FileExportSetting kNfs{"nfs", PK_SHARE_TYPE_NFS, 2};
constexpr FileExportSetting kCifs{"cifs", PK_SHARE_TYPE_CIFS, 3};

void setRecord(KELVAStatus *status, const char *text) { setKELVAStatus(status, 0, text); }
bool failed(const KELVAStatus *status) { return checkStatus(status) != 0; }

struct SettingsFree {
  void operator()(WSIList *list) const { WSIList_free(list, nullptr); }
};
using SettingList = std::unique_ptr<WSIList, SettingsFree>;

struct SharesFree {
  void operator()(WSIList *list) const { freeShares(list); }
};
using ShareList = std::unique_ptr<WSIList, SharesFree>;

WSIList *settingsList(int which, KELVAStatus *status) {
  SettingList list(WSIList_new());
  if (list == nullptr) {
    setRecord(status, kNoMemory);
    return nullptr;
  }
  // The records are fixed; the list only points at them.
  auto append = [&](const FileExportSetting &setting) {
    return WSIList_append(list.get(), const_cast<FileExportSetting *>(&setting)) != 0;
  };
  bool ok = true;
  if (which == PK_SHARES_NFS || which == PK_SHARES_ALL) ok = append(kNfs);
  if (ok && (which == PK_SHARES_CIFS || which == PK_SHARES_ALL)) ok = append(kCifs);
  if (!ok) {
    setRecord(status, kNoMemory);
    return nullptr;
  }
  return list.release();
}

// ---- Listing -----------------------------------------------------------------------

// Whether a share's path lies in the filter volume: a "/vol/" path by a plain
// prefix comparison over the volume name's length (so /vol/vol10/a lies in vol1,
// as the filers' own listings have always been read), any other path only in the
// root volume.
bool inVolume(const char *path, const KELVAVolume *volume) {
  if (volume == nullptr) return true;
  if (std::strncmp(path, "/vol/", 5) == 0) {
    const char *name = volume->name != nullptr ? volume->name : "";
    return std::strncmp(path + 5, name, std::strlen(name)) == 0;
  }
  return volume->isRoot != 0;
}

// Appends a new share record; false with the record set when memory runs out.
bool appendShare(WSIList *list, int32_t type, const char *mount, const char *name,
                 KELVAStatus *status) {
  auto *share = static_cast<Share *>(wsicalloc(1, sizeof(Share)));
  if (share != nullptr) {
    share->type = type;
    share->mount = wsistrdup(mount);
    share->name = wsistrdup(name);
  }
  if (share == nullptr || share->mount == nullptr || share->name == nullptr ||
      WSIList_append(list, share) == 0) {
    freeShare(share);
    setRecord(status, kNoMemory);
    return false;
  }
  return true;
}

struct Listing {
  WSIServerInfo *server;
  const char *mountFilter;
  const char *nameFilter;
  const KELVAVolume *volume;
  WSIList *shares;
};

Element send(WSIServerInfo *server, const Element &request, KELVAStatus *status) {
  Element answer = pk::filer::invoke(server, request.get(), kSource, __LINE__);
  if (answer == nullptr) setRecord(status, kNoMemory);
  return answer;
}

void listCifs(const Listing &listing, KELVAStatus *status) {
  Element start = pk::filer::element("cifs-share-list-iter-start", kSource, __LINE__);
  if (start == nullptr || (listing.nameFilter != nullptr &&
                           addStringElement(start.get(), "share-name", listing.nameFilter) == 0)) {
    setRecord(status, "Failed to create API 'cifs-share-list-iter-start'");
    return;
  }
  Element started = send(listing.server, start, status);
  if (started == nullptr) return;
  if (checkResultStatus(started.get()) == 0) {
    int number = getResultErrorNum(started.get());
    for (int quiet : kNoCifs) {
      if (number == quiet) return;
    }
    pk::filer::reportWithIP(started.get(), listing.server, status);
    return;
  }
  const char *tag = getStringElement(started.get(), "tag");
  Element next = pk::filer::element("cifs-share-list-iter-next", kSource, __LINE__);
  if (next == nullptr || addStringElement(next.get(), "tag", tag) == 0 ||
      addIntElement(next.get(), "maximum", kShareBatch) == 0) {
    setRecord(status, "Failed to create API 'cifs-share-list-iter-next'");
  } else if (Element batch = send(listing.server, next, status); batch != nullptr) {
    if (checkResultStatus(batch.get()) == 0) {
      pk::filer::reportWithIP(batch.get(), listing.server, status);
    } else {
      pk::filer::Iterator walk =
          pk::filer::children(getChildElement(batch.get(), "cifs-shares"), kSource, __LINE__);
      if (walk == nullptr) setRecord(status, kNoMemory);
      while (walk != nullptr && !failed(status)) {
        WSIElement *info = getNextElement(walk.get());
        if (info == nullptr) break;
        const char *mount = getStringElement(info, "mount-point");
        const char *name = getStringElement(info, "share-name");
        if (mount == nullptr) mount = "";
        if (passesStringFilter(listing.mountFilter, mount) != 0 &&
            passesStringFilter(listing.nameFilter, name) != 0 && inVolume(mount, listing.volume))
          appendShare(listing.shares, PK_SHARE_TYPE_CIFS, mount, name != nullptr ? name : "",
                      status);
      }
    }
  }
  // The filer keeps a listing open until it is ended, whatever became of it.
  Element end = pk::filer::element("cifs-share-list-iter-end", kSource, __LINE__);
  if (end != nullptr && addStringElement(end.get(), "tag", tag) != 0)
    (void)pk::filer::invoke(listing.server, end.get(), kSource, __LINE__);
}

void listNfs(const Listing &listing, KELVAStatus *status) {
  Element request = pk::filer::element("nfs-exportfs-list-rules", kSource, __LINE__);
  if (request == nullptr) {
    setRecord(status, "Failed to create API 'nfs-exportfs-list-rules'");
    return;
  }
  Element answer = send(listing.server, request, status);
  if (answer == nullptr) return;
  if (checkResultStatus(answer.get()) == 0) {
    pk::filer::reportWithIP(answer.get(), listing.server, status);
    return;
  }
  pk::filer::Iterator walk =
      pk::filer::children(getChildElement(answer.get(), "rules"), kSource, __LINE__);
  if (walk == nullptr) {
    setRecord(status, kNoMemory);
    return;
  }
  while (WSIElement *rule = getNextElement(walk.get())) {
    const char *path = getStringElement(rule, "pathname");
    if (path == nullptr) path = "/";
    if (failed(status)) continue;
    if (passesStringFilter(listing.mountFilter, path) != 0 && inVolume(path, listing.volume))
      appendShare(listing.shares, PK_SHARE_TYPE_NFS, path, path, status);
  }
}

WSIList *allShares(const Filer *filer, int which, const char *mountFilter, const char *nameFilter,
                   const char *fileSystemId, KELVAStatus *status) {
  pk::filer::Volume volume;
  if (fileSystemId != nullptr) {
    volume = pk::filer::firstVolume(filer, fileSystemId, 0, status, kNoMemory);
    if (failed(status)) return nullptr;
    // A file system that does not exist holds no shares; listing every share
    // of the filer for it would hand a client shares of other file systems.
    if (volume == nullptr) {
      WSIList *empty = WSIList_new();
      if (empty == nullptr) setRecord(status, kNoMemory);
      return empty;
    }
  }
  Server server = pk::filer::connect(filer, kSource, __LINE__);
  if (server == nullptr) {
    setRecord(status, "Unable to create filer connection");
    return nullptr;
  }
  ShareList shares(WSIList_new());
  if (shares == nullptr) {
    setRecord(status, kNoMemory);
    return nullptr;
  }
  Listing listing{server.get(), mountFilter, nameFilter, volume.get(), shares.get()};
  if (which == PK_SHARES_CIFS || which == PK_SHARES_ALL) listCifs(listing, status);
  if (failed(status)) return nullptr;
  if (which == PK_SHARES_NFS || which == PK_SHARES_ALL) listNfs(listing, status);
  if (failed(status)) return nullptr;
  return shares.release();
}

// ---- Identifiers -----------------------------------------------------------------

int decodeShare(char *instanceID, char **systemOut1, char **systemOut2, int32_t *typeOut,
                char **mountOut, char **nameOut, KELVAStatus *status) {
  char *system1 = nullptr;
  char *system2 = nullptr;
  char *local = nullptr;
  if (getFilerAndNameFromInstanceId(status, instanceID, &system1, &system2, &local) == 0) return 0;
  char *colon = local != nullptr ? std::strchr(local, ':') : nullptr;
  if (colon == nullptr || colon == local) {
    setRecord(status, "Unable to isolate share protocol in 'InstanceID'");
    return 0;
  }
  *colon = '\0';
  int32_t type = getShareTypeFromProtocol(local);
  if (type == PK_SHARE_TYPE_NONE) {
    setRecord(status, "Unknown share type in 'InstanceID' key");
    return 0;
  }
  char *mount = colon + 1;
  char *second = std::strchr(mount, ':');
  if (second == nullptr || second == mount) {
    setRecord(status, "Unable to isolate mount name in 'InstanceID'");
    return 0;
  }
  *second = '\0';
  char *rest = second + 1;
  char *close = std::strchr(rest, ')');
  if (rest[0] != '(' || close == nullptr) {
    setRecord(status, "Unable to isolate share name in 'InstanceID'");
    return 0;
  }
  *close = '\0';
  if (systemOut1 != nullptr) *systemOut1 = system1;
  if (systemOut2 != nullptr) *systemOut2 = system2;
  if (typeOut != nullptr) *typeOut = type;
  if (mountOut != nullptr) *mountOut = mount;
  if (nameOut != nullptr) *nameOut = rest + 1;
  return 1;
}

char *volumeFromMount(const Filer *filer, char *mount, KELVAStatus *status) {
  if (mount == nullptr || std::strncmp(mount, "/vol/", 5) != 0)
    return getRootVolumeName(status, filer);
  char *name = mount + 5;
  char *slash = std::strchr(name, '/');
  if (slash != nullptr) *slash = '\0';
  if (*name == '\0') {
    setRecord(status, "Invalid mount format");
    return nullptr;
  }
  char *copy = wsistrdup(name);
  if (copy == nullptr) setRecord(status, kNoMemory);
  return copy;
}

// ---- Changing the filer ------------------------------------------------------------

// The failed answer's text naming the filer, or nothing for a passed answer.
void checkAnswer(const WSIElement *answer, WSIServerInfo *server, KELVAStatus *status) {
  if (answer == nullptr) {
    setRecord(status, kNoMemory);
  } else if (checkResultStatus(answer) == 0) {
    pk::filer::reportWithIP(answer, server, status);
  }
}

// "cifs-share-add" (with the path) or "cifs-share-change" (path null).
void cifsAddOrChange(const Filer *filer, const ExportedShare *share, const char *path,
                     KELVAStatus *status) {
  Server server = pk::filer::connect(filer, kSource, __LINE__);
  if (server == nullptr) {
    setRecord(status, "Failed to create connection to server");
    return;
  }
  constexpr const char *kNoApi = "Failed to create add/modify API ";
  Element request = pk::filer::element(path != nullptr ? "cifs-share-add" : "cifs-share-change",
                                       kSource, __LINE__);
  if (request == nullptr || addStringElement(request.get(), "share-name", share->name) == 0 ||
      (path != nullptr && addStringElement(request.get(), "path", path) == 0) ||
      (share->comment != nullptr &&
       addStringElement(request.get(), "comment", share->comment) == 0)) {
    setRecord(status, kNoApi);
    return;
  }
  if (addBoolElement(request.get(), "is-symlink-strict-security", 1) == 0) {
    setRecord(status, "Failed to set CIFS creation security mode");
    return;
  }
  if (addIntElement(request.get(), "umask", kShareUmask) == 0) {
    setRecord(status, "Failed to set CIFS creation permission mode");
    return;
  }
  Element answer = pk::filer::invoke(server.get(), request.get(), kSource, __LINE__);
  checkAnswer(answer.get(), server.get(), status);
}

void cifsDelete(const Filer *filer, const ExportedShare *share, KELVAStatus *status) {
  Server server = pk::filer::connect(filer, kSource, __LINE__);
  if (server == nullptr) {
    setRecord(status, "Failed to create connection to server");
    return;
  }
  Element request = pk::filer::element("cifs-share-delete", kSource, __LINE__);
  if (request == nullptr || addStringElement(request.get(), "share-name", share->name) == 0) {
    setRecord(status, "Failed to create add/modify API ");
    return;
  }
  Element answer = pk::filer::invoke(server.get(), request.get(), kSource, __LINE__);
  checkAnswer(answer.get(), server.get(), status);
}

// Appends an element (already filled) to parent; the message when that fails.
bool attachOr(WSIElement *parent, Element child, KELVAStatus *status, const char *message) {
  if (pk::filer::attach(parent, std::move(child))) return true;
  setRecord(status, message);
  return false;
}

// The "root" hosts: plain entries until an empty text, negated entries after it.
bool addRootHosts(WSIElement *rule, WSIList *hosts, KELVAStatus *status) {
  Element root = pk::filer::element("root", kSource, __LINE__);
  if (root == nullptr) {
    setRecord(status, "File Export Subsystem: Failed to create 'exports-rule-info.root'");
    return false;
  }
  bool negate = false;
  for (WSIListPos *at = WSIList_getFirst(hosts); at != nullptr; at = WSIList_getNext(at)) {
    const char *host = static_cast<const char *>(WSIList_getElement(at));
    if (host == nullptr || *host == '\0') {
      negate = true;
      continue;
    }
    Element info = pk::filer::element("exports-hostname-info", kSource, __LINE__);
    if (info == nullptr) {
      setRecord(status, "File Export Subsystem: Failed to create 'exports-hostname-info'");
      return false;
    }
    if (addStringElement(info.get(), "name", host) == 0) {
      setRecord(status, "File Export Subsystem: Failed to add 'export-hostname-info.name'");
      return false;
    }
    if (addBoolElement(info.get(), "negate", negate ? 1 : 0) == 0) {
      setRecord(status, "File Export Subsystem: Failed to add 'export-hostname-info.negate'");
      return false;
    }
    if (!attachOr(root.get(), std::move(info), status,
                  "File Export Subsystem: Failed to add 'export-hostname-info' element"))
      return false;
  }
  return attachOr(rule, std::move(root), status,
                  "File Export Subsystem: Failed to add exports-rule-info.root");
}

// "sec-flavor": every security flavour the filer supports.
bool addFlavors(WSIElement *rule, WSIServerInfo *server, KELVAStatus *status) {
  Element request = pk::filer::element("nfs-get-supported-sec-flavors", kSource, __LINE__);
  if (request == nullptr) {
    setRecord(status,
              "File Export Subsystem: Failed to create 'nfs-get-supported-sec-flavors' api");
    return false;
  }
  Element answer = send(server, request, status);
  if (answer == nullptr) return false;
  if (checkResultStatus(answer.get()) == 0) {
    pk::filer::reportWithIP(answer.get(), server, status);
    return false;
  }
  WSIElement *supported = getChildElement(answer.get(), "sec-flavor");
  if (supported == nullptr) {
    setRecord(status, "File Export Subsystem: Failed to isolate existing flavors");
    return false;
  }
  Element flavors = pk::filer::element("sec-flavor", kSource, __LINE__);
  if (flavors == nullptr) {
    setRecord(status, "File Export Subsystem: Failed to create the 'sec-flavor' element");
    return false;
  }
  pk::filer::Iterator walk = pk::filer::children(supported, kSource, __LINE__);
  if (walk == nullptr) {
    setRecord(status, "File Export Subsystem: Failed to create flavor iterator");
    return false;
  }
  while (WSIElement *child = getNextElement(walk.get())) {
    const char *flavor = getStringElement(child, "flavor");
    if (flavor == nullptr) {
      setRecord(status, "File Export Subsystem: Failed to find 'flavor' string");
      return false;
    }
    Element info = pk::filer::element("sec-flavor-info", kSource, __LINE__);
    if (info == nullptr) {
      setRecord(status, "File Export Subsystem: Failed to create 'sec-flavor-info' string");
      return false;
    }
    if (addStringElement(info.get(), "flavor", flavor) == 0) {
      setRecord(status, "File Export Subsystem: Failed to add 'flavor' to 'sec-flavor-info'");
      return false;
    }
    if (!attachOr(flavors.get(), std::move(info), status,
                  "File Export Subsystem: Failed to add 'sec-flavor-info' to 'sec-flavor'"))
      return false;
  }
  return attachOr(rule, std::move(flavors), status,
                  "File Export Subsystem: Failed to add the 'sec-flavor' element");
}

// The "exports-rule-info" of an append or a modify, or null with the record set.
Element ruleInfo(const ExportedShare *share, const char *path, WSIServerInfo *server,
                 KELVAStatus *status) {
  Element rule = pk::filer::element("exports-rule-info", kSource, __LINE__);
  if (rule == nullptr) {
    setRecord(status, "File Export Subsystem: Failed to create NFS Export Rule Info");
    return Element();
  }
  if (addStringElement(rule.get(), "pathname", path) == 0) {
    setRecord(status, "File Export Subsystem: Failed to 'exports-rules-info.pathname'");
    return Element();
  }
  if (share->anon != nullptr && addStringElement(rule.get(), "anon", share->anon) == 0) {
    setRecord(status, "File Export Subsystem: Failed to 'exports-rules-info.anon'");
    return Element();
  }
  if (share->rootHosts != nullptr && !addRootHosts(rule.get(), share->rootHosts, status))
    return Element();
  if (!addFlavors(rule.get(), server, status)) return Element();
  return rule;
}

// "nfs-exportfs-append-rules" (append) or "nfs-exportfs-modify-rule" for the rule of path.
void nfsAppendOrModify(const Filer *filer, const ExportedShare *share, const char *path,
                       bool append, KELVAStatus *status) {
  Server server = pk::filer::connect(filer, kSource, __LINE__);
  if (server == nullptr) {
    setRecord(status, "File Export Subsystem: Failed to create server connection");
    return;
  }
  Element rule = ruleInfo(share, path, server.get(), status);
  if (rule == nullptr) return;
  Element holder = pk::filer::element(append ? "rules" : "rule", kSource, __LINE__);
  if (holder == nullptr) {
    setRecord(status, "File Export Subsystem: Failed to create 'rule' element");
    return;
  }
  if (!attachOr(holder.get(), std::move(rule), status,
                "File Export Subsystem: Failed to append NFS 'export-info' to 'rule'"))
    return;
  Element request = pk::filer::element(
      append ? "nfs-exportfs-append-rules" : "nfs-exportfs-modify-rule", kSource, __LINE__);
  if (request == nullptr) {
    setRecord(status, append ? "File Export Subsystem: Failed to create "
                               "'nfs-exportfs-append-rules' api "
                             : "File Export Subsystem: Failed to create "
                               "'nfs-exportfs-modify-rule' api ");
    return;
  }
  if (!attachOr(request.get(), std::move(holder), status,
                append ? "File Export Subsystem: Failed to add 'rules' parameter"
                       : "File Export Subsystem: Failed to add 'rule' parameter"))
    return;
  if (addBoolElement(request.get(), "persistent", 1) == 0) {
    setRecord(status, "File Export Subsystem: Failed to set share 'persistent' parmeter");
    return;
  }
  Element answer = pk::filer::invoke(server.get(), request.get(), kSource, __LINE__);
  checkAnswer(answer.get(), server.get(), status);
}

void nfsDelete(const Filer *filer, const ExportedShare *share, KELVAStatus *status) {
  Element info = pk::filer::element("pathname-info", kSource, __LINE__);
  if (info == nullptr) {
    setRecord(status, "File Export Subsystem: Failed to create 'pathname-info' tag'");
    return;
  }
  if (addStringElement(info.get(), "name", share->name) == 0) {
    setRecord(status, "File Export Subsystem: Failed to add 'Name' to 'pathname-info' tag'");
    return;
  }
  Element paths = pk::filer::element("pathnames", kSource, __LINE__);
  if (paths == nullptr) {
    setRecord(status, "File Export Subsystem: Failed to create 'pathnames' tag'");
    return;
  }
  if (!attachOr(paths.get(), std::move(info), status,
                "File Export Subsystem: Failed to add 'pathname-info' to 'pathnames'"))
    return;
  Element request = pk::filer::element("nfs-exportfs-delete-rules", kSource, __LINE__);
  if (request == nullptr) {
    setRecord(status, "File Export Subsystem: Failed to create 'nfs-exportfs-delete-rules' api'");
    return;
  }
  if (!attachOr(request.get(), std::move(paths), status,
                "File Export Subsystem: Failed to add 'pathnames' tag to api"))
    return;
  if (addBoolElement(request.get(), "persistent", 1) == 0) {
    setRecord(status, "File Export Subsystem: Failed to add 'persistent' value to api");
    return;
  }
  Server server = pk::filer::connect(filer, kSource, __LINE__);
  if (server == nullptr) {
    setRecord(status, "File Export Subsystem: Failed to create server connection");
    return;
  }
  Element answer = pk::filer::invoke(server.get(), request.get(), kSource, __LINE__);
  checkAnswer(answer.get(), server.get(), status);
}

bool knownType(const ExportedShare *share, KELVAStatus *status) {
  if (share != nullptr && (share->type == PK_SHARE_TYPE_CIFS || share->type == PK_SHARE_TYPE_NFS))
    return true;
  setRecord(status, "Exported Share Type unspecified");
  return false;
}

void createShare(const Filer *filer, const ExportedShare *share, char **pathOut,
                 KELVAStatus *status) {
  if (!knownType(share, status)) return;
  pk::filer::Volume volume = pk::filer::firstVolume(filer, share->fileSystem, 0, status, kNoMemory);
  if (failed(status)) return;
  if (volume == nullptr) {
    setRecord(status, "Volume Filesystem with UUID specified does not exist");
    return;
  }
  pk::WsiText path(makeAbsolutePath(volume->name, share->relativePath));
  if (path == nullptr) {
    setRecord(status, kNoMemory);
    return;
  }
  if (share->type == PK_SHARE_TYPE_CIFS) {
    cifsAddOrChange(filer, share, path.get(), status);
  } else {
    doesDirectoryExist(filer, path.get(), status);
    if (!failed(status)) nfsAppendOrModify(filer, share, path.get(), true, status);
  }
  if (failed(status)) return;
  if (pathOut != nullptr) *pathOut = path.release();
}

}  // namespace

extern "C" {

WSIList *getFileExportSettings(const Filer * /*filer*/, int which, KELVAStatus *status) {
  pk::RecordSlot record(status);
  return recordEdge(record.get(), static_cast<WSIList *>(nullptr),
                    [&] { return settingsList(which, record.get()); });
}

void freeFileExportSettings(WSIList *settings) { WSIList_free(settings, nullptr); }

const FileExportSetting *getFileExportSettingByName(const Filer * /*filer*/, const char *name,
                                                    KELVAStatus * /*status*/) {
  if (name == nullptr) return nullptr;
  for (const FileExportSetting *setting : {&kNfs, &kCifs}) {
    if (std::strcmp(setting->name, name) == 0) return setting;
  }
  return nullptr;
}

const FileExportSetting *getDefaultFileExportSetting(const Filer *filer, KELVAStatus *status) {
  const FileExportSetting *setting = getFileExportSettingByName(filer, "nfs", status);
  if (setting != nullptr) return setting;
  clearKELVAStatus(status);
  return getFileExportSettingByName(filer, "cifs", status);
}

int getShareTypeFromProtocol(const char *protocol) {
  if (protocol == nullptr) return PK_SHARE_TYPE_NONE;
  switch (protocol[0]) {
    case 'C':
    case 'c':
      return PK_SHARE_TYPE_CIFS;
    case 'N':
    case 'n':
      return PK_SHARE_TYPE_NFS;
    default:
      return PK_SHARE_TYPE_NONE;
  }
}

const FileExportSetting *chooseBestFileExportSetting(const CMPIBroker *broker, const Filer *filer,
                                                     const CMPIInstance *instance,
                                                     const char *label, CMPIStatus *status) {
  pk::StatusSlot st(status);
  return pk::cEdge(
      broker, st.get(), static_cast<const FileExportSetting *>(nullptr),
      [&]() -> const FileExportSetting * {
        CMPIData protocol = getEmbPropertyFromInst(broker, "FileSharingProtocol", label,
                                                   CMPI_uint16, instance, 1, st.get());
        if (st.failed()) return nullptr;
        pk::StatusRecord record;
        SettingList settings(getFileExportSettings(filer, PK_SHARES_ALL, record.get()));
        if (settings == nullptr) {
          raiseCMPIErrorKELVA(broker, st.get(), record.get());
          return nullptr;
        }
        for (WSIListPos *at = WSIList_getFirst(settings.get()); at != nullptr;
             at = WSIList_getNext(at)) {
          auto *setting = static_cast<const FileExportSetting *>(WSIList_getElement(at));
          if (setting->fileSharingProtocol == protocol.value.uint16) return setting;
        }
        return nullptr;
      });
}

WSIList *getAllShares(const Filer *filer, int which, const char *mountFilter,
                      const char *nameFilter, const char *fileSystemId, KELVAStatus *status) {
  pk::RecordSlot record(status);
  return recordEdge(record.get(), static_cast<WSIList *>(nullptr), [&] {
    return allShares(filer, which, mountFilter, nameFilter, fileSystemId, record.get());
  });
}

void freeShares(WSIList *shares) { WSIList_free(shares, freeShare); }

void freeShare(void *share) {
  if (share == nullptr) return;
  auto *record = static_cast<Share *>(share);
  wsifree(record->mount);
  wsifree(record->name);
  wsifree(record);
}

char *encodeFileShareID(const char *system, const Share *share) {
  if (share == nullptr) return nullptr;
  return pk::cEdge(
      static_cast<char *>(nullptr),
      [&] {
        std::string local = share->type == PK_SHARE_TYPE_NFS ? "nfs:" : "cifs:";
        local += share->mount != nullptr ? share->mount : "";
        local += ":(";
        local += share->name != nullptr ? share->name : "";
        local += ')';
        return encodeInstanceID(system, local.c_str());
      },
      [](const char *) noexcept {});
}

int decodeFileShareID(char *instanceID, char **systemOut1, char **systemOut2, int32_t *typeOut,
                      char **mountOut, char **nameOut, KELVAStatus *status) {
  pk::RecordSlot record(status);
  return recordEdge(record.get(), 0, [&] {
    return decodeShare(instanceID, systemOut1, systemOut2, typeOut, mountOut, nameOut,
                       record.get());
  });
}

char *getVolumeNameFromMount(const Filer *filer, char *mount, KELVAStatus *status) {
  pk::RecordSlot record(status);
  return recordEdge(record.get(), static_cast<char *>(nullptr),
                    [&] { return volumeFromMount(filer, mount, record.get()); });
}

void createExportedShare(const Filer *filer, const ExportedShare *share, char **pathOut,
                         KELVAStatus *status) {
  pk::RecordSlot record(status);
  recordEdge(record.get(), 0, [&] {
    createShare(filer, share, pathOut, record.get());
    return 0;
  });
}

void modifyExportedShare(const Filer *filer, const ExportedShare *share, KELVAStatus *status) {
  pk::RecordSlot record(status);
  recordEdge(record.get(), 0, [&] {
    if (!knownType(share, record.get())) return 0;
    if (share->type == PK_SHARE_TYPE_CIFS) {
      cifsAddOrChange(filer, share, nullptr, record.get());
    } else {
      nfsAppendOrModify(filer, share, share->name, false, record.get());
    }
    return 0;
  });
}

void releaseExportedShare(const Filer *filer, const ExportedShare *share, KELVAStatus *status) {
  pk::RecordSlot record(status);
  recordEdge(record.get(), 0, [&] {
    if (!knownType(share, record.get())) return 0;
    if (share->type == PK_SHARE_TYPE_CIFS) {
      cifsDelete(filer, share, record.get());
    } else {
      nfsDelete(filer, share, record.get());
    }
    return 0;
  });
}

}  // extern "C"
