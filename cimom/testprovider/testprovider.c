/*
 * A provider written against the CMPI headers alone, so the object manager's
 * up-calls can be followed end to end: KELVA_TestElement has the instances
 * "one" and "two" (key Name, property Value 1 and 2) and the methods Echo
 * (returns its Text argument as out argument and the value 0) and Fail.
 * It releases everything it makes, so a leak seen by a test is the object
 * manager's.
 */
#include <cmpimacs.h>
#include <string.h>

static const CMPIBroker *broker;

static const char *const kNames[] = {"one", "two"};
#define NAME_COUNT 2

static CMPIObjectPath *makePath(const CMPIObjectPath *ref, const char *name, CMPIStatus *st) {
  CMPIString *ns = CMGetNameSpace(ref, NULL);
  CMPIObjectPath *op =
      CMNewObjectPath(broker, ns != NULL ? CMGetCharPtr(ns) : "", "KELVA_TestElement", st);
  if (op != NULL) CMAddKey(op, "Name", name, CMPI_chars);
  return op;
}

static CMPIStatus returnElement(const CMPIResult *rslt, const CMPIObjectPath *ref, int index,
                                int namesOnly, const char **properties) {
  CMPIStatus st = {CMPI_RC_OK, NULL};
  CMPIObjectPath *op = makePath(ref, kNames[index], &st);
  CMPIInstance *inst;
  CMPIUint32 value = (CMPIUint32)(index + 1);
  const char *keys[] = {"Name", NULL};
  if (op == NULL) return st;
  if (namesOnly) {
    st = CMReturnObjectPath(rslt, op);
    CMRelease(op);
    return st;
  }
  inst = CMNewInstance(broker, op, &st);
  CMRelease(op);
  if (inst == NULL) return st;
  CMSetPropertyFilter(inst, properties, keys);
  CMSetProperty(inst, "Name", kNames[index], CMPI_chars);
  CMSetProperty(inst, "Value", &value, CMPI_uint32);
  st = CMReturnInstance(rslt, inst);
  CMRelease(inst);
  return st;
}

static int indexOf(const CMPIObjectPath *op) {
  int i;
  CMPIData key = CMGetKey(op, "Name", NULL);
  if (key.state & CMPI_nullValue || key.type != CMPI_string) return -1;
  for (i = 0; i < NAME_COUNT; ++i) {
    if (strcmp(CMGetCharPtr(key.value.string), kNames[i]) == 0) return i;
  }
  return -1;
}

static CMPIStatus TestElementCleanup(CMPIInstanceMI *mi, const CMPIContext *ctx,
                                     CMPIBoolean terminating) {
  (void)mi, (void)ctx, (void)terminating;
  CMReturn(CMPI_RC_OK);
}

static CMPIStatus enumerate(const CMPIResult *rslt, const CMPIObjectPath *ref, int namesOnly,
                            const char **properties) {
  int i;
  for (i = 0; i < NAME_COUNT; ++i) {
    CMPIStatus st = returnElement(rslt, ref, i, namesOnly, properties);
    if (st.rc != CMPI_RC_OK) return st;
  }
  CMReturnDone(rslt);
  CMReturn(CMPI_RC_OK);
}

static CMPIStatus TestElementEnumInstanceNames(CMPIInstanceMI *mi, const CMPIContext *ctx,
                                               const CMPIResult *rslt, const CMPIObjectPath *ref) {
  (void)mi, (void)ctx;
  return enumerate(rslt, ref, 1, NULL);
}

static CMPIStatus TestElementEnumInstances(CMPIInstanceMI *mi, const CMPIContext *ctx,
                                           const CMPIResult *rslt, const CMPIObjectPath *ref,
                                           const char **properties) {
  (void)mi, (void)ctx;
  return enumerate(rslt, ref, 0, properties);
}

static CMPIStatus TestElementGetInstance(CMPIInstanceMI *mi, const CMPIContext *ctx,
                                         const CMPIResult *rslt, const CMPIObjectPath *op,
                                         const char **properties) {
  int index = indexOf(op);
  CMPIStatus st;
  (void)mi, (void)ctx;
  if (index < 0) CMReturnWithChars(broker, CMPI_RC_ERR_NOT_FOUND, "KELVA_TestElement not found");
  st = returnElement(rslt, op, index, 0, properties);
  if (st.rc == CMPI_RC_OK) CMReturnDone(rslt);
  return st;
}

static CMPIStatus TestElementCreateInstance(CMPIInstanceMI *mi, const CMPIContext *ctx,
                                            const CMPIResult *rslt, const CMPIObjectPath *op,
                                            const CMPIInstance *inst) {
  (void)mi, (void)ctx, (void)rslt, (void)op, (void)inst;
  CMReturn(CMPI_RC_ERR_NOT_SUPPORTED);
}

static CMPIStatus TestElementModifyInstance(CMPIInstanceMI *mi, const CMPIContext *ctx,
                                            const CMPIResult *rslt, const CMPIObjectPath *op,
                                            const CMPIInstance *inst, const char **properties) {
  (void)mi, (void)ctx, (void)rslt, (void)op, (void)inst, (void)properties;
  CMReturn(CMPI_RC_ERR_NOT_SUPPORTED);
}

static CMPIStatus TestElementDeleteInstance(CMPIInstanceMI *mi, const CMPIContext *ctx,
                                            const CMPIResult *rslt, const CMPIObjectPath *op) {
  (void)mi, (void)ctx, (void)rslt, (void)op;
  CMReturn(CMPI_RC_ERR_NOT_SUPPORTED);
}

static CMPIStatus TestElementExecQuery(CMPIInstanceMI *mi, const CMPIContext *ctx,
                                       const CMPIResult *rslt, const CMPIObjectPath *op,
                                       const char *query, const char *lang) {
  (void)mi, (void)ctx, (void)rslt, (void)op, (void)query, (void)lang;
  CMReturn(CMPI_RC_ERR_NOT_SUPPORTED);
}

static CMPIStatus TestElementMethodCleanup(CMPIMethodMI *mi, const CMPIContext *ctx,
                                           CMPIBoolean terminating) {
  (void)mi, (void)ctx, (void)terminating;
  CMReturn(CMPI_RC_OK);
}

static CMPIStatus TestElementInvokeMethod(CMPIMethodMI *mi, const CMPIContext *ctx,
                                          const CMPIResult *rslt, const CMPIObjectPath *op,
                                          const char *method, const CMPIArgs *in, CMPIArgs *out) {
  CMPIUint32 zero = 0;
  (void)mi, (void)ctx, (void)op;
  if (strcmp(method, "Echo") == 0) {
    CMPIData text = CMGetArg(in, "Text", NULL);
    if (text.state & CMPI_nullValue || text.type != CMPI_string)
      CMReturnWithChars(broker, CMPI_RC_ERR_INVALID_PARAMETER, "Echo needs Text");
    CMAddArg(out, "Text", &text.value, CMPI_string);
    CMReturnData(rslt, &zero, CMPI_uint32);
    CMReturnDone(rslt);
    CMReturn(CMPI_RC_OK);
  }
  if (strcmp(method, "Fail") == 0) CMReturnWithChars(broker, CMPI_RC_ERR_FAILED, "Fail failed");
  CMReturn(CMPI_RC_ERR_METHOD_NOT_FOUND);
}

CMInstanceMIStub(TestElement, CimomTestProvider, broker, CMNoHook)
    CMMethodMIStub(TestElement, CimomTestProvider, broker, CMNoHook)
