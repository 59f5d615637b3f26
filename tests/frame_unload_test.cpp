// provkit loaded and unloaded at run time, as an object manager does with a
// provider: the unload takes back the diagnostic sinks it gave the controller
// library, which outlives it in the process.
#include <cimom/cimom.h>
#include <cimom/testing.h>
#include <gtest/gtest.h>
#include <wbemkelvai/wsiapi.h>

#include <atomic>
#include <memory>
#include <thread>
#include <vector>

#include "platform/platform.h"
#include "support.h"

namespace {

int refuseEverything(void *, const char *, const char *, const char *, size_t, long,
                     WSIAnswerWriter, void *) {
  return 0;
}

class FrameUnloadTest : public cimom::testing::ObjectManagerTest {};

TEST_P(FrameUnloadTest, UnloadTakesBackTheDiagnosticSinks) {
  // Loaded on a thread of its own: a library whose thread-local objects
  // still live on some thread stays mapped until that thread ends, and
  // provkit's load sets the loading thread's last library error.
  void *library = nullptr;
  std::thread([&] {
    library = pk::platform::libraryOpen(PROVKIT_LIBRARY);
    if (library == nullptr) return;
    using Init = void (*)(const CMPIBroker *);
    auto init = reinterpret_cast<Init>(pk::platform::librarySymbol(library, "initProvkit"));
    if (init != nullptr) init(broker);
  }).join();
  ASSERT_NE(library, nullptr);

  // Registering an in-process filer is one of the controller library's traces.
  ASSERT_EQ(wsiRegisterInProcessFiler("unload.example", refuseEverything, nullptr), 1);
  EXPECT_EQ(om->traces().size(), 1u);
  wsiUnregisterInProcessFiler("unload.example");

  ASSERT_TRUE(pk::platform::libraryUnload(library));
  ASSERT_FALSE(pktest::isMapped(PROVKIT_FILE_NAME)) << "provkit stayed loaded";
  om->clearRecords();
  // Nothing may call into the unloaded code (a crash) or reach the broker.
  ASSERT_EQ(wsiRegisterInProcessFiler("unload.example", refuseEverything, nullptr), 1);
  EXPECT_TRUE(om->traces().empty());
  wsiUnregisterInProcessFiler("unload.example");
}

// Providers of one object manager hand provkit their brokers from many
// threads at once: exactly one broker is stored and receives the controller
// library's diagnostics.  provkit is loaded afresh, so that no earlier test
// of the process has stored a broker already.
TEST_P(FrameUnloadTest, ManyThreadsInitAtOnce) {
  using Init = void (*)(const CMPIBroker *);
  void *library = nullptr;
  Init init = nullptr;
  std::thread([&] {
    library = pk::platform::libraryOpen(PROVKIT_LIBRARY);
    if (library != nullptr)
      init = reinterpret_cast<Init>(pk::platform::librarySymbol(library, "initProvkit"));
  }).join();
  ASSERT_NE(init, nullptr);

  std::vector<std::unique_ptr<cimom::ObjectManager>> managers;
  managers.reserve(8);
  for (int i = 0; i < 8; ++i) managers.push_back(cimom::create());
  std::atomic<bool> go{false};
  std::vector<std::thread> threads;
  for (auto &manager : managers) {
    const CMPIBroker *given = manager->broker();
    threads.emplace_back([&, given] {
      while (!go.load()) std::this_thread::yield();
      init(given);
      init(nullptr);
    });
  }
  go.store(true);
  for (auto &thread : threads) thread.join();

  ASSERT_EQ(wsiRegisterInProcessFiler("init.example", refuseEverything, nullptr), 1);
  wsiUnregisterInProcessFiler("init.example");
  size_t receivers = 0;
  for (auto &manager : managers) receivers += manager->traces().empty() ? 0 : 1;
  EXPECT_EQ(receivers, 1u);
  ASSERT_TRUE(pk::platform::libraryUnload(library));
}

CIMOM_INSTANTIATE(FrameUnloadTest);

}  // namespace
