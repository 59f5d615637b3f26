// The implementation library loader, against the fixture libraries of
// implibs/ and the real block volume library beside them (found through
// LD_LIBRARY_PATH): which names each loader binds, the library rule, and the
// failures of loading, binding and unloading.
#include <cimom/cimom.h>
#include <cimom/testing.h>
#include <cmpimacs.h>
#include <gtest/gtest.h>
#include <provkit/frame.h>
#include <provkit/loader.h>

#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "platform/platform.h"
#include "support.h"

namespace {

using pktest::text;

using pktest::isMapped;

template <typename F>
void *address(F function) {
  return reinterpret_cast<void *>(function);
}

// Each bound field must be the library's own function of that name.
void expectBound(void *handle, const char *name, void *field) {
  ASSERT_NE(field, nullptr) << name;
  EXPECT_EQ(field, pk::platform::librarySymbol(handle, name)) << name;
}

class LoaderTest : public cimom::testing::ObjectManagerTest {
 protected:
  void TearDown() override {
    clearCMPIError(broker, &status);
    ObjectManagerTest::TearDown();
  }

  CMPIStatus status{CMPI_RC_OK, nullptr};
};

TEST_P(LoaderTest, CmpiFamilyBindsEachLoadersSlice) {
  WSIInstanceImpl inst = WSI_CMPILoadInstanceImpl(broker, &status, "implall");
  ASSERT_EQ(status.rc, CMPI_RC_OK) << text(status.msg);
  expectBound(inst.handle, "getInstanceImpl", address(inst.getInstanceImpl));
  expectBound(inst.handle, "enumInstancesImpl", address(inst.enumInstancesImpl));
  expectBound(inst.handle, "enumInstNamesImpl", address(inst.enumInstNamesImpl));
  expectBound(inst.handle, "existsImpl", address(inst.existsImpl));
  EXPECT_EQ(inst.setInstanceImpl, nullptr);
  EXPECT_EQ(inst.deleteInstanceImpl, nullptr);

  WSIIndicationProv prov = WSI_CMPILoadIndicationProv(broker, &status, "implall");
  expectBound(prov.handle, "authorizeFilter", address(prov.authorizeFilter));
  expectBound(prov.handle, "activateFilter", address(prov.activateFilter));
  expectBound(prov.handle, "deActivateFilter", address(prov.deActivateFilter));
  expectBound(prov.handle, "enableIndications", address(prov.enableIndications));
  expectBound(prov.handle, "initProvider", address(prov.initProvider));

  WSIMethodImpl method = WSI_CMPILoadMethodImpl(broker, &status, "implall");
  expectBound(method.handle, "invokeMethodImpl", address(method.invokeMethodImpl));
  CMPIData answer =
      method.invokeMethodImpl(broker, om->context(), &status, nullptr, "m", nullptr, nullptr);
  EXPECT_EQ(answer.value.uint32, 1u);  // the mark of libimplall

  WSIAssocImpl assoc = WSI_CMPILoadAssocImpl(broker, &status, "implall");
  expectBound(assoc.handle, "getAssociatorPathImpl", address(assoc.getAssociatorPathImpl));
  expectBound(assoc.handle, "getAssociatorInstanceImpl", address(assoc.getAssociatorInstanceImpl));

  WSIIndImpl ind = WSI_CMPILoadIndImpl(broker, &status, "implall");
  expectBound(ind.handle, "enumIndElements", address(ind.enumIndElements));
  expectBound(ind.handle, "freeIndElements", address(ind.freeIndElements));
  expectBound(ind.handle, "newInstanceFromIndElement", address(ind.newInstanceFromIndElement));
  expectBound(ind.handle, "compareIndElements", address(ind.compareIndElements));

  WSISNMPImpl snmp = WSI_CMPILoadSNMPImpl(broker, &status);
  ASSERT_EQ(status.rc, CMPI_RC_OK) << text(status.msg);
  expectBound(snmp.handle, "SNMPTrapSubscribe", address(snmp.SNMPTrapSubscribe));
  expectBound(snmp.handle, "SNMPTrapUnSubscribe", address(snmp.SNMPTrapUnSubscribe));
#if !defined(_WIN32)  // which files a process maps is read from /proc/self/maps
  EXPECT_TRUE(isMapped("libtrapsinkprv.so"));
#endif

  WSI_CMPIUnloadInstanceImpl(broker, &status, inst);
  WSI_CMPIUnloadIndicationProv(broker, &status, prov);
  WSI_CMPIUnloadMethodImpl(broker, &status, method);
  WSI_CMPIUnloadAssocImpl(broker, &status, assoc);
  WSI_CMPIUnloadIndImpl(broker, &status, ind);
  WSI_CMPIUnloadSNMPImpl(broker, &status, snmp);
  EXPECT_EQ(status.rc, CMPI_RC_OK);
#if !defined(_WIN32)  // which files a process maps is read from /proc/self/maps
  EXPECT_FALSE(isMapped("libimplall.so"));
#endif
  EXPECT_FALSE(isMapped("libtrapsinkprv.so"));
  EXPECT_TRUE(om->logs().empty());
}

TEST_P(LoaderTest, CmpiFamilyReportsLibrariesThatDoNotLoad) {
  WSIMethodImpl method = WSI_CMPILoadMethodImpl(broker, &status, "nosuchimpl");
  EXPECT_EQ(method.handle, nullptr);
  EXPECT_EQ(status.rc, CMPI_RC_ERR_FAILED);
  std::string message = text(status.msg);
  const std::string prefix = "Unable to load 'nosuchimpl', system error message: ";
  EXPECT_TRUE(message.starts_with(prefix)) << message;
  EXPECT_GT(message.size(), prefix.size()) << "the system's text is missing";

  om->inject({"BrokerExt.resolveFileName"});
  WSIInstanceImpl inst = WSI_CMPILoadInstanceImpl(broker, &status, "implall");
  EXPECT_EQ(inst.handle, nullptr);
  EXPECT_EQ(text(status.msg), "Unable to resolve system specific library name");
}

TEST_P(LoaderTest, CmpiFamilyUnloadsALibraryThatLacksAFunction) {
  WSIInstanceImpl inst = WSI_CMPILoadInstanceImpl(broker, &status, "implnoexists");
  EXPECT_EQ(inst.handle, nullptr);
  EXPECT_EQ(inst.getInstanceImpl, nullptr);
  EXPECT_EQ(status.rc, CMPI_RC_ERR_FAILED);
  std::string message = text(status.msg);
  EXPECT_TRUE(message.starts_with("Unable to find 'existsImpl', system error message: "))
      << message;
  EXPECT_FALSE(isMapped("libimplnoexists.so"));

  // The lookup error is raised (logged as an error) and then logged again as a
  // warning under the loader's name.
  auto logs = om->logs();
  ASSERT_EQ(logs.size(), 2u);
  EXPECT_EQ(logs[1].severity, 3);
  EXPECT_EQ(logs[1].id, "WSI_CMPILoadInstanceImpl");
  EXPECT_FALSE(logs[1].hasText);
  EXPECT_EQ(logs[1].cmpiText, message);

  WSIIndImpl ind = WSI_CMPILoadIndImpl(broker, &status, "implinstonly");
  EXPECT_EQ(ind.handle, nullptr);
  EXPECT_TRUE(text(status.msg).starts_with("Unable to find 'enumIndElements'"));
  EXPECT_EQ(om->logs().back().id, "WSI_CMPILoadIndImpl");
}

TEST_P(LoaderTest, CmpiUnloadNeedsAHandleAndOtherwiseSucceeds) {
  WSI_CMPIUnloadLib(broker, &status, nullptr);
  EXPECT_EQ(status.rc, CMPI_RC_ERR_FAILED);
  EXPECT_EQ(text(status.msg), "Library handle is null");

  void *handle = WSI_CMPILoadLib(broker, &status, "implall");
  ASSERT_NE(handle, nullptr);
  EXPECT_EQ(status.rc, CMPI_RC_OK);
  EXPECT_EQ(status.msg, nullptr);
  EXPECT_EQ(WSI_CMPIGetFunction(broker, &status, handle, "noSuchFunction"), nullptr);
  EXPECT_TRUE(text(status.msg).starts_with("Unable to find 'noSuchFunction'"));
  WSI_CMPIUnloadLib(broker, &status, handle);
  EXPECT_EQ(status.rc, CMPI_RC_OK);
  EXPECT_EQ(status.msg, nullptr);

  // Records without a library unload nothing and report nothing.
  size_t logs = om->logs().size();
  raiseCMPIError(broker, &status, CMPI_RC_ERR_NOT_FOUND, "kept");
  WSI_CMPIUnloadInstanceImpl(broker, &status, WSIInstanceImpl{});
  WSI_CMPIUnloadSNMPImpl(broker, &status, WSISNMPImpl{});
  EXPECT_EQ(status.rc, CMPI_RC_ERR_NOT_FOUND);
  EXPECT_EQ(om->logs().size(), logs + 1);
}

// A call without a library name or handle makes no system call, so it must
// not report the text of an earlier failure of the thread.
TEST_P(LoaderTest, CallsWithoutALibraryReportNoEarlierSystemText) {
  KELVAStatus kstatus = KELVA_STATUS_INIT;
  EXPECT_EQ(WSILoadLib("libnosuchimpl.so", &kstatus), nullptr);
  const std::string earlier = kstatus.message;
  const std::string stale = earlier.substr(earlier.find("message: ") + 9);
  ASSERT_FALSE(stale.empty());

  EXPECT_EQ(WSILoadLib(nullptr, &kstatus), nullptr);
  EXPECT_EQ(std::string(kstatus.message),
            "Unable to load '', system error message: invalid library name");
  EXPECT_EQ(WSILoadLib("libnosuchimpl.so", &kstatus), nullptr);
  EXPECT_EQ(WSIGetFunction(nullptr, "existsImpl", &kstatus), nullptr);
  EXPECT_EQ(std::string(kstatus.message),
            "Unable to find 'existsImpl', system error message: invalid library handle");
  clearKELVAStatus(&kstatus);

  EXPECT_EQ(WSILoadLib("libnosuchimpl.so", &kstatus), nullptr);
  clearKELVAStatus(&kstatus);
  EXPECT_EQ(WSI_CMPIGetFunction(broker, &status, nullptr, "existsImpl"), nullptr);
  EXPECT_EQ(text(status.msg),
            "Unable to find 'existsImpl', system error message: invalid library handle");
}

// No shared state: many threads load, bind and unload at once, and every
// load is given back.
TEST_P(LoaderTest, ManyThreadsLoadAndUnloadAtOnce) {
  std::vector<std::thread> threads;
  std::vector<int> failures(8, 0);
  for (size_t t = 0; t < failures.size(); ++t) {
    threads.emplace_back([&, t] {
      for (int round = 0; round < 20; ++round) {
        CMPIStatus own{CMPI_RC_OK, nullptr};
        WSIInstanceImpl inst = WSI_CMPILoadInstanceImpl(broker, &own, "implall");
        if (own.rc != CMPI_RC_OK || inst.existsImpl == nullptr) ++failures[t];
        WSI_CMPIUnloadInstanceImpl(broker, &own, inst);
        KELVAStatus kstatus = KELVA_STATUS_INIT;
        WSIInstanceImpl plain = WSILoadInstanceImpl("libviewctlprv.so", &kstatus);
        if (plain.deleteInstanceImpl == nullptr) ++failures[t];
        WSIUnloadInstanceImpl(plain, &kstatus);
        WSIJobImpl missing = WSILoadJobImpl("libnosuchimpl.so", &kstatus);
        if (missing.handle != nullptr || checkStatus(&kstatus) == 0) ++failures[t];
        clearKELVAStatus(&kstatus);
        if (own.msg != nullptr) CMRelease(own.msg);
      }
    });
  }
  for (auto &thread : threads) thread.join();
  EXPECT_EQ(failures, std::vector<int>(failures.size(), 0));
#if !defined(__SANITIZE_THREAD__)
  // ThreadSanitizer keeps instrumented libraries mapped after their last close.
#if !defined(_WIN32)  // which files a process maps is read from /proc/self/maps
  EXPECT_FALSE(isMapped("libimplall.so"));
#endif
  EXPECT_FALSE(isMapped("libviewctlprv.so"));
#endif
}

CIMOM_INSTANTIATE(LoaderTest);

// The plain family needs no broker.
class PlainLoader : public ::testing::Test {
 protected:
  void TearDown() override { clearKELVAStatus(&kstatus); }
  KELVAStatus kstatus = KELVA_STATUS_INIT;
};

TEST_F(PlainLoader, InstanceLibrariesGetSetAndDeleteByTheirFileNames) {
  struct Case {
    const char *fileName;
    bool set;
    bool del;
  };
  for (const Case &c :
       {Case{"libviewctlprv.so", true, true}, Case{"viewctlprv.dll", true, true},
        Case{"libblockvolprv.so", true, false}, Case{"blockvolprv.dll", true, false},
        Case{"BlockVolPrv.dll", false, false}, Case{"libimplall.so", false, false}}) {
    SCOPED_TRACE(c.fileName);
    WSIInstanceImpl inst = WSILoadInstanceImpl(c.fileName, &kstatus);
    ASSERT_EQ(checkStatus(&kstatus), 0) << kstatus.message;
    expectBound(inst.handle, "getInstanceImpl", address(inst.getInstanceImpl));
    expectBound(inst.handle, "enumInstancesImpl", address(inst.enumInstancesImpl));
    expectBound(inst.handle, "enumInstNamesImpl", address(inst.enumInstNamesImpl));
    expectBound(inst.handle, "existsImpl", address(inst.existsImpl));
    // Every fixture has both functions, so only the rule decides; libblockvolprv.so is the
    // real block volume library, which has setInstanceImpl and no deleteInstanceImpl.
    EXPECT_EQ(inst.setInstanceImpl != nullptr, c.set);
    EXPECT_EQ(inst.deleteInstanceImpl != nullptr, c.del);
    if (c.set) expectBound(inst.handle, "setInstanceImpl", address(inst.setInstanceImpl));
    if (c.del) expectBound(inst.handle, "deleteInstanceImpl", address(inst.deleteInstanceImpl));
    WSIUnloadInstanceImpl(inst, &kstatus);
    EXPECT_EQ(checkStatus(&kstatus), 0);
  }
  EXPECT_FALSE(isMapped("libviewctlprv.so"));
  EXPECT_FALSE(isMapped("libblockvolprv.so"));
}

TEST_F(PlainLoader, EachLoaderBindsItsSlice) {
  WSIMethodImpl method = WSILoadMethodImpl("libimplall.so", &kstatus);
  expectBound(method.handle, "invokeMethodImpl", address(method.invokeMethodImpl));
  WSIAssocImpl assoc = WSILoadAssocImpl("libimplall.so", &kstatus);
  expectBound(assoc.handle, "getAssociatorPathImpl", address(assoc.getAssociatorPathImpl));
  expectBound(assoc.handle, "getAssociatorInstanceImpl", address(assoc.getAssociatorInstanceImpl));
  WSIIndImpl ind = WSILoadIndImpl("libimplall.so", &kstatus);
  expectBound(ind.handle, "enumIndElements", address(ind.enumIndElements));
  expectBound(ind.handle, "freeIndElements", address(ind.freeIndElements));
  expectBound(ind.handle, "newInstanceFromIndElement", address(ind.newInstanceFromIndElement));
  expectBound(ind.handle, "compareIndElements", address(ind.compareIndElements));
  EXPECT_EQ(ind.compareIndElements(nullptr, nullptr, 1), 1);
  WSIJobImpl job = WSILoadJobImpl("libimplall.so", &kstatus);
  expectBound(job.handle, "getJobUpdate", address(job.getJobUpdate));
  WSIJobServiceImpl service = WSILoadJobServiceImpl(&kstatus);
  expectBound(service.handle, "trackJobStateChanges", address(service.trackJobStateChanges));
  expectBound(service.handle, "getJobInstance", address(service.getJobInstance));
  expectBound(service.handle, "addJobInstance", address(service.addJobInstance));
  expectBound(service.handle, "getJobInstances", address(service.getJobInstances));
  expectBound(service.handle, "getJobProgressInstances", address(service.getJobProgressInstances));
  expectBound(service.handle, "freeJobInstance", address(service.freeJobInstance));
  expectBound(service.handle, "freeJobInstanceList", address(service.freeJobInstanceList));
  EXPECT_EQ(service.addJobInstance(nullptr, nullptr, nullptr, nullptr), 7);  // tasksvcprv's mark
  EXPECT_EQ(checkStatus(&kstatus), 0) << kstatus.message;

  WSIUnloadMethodImpl(method, &kstatus);
  WSIUnloadAssocImpl(assoc, &kstatus);
  WSIUnloadIndImpl(ind, &kstatus);
  WSIUnloadJobImpl(job, &kstatus);
  WSIUnloadJobServiceImpl(service, &kstatus);
  EXPECT_EQ(checkStatus(&kstatus), 0);
#if !defined(_WIN32)  // which files a process maps is read from /proc/self/maps
  EXPECT_FALSE(isMapped("libimplall.so"));
#endif
}

TEST_F(PlainLoader, FailuresLeaveTheirMessageAndNoLibrary) {
  WSIJobImpl job = WSILoadJobImpl("libnosuchimpl.so", &kstatus);
  EXPECT_EQ(job.handle, nullptr);
  ASSERT_NE(checkStatus(&kstatus), 0);
  std::string message = kstatus.message;
  const std::string prefix = "Unable to load 'libnosuchimpl.so', system error message: ";
  EXPECT_TRUE(message.starts_with(prefix)) << message;
  EXPECT_GT(message.size(), prefix.size());

  WSIInstanceImpl inst = WSILoadInstanceImpl("libimplnoexists.so", &kstatus);
  EXPECT_EQ(inst.handle, nullptr);
  EXPECT_EQ(inst.getInstanceImpl, nullptr);
  EXPECT_TRUE(std::string(kstatus.message)
                  .starts_with("Unable to find 'existsImpl', system error message: "))
      << kstatus.message;
  EXPECT_FALSE(isMapped("libimplnoexists.so"));

  // Unloading a record without a library leaves the status as it was.
  WSIUnloadInstanceImpl(WSIInstanceImpl{}, &kstatus);
  WSIUnloadJobServiceImpl(WSIJobServiceImpl{}, &kstatus);
  EXPECT_NE(checkStatus(&kstatus), 0);
  EXPECT_TRUE(std::string(kstatus.message).starts_with("Unable to find 'existsImpl'"));

  EXPECT_EQ(WSIUnloadLib(nullptr, &kstatus), 0);
  EXPECT_TRUE(
      std::string(kstatus.message).starts_with("Unable to unload library, system error message: "));
}

}  // namespace
