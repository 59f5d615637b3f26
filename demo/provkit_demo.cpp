// provkit-demo: the agent's shared library at work without a real object
// manager or real filers.  It hosts provkit in the embedded object manager,
// brings up the simulated filers of a scenario in process, registers each in
// the filer registry (filers.dat in the data directory) and shows what the
// controller library reads from them.
#include <CLI/CLI.hpp>
#include <cimom/cimom.h>
#include <cmpimacs.h>
#include <filersim/filersim.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>

#include "provkit/frame.h"
#include "provkit/registry.h"
#include "wbemkelvai/wsifiler.h"
#include "wbemkelvai/wsiruntime.h"

namespace {

std::string text(const char *s) { return s != nullptr ? s : "-"; }

// Releases the message a provkit call left in a status.
void release(CMPIStatus &status) {
  if (status.msg != nullptr) CMRelease(status.msg);
  status.msg = nullptr;
}

void show(const Filer *filer) {
  KELVAStatus record = KELVA_STATUS_INIT;
  std::printf("%s  host %s  user %s\n", text(filer->systemId).c_str(), text(filer->host).c_str(),
              text(filer->userName).c_str());

  KELVASysInfo *info = getKELVASysInfo(&record, filer);
  if (info != nullptr && info->online != 0) {
    std::printf("  %s, %s %s, serial %s\n  %s\n", text(info->systemName).c_str(),
                text(info->vendor).c_str(), text(info->model).c_str(),
                text(info->serialNumber).c_str(), text(info->osVersion).c_str());
  } else {
    std::printf("  off-line %s\n", text(record.message).c_str());
  }
  freeKELVASysInfo(info);
  clearKELVAStatus(&record);

  KELVACFStatus *cf = getCFStatus(filer, &record);
  if (cf != nullptr) {
    std::printf("  takeover: %s (partner %s)\n", text(cf->state).c_str(),
                text(cf->partner).c_str());
  }
  freeCFStatus(cf);
  clearKELVAStatus(&record);

  WSIList *addresses = getAllIPV4IPs(filer, &record);
  std::printf("  IPv4:");
  for (WSIListPos *p = WSIList_getFirst(addresses); p != nullptr; p = WSIList_getNext(p)) {
    std::printf(" %s", static_cast<const char *>(WSIList_getElement(p)));
  }
  std::printf("\n");
  WSIList_free(addresses, wsifree);
  clearKELVAStatus(&record);
}

int run(int argc, char **argv) {
  CLI::App app{"provkit in the embedded object manager with simulated filers"};
  std::string scenario = PROVKIT_DEMO_SCENARIO;
  std::string dataDir = (std::filesystem::temp_directory_path() / "provkit-demo").string();
  bool fresh = false;
  app.add_option("--scenario", scenario, "scenario file of the simulated filers")
      ->check(CLI::ExistingFile);
  app.add_option("--data-dir", dataDir, "where filers.dat is kept");
  app.add_flag("--fresh", fresh, "start with an empty registry");
  CLI11_PARSE(app, argc, argv);

  if (fresh) std::filesystem::remove_all(dataDir);
  std::filesystem::create_directories(dataDir);
  // The registry reads its directory on first use.
  setenv("KELVA_DATA_DIR", dataDir.c_str(), 1);

  auto objectManager = cimom::create();
  const CMPIBroker *broker = objectManager->broker();
  initProvkit(broker);

  std::unique_ptr<filersim::Simulator> simulator;
  try {
    simulator = filersim::Simulator::fromFile(scenario);
  } catch (const std::exception &e) {
    std::fprintf(stderr, "provkit-demo: %s\n", e.what());
    return 1;
  }
  simulator->registerInProcess();

  for (const std::string &name : simulator->filerNames()) {
    CMPIStatus status{CMPI_RC_OK, nullptr};
    std::string systemId = simulator->systemId(name);
    Filer *known = filerExists(broker, &status, systemId.c_str());
    release(status);
    if (known != nullptr) {
      freeFiler(known);
      continue;
    }
    Filer wanted{const_cast<char *>(systemId.c_str()),
                 const_cast<char *>(simulator->host(name).c_str()),
                 const_cast<char *>(simulator->userName(name).c_str()),
                 const_cast<char *>(simulator->password(name).c_str()),
                 0,
                 0,
                 30};
    auto *record = static_cast<Filer *>(copyFiler(&wanted));
    status = addFilerToList(broker, record);
    if (status.rc != CMPI_RC_OK) {
      std::fprintf(stderr, "provkit-demo: adding %s failed: %s\n", name.c_str(),
                   status.msg != nullptr ? CMGetCharPtr(status.msg) : "");
      freeFiler(record);
    }
    release(status);
  }

  CMPIStatus status{CMPI_RC_OK, nullptr};
  WSIList *filers = getFilerList(broker, &status);
  release(status);
  char *version = getSMISAgentVersionString(broker, &status);
  release(status);
  std::printf("KELVA SMI-S agent %s, filers.dat in %s\n\n", text(version).c_str(), dataDir.c_str());
  wsifree(version);
  for (WSIListPos *p = WSIList_getFirst(filers); p != nullptr; p = WSIList_getNext(p)) {
    show(static_cast<const Filer *>(WSIList_getElement(p)));
    std::printf("\n");
  }
  std::printf("%u filers managed\n", WSIList_getLength(filers));
  freeFilers(filers);
  simulator->unregisterInProcess();
  // The registry and the stored broker last as long as the process.
  std::fflush(stdout);
  std::_Exit(0);
}

}  // namespace

int main(int argc, char **argv) {
  try {
    return run(argc, argv);
  } catch (const std::exception &e) {
    std::fprintf(stderr, "provkit-demo: %s\n", e.what());
    return 1;
  }
}
