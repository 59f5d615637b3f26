// KELVA_CIFSShare: one instance per CIFS share of a filer, in the filer's order.  A
// filer whose CIFS service is not licensed or not running has no shares to list;
// provkit logs why and goes on with the other filers.
#include <provkit/femanip.h>
#include <provkit/frame.h>

#include "fileelements.h"

using namespace implib;

namespace {

struct SharesFree {
  void operator()(WSIList *shares) const { freeShares(shares); }
};

std::vector<FileElement> readShares(const CMPIBroker *broker, CMPIStatus *status,
                                    const Filer *filer) {
  std::vector<FileElement> elements;
  Record record;
  std::unique_ptr<WSIList, SharesFree> shares(
      getAllShares(filer, PK_SHARES_CIFS, nullptr, nullptr, nullptr, record.get()));
  if (shares == nullptr) {
    raiseCMPIErrorKELVA(broker, status, record.get());
    return elements;
  }
  std::string system = systemNameOf(filer);
  for (WSIListPos *at = WSIList_getFirst(shares.get()); at != nullptr; at = WSIList_getNext(at)) {
    const auto *share = static_cast<const Share *>(WSIList_getElement(at));
    if (share == nullptr || share->type != PK_SHARE_TYPE_CIFS) continue;
    WsiText id(encodeFileShareID(system.c_str(), share));
    if (id == nullptr) throw std::bad_alloc();
    std::string mount = share->mount != nullptr ? share->mount : "";
    std::string name = share->name != nullptr ? share->name : "";
    FileElement element;
    element.instanceId = id.get();
    element.text("ElementName", name)
        .text("Name", name)
        .text("SystemName", system)
        .text("Path", mount)
        .text("Volume", volumeOfPath(mount))
        .uint16("FileSharingProtocol", 3)
        .boolean("SharingDirectory", true);
    elements.push_back(std::move(element));
  }
  return elements;
}

constexpr FileElementClass kClass = {"KELVA_CIFSShare", readShares};

}  // namespace

FILE_ELEMENT_LIBRARY(kClass)
