// Test-only entry points of the storage system area: not part of the C
// interface and never named in a public header.
#pragma once

#include <cmpidt.h>
#include <cmpift.h>

#include <cstdint>

#include "platform/platform.h"

namespace pk::testing {
// Ends the trap subscription and forgets that it was ever made, so that the
// next storage system request subscribes again.
PK_TEST_HOOK void resetStorageSystemHealth(const CMPIBroker *broker);
// Points provkit's reverse lookups at the DNS server at address:port (an empty
// address: the system's servers again).
PK_TEST_HOOK void useDnsServer(const char *address, uint16_t port);
}  // namespace pk::testing
