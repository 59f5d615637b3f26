// KELVA_ProtocolController: one instance per initiator group of a filer, DeviceID
// "SPC:<igroup>".  Its ElementName is the one a client gave the igroup (kept in
// the filer's registry), or the igroup's name while it has none.
#include <cmpimacs.h>
#include <provkit/frame.h>
#include <provkit/igroups.h>
#include <provkit/loader.h>
#include <provkit/objectpath.h>
#include <provkit/properties.h>
#include <wbemkelvai/wsiapi.h>

#include "blockelements.h"

using namespace implib;

namespace {

constexpr const char *kControllerClass = "KELVA_ProtocolController";
// Where the filer keeps an igroup's element name.
constexpr const char *kElementNameKey = "state.igroup.elementname.";

struct IGroupFree {
  void operator()(KELVAIGroup *igroup) const { freeIGroup(igroup); }
};
using IGroup = std::unique_ptr<KELVAIGroup, IGroupFree>;

std::vector<IGroup> igroupsOf(const CMPIBroker *broker, CMPIStatus *status, const Filer *filer) {
  std::vector<IGroup> igroups;
  if (failed(status)) return igroups;
  Record record;
  List list(getIGroupInfo(filer, nullptr, nullptr, nullptr, nullptr, nullptr, record.get()),
            ListFree{freeIGroup});
  if (!list || record.failed()) {
    raiseCMPIErrorKELVA(broker, status, record.get());
    return igroups;
  }
  return takeAll<IGroup>(list.get());
}

// The element name the filer keeps for the igroup; empty when it has none or
// cannot say, since the igroup's name then stands for it.
std::string storedElementName(WSIServerInfo *server, const char *igroupName) {
  if (server == nullptr) return "";
  Element request(createElement("registry-get"));
  std::string key = std::string(kElementNameKey) + igroupName;
  if (!request || addStringElement(request.get(), "registry-key", key.c_str()) == 0) return "";
  Element answer(invokeServerElement(server, request.get()));
  if (checkResultStatus(answer.get()) != 1) return "";
  const char *value = getStringElement(answer.get(), "registry-value");
  return value != nullptr ? value : "";
}

Server serverOf(const Filer *filer) {
  return Server(createServerInfo(filer->host, filer->userName, filer->password, filer->connParam3,
                                 filer->connParam1, filer->connParam2));
}

CMPIObjectPath *controllerPath(const CMPIBroker *broker, CMPIStatus *status,
                               const CMPIObjectPath *source, const Filer *filer,
                               const KELVAIGroup *igroup) {
  if (failed(status)) return nullptr;
  std::string systemName = systemNameOf(filer);
  CmpiObject<CMPIObjectPath> path(
      newProtocolControllerObjectPath(broker, source, igroup->name, systemName.c_str(), status));
  return failed(status) ? nullptr : path.release();
}

CMPIInstance *controllerInstance(const CMPIBroker *broker, CMPIStatus *status,
                                 const CMPIObjectPath *source, const Filer *filer,
                                 WSIServerInfo *server, const KELVAIGroup *igroup,
                                 const char **propertyList) {
  CmpiObject<CMPIObjectPath> path(controllerPath(broker, status, source, filer, igroup));
  if (failed(status)) return nullptr;
  CmpiObject<CMPIInstance> instance(newCMPIInstance(broker, path.get(), status, propertyList));
  if (failed(status)) return nullptr;
  std::string elementName = isPropertyPresent(propertyList, "ElementName") != 0
                                ? storedElementName(server, igroup->name)
                                : "";
  std::string deviceId = std::string("SPC:") + igroup->name;
  Properties(broker, status, instance.get())
      .text("SystemCreationClassName", kSystemClass)
      .text("SystemName", systemNameOf(filer))
      .text("CreationClassName", kControllerClass)
      .text("DeviceID", deviceId)
      .text("Name", igroup->name)
      .text("ElementName", elementName.empty() ? igroup->name : elementName.c_str())
      .text("InitiatorType", igroup->type)
      .text("OSType", igroup->osType)
      .uint16s("OperationalStatus", {2})
      .uint16("EnabledState", 2);
  return failed(status) ? nullptr : instance.release();
}

IGroup igroupOfPath(const CMPIBroker *broker, CMPIStatus *status, const CMPIObjectPath *path,
                    FilerCopy *filer) {
  return recordOfPath<IGroup>(broker, status, path, filer, kControllerClass, "DeviceID",
                              mapProtocolControllerToIGroupInfo);
}

}  // namespace

IMPL_EXPORT CMPIArray *enumInstancesImpl(const CMPIBroker *broker, const CMPIContext *context,
                                         CMPIStatus *status, const CMPIObjectPath *path,
                                         const Filer *filer, const char **propertyList) {
  (void)context;
  return cEdge<CMPIArray *>(broker, status, nullptr, [&]() -> CMPIArray * {
    std::vector<IGroup> igroups = igroupsOf(broker, status, filer);
    // One connection serves the element names of all the filer's igroups.
    Server server = igroups.empty() ? nullptr : serverOf(filer);
    return arrayOfEach<CMPIInstance>(broker, status, igroups, [&](const IGroup &igroup) {
      return controllerInstance(broker, status, path, filer, server.get(), igroup.get(),
                                propertyList);
    });
  });
}

RECORD_PATHS(igroupsOf, controllerPath)

IMPL_EXPORT CMPIInstance *getInstanceImpl(const CMPIBroker *broker, const CMPIContext *context,
                                          CMPIStatus *status, const CMPIObjectPath *path,
                                          const char **propertyList) {
  (void)context;
  return cEdge<CMPIInstance *>(broker, status, nullptr, [&]() -> CMPIInstance * {
    clearCMPIError(broker, status);
    FilerCopy filer;
    IGroup igroup = igroupOfPath(broker, status, path, &filer);
    if (igroup == nullptr) return nullptr;
    Server server = serverOf(filer.get());
    return controllerInstance(broker, status, path, filer.get(), server.get(), igroup.get(),
                              propertyList);
  });
}

IMPL_EXPORT int existsImpl(const CMPIBroker *broker, const CMPIContext *context,
                           const CMPIObjectPath *path, Filer **filerOut) {
  (void)context;
  return existsBy(broker, filerOut, [&](CMPIStatus *status, FilerCopy &filer) {
    return igroupOfPath(broker, status, path, &filer) != nullptr;
  });
}
