// A second process for the registry tests: adds filers to the registry of
// the data directory it is given, with an object manager of its own.
//   registry_peer <data directory> <id prefix> <count>
// Exits 0 when every add succeeded.
#include <cstdio>
#include <cstdlib>
#include <string>

#include "registry_support.h"

int main(int argc, char **argv) {
  if (argc != 4) {
    std::fprintf(stderr, "usage: registry_peer DIR PREFIX COUNT\n");
    return 2;
  }
  setenv(WSI_DATA_DIR_ENV, argv[1], 1);
  auto manager = cimom::create();
  regtest::currentBroker() = manager->broker();
  int failures = 0;
  for (int i = 0, n = std::atoi(argv[3]); i < n; ++i) {
    Filer *filer = regtest::newFiler(std::string(argv[2]) + "-" + std::to_string(i));
    regtest::Status status(addFilerToList(manager->broker(), filer));
    if (status.s.rc != CMPI_RC_OK) {
      std::fprintf(stderr, "add %d: %s\n", i, status.message().c_str());
      freeFiler(filer);
      ++failures;
    }
  }
  pk::testing::resetFilerRegistry(manager->broker());
  return failures == 0 ? 0 : 1;
}
