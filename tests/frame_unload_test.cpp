// provkit loaded and unloaded at run time, as an object manager does with a
// provider: the unload takes back the diagnostic sinks it gave the controller
// library, which outlives it in the process.
#include <cimom/cimom.h>
#include <cimom/testing.h>
#include <gtest/gtest.h>
#include <wbemkelvai/wsiapi.h>

#include <thread>

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

CIMOM_INSTANTIATE(FrameUnloadTest);

}  // namespace
