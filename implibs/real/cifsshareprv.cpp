// KELVA_CIFSShare: one instance per CIFS share of a filer, in the filer's order, with
// the share's comment.  The shares are read as the filer lists them
// (cifs-share-list-iter-*), since the shares of provkit carry no comment.  A filer
// whose CIFS service is not licensed, not set up or not running shares nothing over
// CIFS: it has no shares rather than a failure.
#include <provkit/femanip.h>
#include <provkit/frame.h>

#include <algorithm>
#include <array>

#include "fileelements.h"

using namespace implib;

namespace {

constexpr std::array<int, 3> kNoCifsService = {13008, 13200, 13201};
// Shares asked for in one request.
constexpr int kBatch = 100;

std::vector<FileElement> readShares(const CMPIBroker *broker, CMPIStatus *status,
                                    const Filer *filer) {
  std::vector<FileElement> elements;
  FilerConnection connection(filer);
  Element started = connection.send(newRequest("cifs-share-list-iter-start"));
  if (checkResultStatus(started.get()) != 1) {
    int number = getResultErrorNum(started.get());
    if (std::find(kNoCifsService.begin(), kNoCifsService.end(), number) == kNoCifsService.end())
      raise(broker, status, CMPI_RC_ERR_FAILED,
            "KELVA_CIFSShare unable to list the shares: " + connection.reason(started));
    return elements;
  }
  std::string tag = textOf(started.get(), "tag");
  std::string system = systemNameOf(filer);
  for (;;) {
    Element next = newRequest("cifs-share-list-iter-next");
    if (addStringElement(next.get(), "tag", tag.c_str()) == 0 ||
        addIntElement(next.get(), "maximum", kBatch) == 0)
      throw std::bad_alloc();
    Element batch = connection.send(next);
    if (checkResultStatus(batch.get()) != 1) {
      raise(broker, status, CMPI_RC_ERR_FAILED,
            "KELVA_CIFSShare unable to list the shares: " + connection.reason(batch));
      break;
    }
    std::vector<const WSIElement *> shares =
        childrenOf(getChildElement(batch.get(), "cifs-shares"));
    if (shares.empty()) break;
    for (const WSIElement *info : shares) {
      std::string name = textOf(info, "share-name");
      std::string mount = textOf(info, "mount-point");
      FileElement element = shareElement(system, PK_SHARE_TYPE_CIFS, name, mount);
      std::string comment = textOf(info, "description");
      if (!comment.empty()) element.text("Description", comment);
      elements.push_back(std::move(element));
    }
  }
  // The listing ends whatever came of it; the filer forgets it either way.
  Element end = newRequest("cifs-share-list-iter-end");
  if (addStringElement(end.get(), "tag", tag.c_str()) == 0) throw std::bad_alloc();
  connection.send(end);
  return elements;
}

constexpr FileElementClass kClass = {"KELVA_CIFSShare", readShares};

}  // namespace

FILE_ELEMENT_LIBRARY(kClass)
