// KELVA_NFSShare: one instance per NFS export rule of a filer, in the filer's order,
// with what the rule says: the anonymous user, the hosts given root access and the
// security flavours.  The rules are read as the filer lists them
// (nfs-exportfs-list-rules), since the shares of provkit carry their paths only.
#include <provkit/femanip.h>
#include <provkit/frame.h>
#include <wbemkelvai/wsiapi.h>

#include "fileelements.h"

using namespace implib;

namespace {

// "name", or "-name" for a host the rule names to deny it.
std::vector<std::string> hostsOf(const WSIElement *list) {
  std::vector<std::string> hosts;
  for (const WSIElement *host : childrenOf(list))
    hosts.push_back((getBoolElement(host, "negate", 0) != 0 ? "-" : "") + textOf(host, "name"));
  return hosts;
}

std::vector<FileElement> readRules(const CMPIBroker *broker, CMPIStatus *status,
                                   const Filer *filer) {
  std::vector<FileElement> elements;
  FilerConnection connection(filer);
  Element answer = connection.send(newRequest("nfs-exportfs-list-rules"));
  if (checkResultStatus(answer.get()) != 1) {
    raise(broker, status, CMPI_RC_ERR_FAILED,
          "KELVA_NFSShare unable to list the export rules: " + connection.reason(answer));
    return elements;
  }
  std::string system = systemNameOf(filer);
  for (const WSIElement *rule : childrenOf(getChildElement(answer.get(), "rules"))) {
    const char *given = getStringElement(rule, "pathname");
    std::string path = given != nullptr && *given != '\0' ? given : "/";
    std::vector<std::string> flavors;
    for (const WSIElement *flavor : childrenOf(getChildElement(rule, "sec-flavor")))
      flavors.push_back(textOf(flavor, "flavor"));
    FileElement element = shareElement(system, PK_SHARE_TYPE_NFS, path, path);
    if (getStringElement(rule, "anon") != nullptr) element.text("Anon", textOf(rule, "anon"));
    element.texts("RootAccessHosts", hostsOf(getChildElement(rule, "root")))
        .texts("SecurityFlavors", flavors);
    elements.push_back(std::move(element));
  }
  return elements;
}

constexpr FileElementClass kClass = {"KELVA_NFSShare", readRules};

}  // namespace

FILE_ELEMENT_LIBRARY(kClass)
