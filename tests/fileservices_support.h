// What the file-system and file-share tests share: an object manager per test (both
// CMPI levels) for the calls that take a broker, and the default scenario's filers
// answering in process, with kelva-a's record at hand.
#pragma once

#include <cimom/cimom.h>
#include <cimom/testing.h>
#include <cmpimacs.h>
#include <filersim/filersim.h>
#include <provkit/frame.h>
#include <gtest/gtest.h>
#include <wbemkelvai/wsiapi.h>
#include <wbemkelvai/wsistorage.h>

#include <array>
#include <memory>
#include <string>
#include <vector>

#include "support.h"

namespace fstest {

using pktest::Record;

class FileServicesTest : public cimom::testing::ObjectManagerTest {
 protected:
  void SetUp() override {
    ObjectManagerTest::SetUp();
    sim = filersim::Simulator::fromFile(FILERSIM_DEFAULT_SCENARIO);
    sim->registerInProcess();
    a = record("kelva-a", 0);
    b = record("kelva-b", 1);
  }
  void TearDown() override {
    for (CMPIInstance *made : instances) CMRelease(made);
    clearCMPIError(broker, &status);
    for (const Filer *filer : {&a, &b}) {
      Record gone;
      FilerCache_deleteEntry(filer, gone.get());  // the cache is process-wide
    }
    sim.reset();
    ObjectManagerTest::TearDown();
  }

  Filer record(const char *name, size_t slot) {
    texts[slot] = {sim->systemId(name), sim->host(name), sim->userName(name), sim->password(name)};
    auto &t = texts[slot];
    return Filer{t[0].data(), t[1].data(), t[2].data(), t[3].data(), WSI_TRANSPORT_HTTP, 0, 5};
  }

  // The file-service model of a filer as it stands now.
  nlohmann::json files(const char *filer = "kelva-a") const { return sim->state(filer)["files"]; }
  // The last request of the API the filer received, as XML.
  std::string lastRequest(const char *api, const char *filer = "kelva-a") const {
    nlohmann::json sent = files(filer)["lastRequest"];
    return sent.contains(api) ? sent[api].get<std::string>() : std::string();
  }
  // How many listings the filer holds open.
  size_t openListings(const char *filer = "kelva-a") const { return files(filer)["open"].size(); }

  // The status's message ("" when none), the status made good again.
  std::string message() {
    std::string text = takeMessage(status);
    status.rc = CMPI_RC_OK;
    return text;
  }

  // A new instance of the class, released at the end of the test.
  CMPIInstance *instance(const char *className) {
    CMPIObjectPath *path = CMNewObjectPath(broker, "root/kelva", className, nullptr);
    CMPIInstance *made = CMNewInstance(broker, path, nullptr);
    CMRelease(path);
    instances.push_back(made);
    return made;
  }
  void setUint16(CMPIInstance *inst, const char *name, CMPIUint16 value) {
    CMPIValue v;
    v.uint16 = value;
    CMSetProperty(inst, name, &v, CMPI_uint16);
  }
  void setNull(CMPIInstance *inst, const char *name, CMPIType type) {
    CMSetProperty(inst, name, nullptr, type);
  }
  // An array property of the element type; a negative value stands for a null element.
  void setArray(CMPIInstance *inst, const char *name, CMPIType elementType,
                const std::vector<long long> &values) {
    CMPIArray *array =
        CMNewArray(broker, static_cast<CMPICount>(values.size()), elementType, nullptr);
    for (size_t i = 0; i < values.size(); ++i) {
      if (values[i] < 0) continue;  // a new array's elements start null
      CMPIValue v;
      if (elementType == CMPI_uint64) {
        v.uint64 = static_cast<CMPIUint64>(values[i]);
      } else {
        v.uint16 = static_cast<CMPIUint16>(values[i]);
      }
      CMSetArrayElementAt(array, static_cast<CMPICount>(i), &v, elementType);
    }
    CMPIValue v;
    v.array = array;
    CMSetProperty(inst, name, &v, elementType | CMPI_ARRAY);
    CMRelease(array);
  }

  std::unique_ptr<filersim::Simulator> sim;
  std::array<std::array<std::string, 4>, 2> texts;
  Filer a{};
  Filer b{};
  CMPIStatus status{CMPI_RC_OK, nullptr};
  std::vector<CMPIInstance *> instances;
};

}  // namespace fstest
