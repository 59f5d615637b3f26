/* KELVA_ConcretePoolStorageCapabilities: CreateSetting on a pool's capabilities, from the pool
 * capabilities library, which gives the path of the setting that the pool's row describes. */
#include <provkit/frame.h>
#include <provkit/operations.h>

#include "shell.h"

#define IMPLIB PK_IMPLIB("poolcapsprv")

static const CMPIBroker *broker;

SHELL_CLEANUP(KELVA_ConcretePoolCapabilitiesProviderMethodCleanup, CMPIMethodMI)

static CMPIStatus KELVA_ConcretePoolCapabilitiesProviderInvokeMethod(
    CMPIMethodMI *mi, const CMPIContext *ctx, const CMPIResult *rslt, const CMPIObjectPath *ref,
    const char *method, const CMPIArgs *in, CMPIArgs *out) {
  (void)mi;
  return invokeProviderMethod(broker, ctx, rslt, ref, method, in, out, IMPLIB);
}

CMMethodMIStub(KELVA_ConcretePoolCapabilitiesProvider, KELVA_ConcretePoolCapabilitiesProvider,
               broker, initProvkit(broker))
