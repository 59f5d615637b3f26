// Job support.  Built twice: jobs_test runs with the fixture libraries on the
// search path, so the job service is bound when provkit is loaded;
// jobs_late_test (PK_JOB_SERVICE_HIDDEN) runs without them, so the binding
// fails at load and must succeed later, once the library has been loaded into
// the process by its absolute path (the system then finds it by its name).
#include <cimom/cimom.h>
#include <cimom/testing.h>
#include <cmpimacs.h>
#include <gtest/gtest.h>
#include <provkit/frame.h>
#include <provkit/jobs.h>
#include <provkit/objectpath.h>

#include <atomic>
#include <cstdlib>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "platform/platform.h"
#include "support.h"

namespace {

using pktest::text;

using pktest::isMapped;

class JobsTest : public cimom::testing::ObjectManagerTest {
 protected:
  void TearDown() override {
    clearCMPIError(broker, &status);
    ObjectManagerTest::TearDown();
  }
  // A request's path: namespace root/kelva on host "cimhost".
  CMPIObjectPath *requestPath() {
    CMPIObjectPath *path = CMNewObjectPath(broker, "root/kelva", "KELVA_StorageSystem", nullptr);
    CMSetHostname(path, "cimhost");
    return path;
  }

  CMPIStatus status{CMPI_RC_OK, nullptr};
};

#if !defined(PK_JOB_SERVICE_HIDDEN)

TEST(JobService, IsBoundAtLoadAndShared) {
#if defined(_WIN32)
  GTEST_SKIP() << "which libraries a process has mapped is read from /proc/self/maps";
#endif
  EXPECT_TRUE(isMapped("libtasksvcprv.so"));
  KELVAStatus record = KELVA_STATUS_INIT;
  WSIJobServiceImpl *service = getJobServiceImpl(&record);
  ASSERT_NE(service, nullptr);
  EXPECT_EQ(checkStatus(&record), 0);
  EXPECT_NE(service->handle, nullptr);
  EXPECT_NE(service->freeJobInstanceList, nullptr);
  EXPECT_EQ(service->addJobInstance(nullptr, nullptr, nullptr, nullptr), 7);
  EXPECT_EQ(getJobServiceImpl(&record), service);
}

TEST(JobLifetime, ComesFromTheEnvironmentWithinItsRange) {
  unsetenv("JOB_LIFETIME_SEC");
  EXPECT_EQ(getConcreteJobLifetime(), 3600u);
  for (auto [value, expected] : {std::pair{"86400", 86400u},
                                 {"3600", 3600u},
                                 {"7200", 7200u},
                                 {"86401", 3600u},
                                 {"3599", 3600u},
                                 {"-5", 3600u},
                                 {"abc", 3600u},
                                 {"", 3600u}}) {
    setenv("JOB_LIFETIME_SEC", value, 1);
    EXPECT_EQ(getConcreteJobLifetime(), expected) << value;
  }
  unsetenv("JOB_LIFETIME_SEC");
}

TEST_P(JobsTest, JobPathsTakeTheRequestsNamespaceAndHost) {
  CMPIObjectPath *source = requestPath();
  CMPIObjectPath *job = createJobObjectPath(broker, source, "KELVA:job-17", &status);
  ASSERT_NE(job, nullptr) << text(status.msg);
  EXPECT_EQ(status.rc, CMPI_RC_OK);
  EXPECT_EQ(cimom::objectPathText(job), "root/kelva:KELVA_ConcreteJob.InstanceID=\"KELVA:job-17\"");
  CMPIString *host = CMGetHostname(job, nullptr);
  EXPECT_EQ(text(host), "cimhost");
  CMRelease(host);
  CMRelease(job);
  CMRelease(source);
}

TEST_P(JobsTest, AFailedStepLeavesItsStatusAndNoPath) {
  CMPIObjectPath *source = requestPath();
  for (const char *function :
       {"ObjectPath.getNameSpace", "BrokerEnc.newObjectPath",
        "ObjectPath.setHostAndNameSpaceFromObjectPath", "ObjectPath.addKey"}) {
    SCOPED_TRACE(function);
    om->inject({function, 1, CMPI_RC_ERR_INVALID_NAMESPACE});
    EXPECT_EQ(createJobObjectPath(broker, source, "KELVA:job", &status), nullptr);
    EXPECT_EQ(status.rc, CMPI_RC_ERR_INVALID_NAMESPACE);
    om->clearFaults();
    clearCMPIError(broker, &status);
  }
  // A namespace that comes back empty-handed is the library's own error.
  om->inject({"ObjectPath.getNameSpace", 1, CMPI_RC_OK});
  EXPECT_EQ(createJobObjectPath(broker, source, "KELVA:job", &status), nullptr);
  EXPECT_EQ(text(status.msg), "Namespace is NULL");
  om->inject({"String.getCharPtr", 1, CMPI_RC_OK});
  char *nameSpace = getNamespaceAsChar(broker, source, &status);
  EXPECT_EQ(nameSpace, nullptr);
  EXPECT_EQ(text(status.msg), "Could not get Namespace as char");

  // Nothing is attempted on a status that already holds an error.
  unsigned calls = om->callCount("BrokerEnc.newObjectPath");
  EXPECT_EQ(createCMPIObjectPath(broker, &status, source, "KELVA_ConcreteJob"), nullptr);
  EXPECT_EQ(om->callCount("BrokerEnc.newObjectPath"), calls);
  CMRelease(source);
}

CIMOM_INSTANTIATE(JobsTest);

#else

TEST(JobService, MissingAtLoadIsRetriedOnEachRequest) {
  EXPECT_FALSE(isMapped("libtasksvcprv.so"));
  KELVAStatus record = KELVA_STATUS_INIT;
  for (int attempt = 0; attempt < 2; ++attempt) {
    EXPECT_EQ(getJobServiceImpl(&record), nullptr);
    ASSERT_NE(checkStatus(&record), 0);
    EXPECT_TRUE(std::string(record.message)
                    .starts_with("Unable to load '" + pk::platform::libraryFileName("tasksvcprv") +
                                 "', system error message: "))
        << record.message;
    clearKELVAStatus(&record);
  }

  // Once the library is in the process, the job service binds to it by name.
  void *ours = pk::platform::libraryOpen(PK_TASKSVC_PATH);
  ASSERT_NE(ours, nullptr) << pk::platform::lastLibraryError();
  WSIJobServiceImpl *service = getJobServiceImpl(&record);
  ASSERT_NE(service, nullptr) << record.message;
  EXPECT_EQ(checkStatus(&record), 0);
  EXPECT_EQ(service->addJobInstance(nullptr, nullptr, nullptr, nullptr), 7);
  EXPECT_EQ(getJobServiceImpl(&record), service);
  pk::platform::libraryUnload(ours);
}

// Providers ask for the job service, build job paths and read the lifetime
// from many threads at once; all share the one binding (or, without the
// library, each retries it under the job mutex).
TEST_P(JobsTest, ManyThreadsShareTheJobService) {
#if defined(_WIN32) && defined(PK_JOB_SERVICE_HIDDEN)
  GTEST_SKIP() << "Windows finds a library that an earlier test loaded by its path by its "
                  "name for as long as the process runs, so the service is no longer missing";
#endif
  CMPIObjectPath *source = requestPath();
  std::atomic<bool> go{false};
  std::vector<WSIJobServiceImpl *> seen(8, nullptr);
  std::vector<int> failures(seen.size(), 0);
  std::vector<std::thread> threads;
  for (size_t t = 0; t < seen.size(); ++t) {
    threads.emplace_back([&, t] {
      while (!go.load()) std::this_thread::yield();
      for (int round = 0; round < 20; ++round) {
        KELVAStatus record = KELVA_STATUS_INIT;
        WSIJobServiceImpl *service = getJobServiceImpl(&record);
        if (round == 0) seen[t] = service;
        if (service != seen[t] || (service == nullptr) != (checkStatus(&record) != 0))
          ++failures[t];
        clearKELVAStatus(&record);
        CMPIStatus own{CMPI_RC_OK, nullptr};
        CMPIObjectPath *path = createJobObjectPath(broker, source, "KELVA:job", &own);
        if (path == nullptr) ++failures[t];
        if (path != nullptr) CMRelease(path);
        if (getConcreteJobLifetime() < 3600u) ++failures[t];
      }
    });
  }
  go.store(true);
  for (auto &thread : threads) thread.join();
  EXPECT_EQ(failures, std::vector<int>(seen.size(), 0));
#if defined(PK_JOB_SERVICE_HIDDEN)
  EXPECT_EQ(seen, std::vector<WSIJobServiceImpl *>(seen.size(), nullptr));
#else
  EXPECT_NE(seen[0], nullptr);
  EXPECT_EQ(seen, std::vector<WSIJobServiceImpl *>(seen.size(), seen[0]));
#endif
  CMRelease(source);
}

TEST_P(JobsTest, AMissingTrapListenerIsACmpiError) {
  WSISNMPImpl snmp = WSI_CMPILoadSNMPImpl(broker, &status);
  EXPECT_EQ(snmp.handle, nullptr);
  EXPECT_EQ(snmp.SNMPTrapSubscribe, nullptr);
  EXPECT_EQ(status.rc, CMPI_RC_ERR_FAILED);
  EXPECT_TRUE(
      text(status.msg)
          .starts_with("Unable to load '" + pk::platform::libraryFileName("trapsinkprv") + "'"))
      << text(status.msg);
}

CIMOM_INSTANTIATE(JobsTest);

#endif

}  // namespace
