/* Indications of KELVA_StorageVolume: provkit's indication machine polls every registered filer's
 * LUNs through the volume indication library and delivers CIM_InstCreation, CIM_InstDeletion and
 * CIM_InstModification as LUNs come, go and change.  The machine lives as long as the provider. */
#include <provkit/frame.h>
#include <provkit/indications.h>

#include "shell.h"

#define IMPLIB PK_IMPLIB("storagevolind")
/* The filers announce nothing, so every cycle of the machine (a minute) polls them all; the
 * first cycle only takes the base of the comparison. */
#define POLL_SECONDS 0

static const CMPIBroker *broker;
static IndMachine machine;
static int started;

/* The object manager may ask for the MI more than once; the machine starts the first time. */
static void startMachine(CMPIStatus *rc) {
  CMPIStatus status;
  if (started) return;
  machine.implLibrary = IMPLIB;
  machine.supportedQueries = NULL;
  machine.supportedTypes = PK_IND_CREATE | PK_IND_DELETE | PK_IND_MODIFY;
  machine.pollInterval = POLL_SECONDS;
  status = startIndMachine(broker, &machine);
  if (status.rc == CMPI_RC_OK) started = 1;
  if (rc != NULL) {
    *rc = status;
  } else if (status.msg != NULL) {
    CMRelease(status.msg);
  }
}

static CMPIStatus KELVA_StorageVolumeIndicationProviderIndicationCleanup(CMPIIndicationMI *mi,
                                                                         const CMPIContext *ctx,
                                                                         CMPIBoolean terminating) {
  (void)mi;
  (void)ctx;
  (void)terminating;
  if (!started) return shellOk();
  started = 0;
  return stopIndMachine(broker, &machine);
}

static CMPIStatus KELVA_StorageVolumeIndicationProviderAuthorizeFilter(
    CMPIIndicationMI *mi, const CMPIContext *ctx, const CMPISelectExp *filter,
    const char *className, const CMPIObjectPath *classPath, const char *owner) {
  CMPIStatus status = {CMPI_RC_OK, NULL};
  (void)mi;
  (void)owner;
  wsiauthorize(broker, ctx, filter, className, classPath, &machine, &status);
  return status;
}

static CMPIStatus KELVA_StorageVolumeIndicationProviderMustPoll(CMPIIndicationMI *mi,
                                                                const CMPIContext *ctx,
                                                                const CMPISelectExp *filter,
                                                                const char *className,
                                                                const CMPIObjectPath *classPath) {
  (void)mi;
  (void)ctx;
  (void)filter;
  (void)className;
  (void)classPath;
  /* The provider polls by itself. */
  return shellNotSupported(broker, "KELVA_StorageVolume indications are polled by the provider");
}

static CMPIStatus KELVA_StorageVolumeIndicationProviderActivateFilter(
    CMPIIndicationMI *mi, const CMPIContext *ctx, const CMPISelectExp *filter,
    const char *className, const CMPIObjectPath *classPath, CMPIBoolean firstActivation) {
  CMPIStatus status = {CMPI_RC_OK, NULL};
  (void)mi;
  wsiactivate(broker, ctx, filter, className, classPath, firstActivation, &machine, &status);
  return status;
}

static CMPIStatus KELVA_StorageVolumeIndicationProviderDeActivateFilter(
    CMPIIndicationMI *mi, const CMPIContext *ctx, const CMPISelectExp *filter,
    const char *className, const CMPIObjectPath *classPath, CMPIBoolean lastActivation) {
  CMPIStatus status = {CMPI_RC_OK, NULL};
  (void)mi;
  wsideactivate(broker, ctx, filter, className, classPath, lastActivation, &machine, &status);
  return status;
}

static CMPIStatus KELVA_StorageVolumeIndicationProviderEnableIndications(CMPIIndicationMI *mi,
                                                                         const CMPIContext *ctx) {
  (void)mi;
  (void)ctx;
  wsienable(broker, &machine);
  return shellOk();
}

static CMPIStatus KELVA_StorageVolumeIndicationProviderDisableIndications(CMPIIndicationMI *mi,
                                                                          const CMPIContext *ctx) {
  (void)mi;
  (void)ctx;
  wsidisable(broker, &machine);
  return shellOk();
}

CMIndicationMIStub(KELVA_StorageVolumeIndicationProvider, KELVA_StorageVolumeIndicationProvider,
                   broker, initProvkit(broker);
                   startMachine(rc))
