// Connection records and their secrets: a password must not stay readable in the
// heap once its connection is destroyed.  The test replaces the global allocation
// functions so that it sees every block the library gives back.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string>

#include "wbemkelvai/wsiapi.h"

namespace {

std::atomic<bool> watching{false};
std::atomic<int> secretsFreed{0};
char secret[64];

void inspect(const void *block, std::size_t size) {
  if (!watching.load()) return;
  const char *begin = static_cast<const char *>(block);
  size_t length = std::strlen(secret);
  if (std::search(begin, begin + size, secret, secret + length) != begin + size) ++secretsFreed;
}

}  // namespace

void *operator new(std::size_t size) {
  void *block = std::malloc(size != 0 ? size : 1);
  if (block == nullptr) throw std::bad_alloc();
  return block;
}
void *operator new(std::size_t size, const std::nothrow_t &) noexcept {
  return std::malloc(size != 0 ? size : 1);
}
void operator delete(void *block) noexcept { std::free(block); }
void operator delete(void *block, const std::nothrow_t &) noexcept { std::free(block); }
void operator delete(void *block, std::size_t size) noexcept {
  if (block != nullptr) inspect(block, size);
  std::free(block);
}

namespace {

// Destroys a connection made with the host and password while watching for the
// secret in what is freed.
int secretsLeftBy(const char *host, const char *password, const char *watched) {
  std::strncpy(secret, watched, sizeof secret - 1);
  WSIServerInfo *server = createServerInfo(host, "root", password, 5, 0, 0);
  EXPECT_NE(server, nullptr);
  secretsFreed = 0;
  watching = true;
  destroyServerInfo(server);
  watching = false;
  return secretsFreed.load();
}

TEST(Connections, PasswordsAreWipedBeforeTheirMemoryIsFreed) {
#if defined(_WIN32)
  GTEST_SKIP() << "each Windows DLL has its own C++ runtime, so the operator delete that this "
                  "program replaces never sees the controller library's frees";
#endif
  // A long one lives in a block of its own, a short one inside the record.
  const char *longPassword = "a-long-password-that-needs-its-own-block";
  EXPECT_EQ(secretsLeftBy("filer.test", longPassword, longPassword), 0);
  EXPECT_EQ(secretsLeftBy("filer.test", "Sh0rt!pw", "Sh0rt!pw"), 0);
  // The watch itself works: the host name, no secret, is freed as it was.
  const char *longHost = "a-long-host-name-that-needs-its-own-block.example";
  EXPECT_GT(secretsLeftBy(longHost, longPassword, longHost), 0);
}

}  // namespace
