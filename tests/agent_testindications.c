/* An indication provider for the agent's watch command: when the object manager enables
 * its indications it delivers one CIM_InstCreation at once, whose source instance is a
 * KELVA_TestElement "one".  It keeps no thread and releases what it makes. */
#include <cmpimacs.h>

static const CMPIBroker *broker;

static CMPIStatus ok(void) {
  CMPIStatus st = {CMPI_RC_OK, NULL};
  return st;
}

static CMPIStatus TestIndicationIndicationCleanup(CMPIIndicationMI *mi, const CMPIContext *ctx,
                                                  CMPIBoolean terminating) {
  (void)mi, (void)ctx, (void)terminating;
  return ok();
}
static CMPIStatus TestIndicationAuthorizeFilter(CMPIIndicationMI *mi, const CMPIContext *ctx,
                                                const CMPISelectExp *filter, const char *cls,
                                                const CMPIObjectPath *op, const char *owner) {
  (void)mi, (void)ctx, (void)filter, (void)cls, (void)op, (void)owner;
  return ok();
}
static CMPIStatus TestIndicationMustPoll(CMPIIndicationMI *mi, const CMPIContext *ctx,
                                         const CMPISelectExp *filter, const char *cls,
                                         const CMPIObjectPath *op) {
  (void)mi, (void)ctx, (void)filter, (void)cls, (void)op;
  return ok();
}
static CMPIStatus TestIndicationActivateFilter(CMPIIndicationMI *mi, const CMPIContext *ctx,
                                               const CMPISelectExp *filter, const char *cls,
                                               const CMPIObjectPath *op, CMPIBoolean first) {
  (void)mi, (void)ctx, (void)filter, (void)cls, (void)op, (void)first;
  return ok();
}
static CMPIStatus TestIndicationDeActivateFilter(CMPIIndicationMI *mi, const CMPIContext *ctx,
                                                 const CMPISelectExp *filter, const char *cls,
                                                 const CMPIObjectPath *op, CMPIBoolean last) {
  (void)mi, (void)ctx, (void)filter, (void)cls, (void)op, (void)last;
  return ok();
}
static CMPIStatus TestIndicationEnableIndications(CMPIIndicationMI *mi, const CMPIContext *ctx) {
  CMPIStatus st = {CMPI_RC_OK, NULL};
  CMPIObjectPath *indicationPath;
  CMPIObjectPath *sourcePath;
  CMPIInstance *indication;
  CMPIInstance *source;
  (void)mi;
  indicationPath = CMNewObjectPath(broker, "root/kelva", "CIM_InstCreation", &st);
  sourcePath = CMNewObjectPath(broker, "root/kelva", "KELVA_TestElement", &st);
  if (indicationPath == NULL || sourcePath == NULL) goto done;
  CMAddKey(sourcePath, "Name", "one", CMPI_chars);
  indication = CMNewInstance(broker, indicationPath, &st);
  source = CMNewInstance(broker, sourcePath, &st);
  if (indication != NULL && source != NULL) {
    CMSetProperty(source, "Name", "one", CMPI_chars);
    CMSetProperty(indication, "SourceInstance", &source, CMPI_instance);
    st = CBDeliverIndication(broker, ctx, "root/kelva", indication);
  }
  if (indication != NULL) CMRelease(indication);
  if (source != NULL) CMRelease(source);
done:
  if (indicationPath != NULL) CMRelease(indicationPath);
  if (sourcePath != NULL) CMRelease(sourcePath);
  return st;
}
static CMPIStatus TestIndicationDisableIndications(CMPIIndicationMI *mi, const CMPIContext *ctx) {
  (void)mi, (void)ctx;
  return ok();
}

CMIndicationMIStub(TestIndication, AgentTestIndicationProvider, broker, CMNoHook)
