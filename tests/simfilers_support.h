// Registers the default scenario's simulated filers in provkit's registry, as the agent
// and the implementation libraries' tests serve them.
#pragma once

#include <provkit/registry.h>
#include <wbemkelvai/wsiapi.h>

#include "filersim/filersim.h"
#include "registry_support.h"

namespace regtest {

// Adds kelva-a and kelva-b of the simulator, reached in process; the first refusal's
// code, or CMPI_RC_OK.
inline CMPIrc addSimulatedFilers(const filersim::Simulator &sim) {
  for (const char *name : {"kelva-a", "kelva-b"}) {
    auto *filer = static_cast<Filer *>(wsicalloc(1, sizeof(Filer)));
    filer->systemId = wsistrdup(sim.systemId(name).c_str());
    filer->host = wsistrdup(sim.host(name).c_str());
    filer->userName = wsistrdup(sim.userName(name).c_str());
    filer->password = wsistrdup(sim.password(name).c_str());
    filer->connParam3 = 5;
    CMPIrc rc = add(filer);
    if (rc != CMPI_RC_OK) return rc;
  }
  return CMPI_RC_OK;
}

}  // namespace regtest
