/* The C edge: every public header compiles as C99, and the exported calls
 * of the controller library and of provkit work from C, those that need a
 * broker on the embedded object manager's C entry points. */
#include "pk_all_headers.h"

#include <cimom/cimom_c.h>
#include <cmpimacs.h>
#include <stdio.h>
#include <string.h>

static int failures = 0;
#define CHECK(cond)                                                            \
  do {                                                                         \
    if (!(cond)) {                                                             \
      fprintf(stderr, "%s:%d: check failed: %s\n", __FILE__, __LINE__, #cond); \
      ++failures;                                                              \
    }                                                                          \
  } while (0)

static void freeText(void *p) { wsifree(p); }
static void *copyText(void *p) { return wsistrdup((const char *)p); }

/* provkit's calls that need no broker. */
static void withoutBroker(void) {
  const char *table[] = {"Create", "Delete", NULL};
  KELVAStatus record = KELVA_STATUS_INIT;
  CMPIStatus status = {CMPI_RC_OK, NULL};
  char name[] = "KELVA:f1";
  char *system = NULL;
  char *version;

  CHECK(strcmp(getKELVANamespace(), "root/kelva") == 0);
  CHECK(strcmp(getINTEROPNamespace(), "interop") == 0);
  CHECK(isUnsupportedMethod("Delete", table) == 1);
  CHECK(containsString("Modify", table) == 0);
  CHECK(getConcreteJobLifetime() >= 3600);
  version = getSMISAgentVersionString(NULL, &status);
  CHECK(version != NULL && strcmp(version, "4.1") == 0);
  wsifree(version);
  decodeSystemName(NULL, &status, name, &system);
  CHECK(status.rc == CMPI_RC_OK && system != NULL && strcmp(system, "f1") == 0);

  CHECK(WSILoadLib(NULL, &record) == NULL);
  CHECK(checkStatus(&record) != 0 &&
        strcmp(record.message, "Unable to load '', system error message: invalid library name") ==
            0);
  clearKELVAStatus(&record);
}

/* provkit's calls on a strict embedded object manager: paths, keys, arrays
 * and errors, a broker failure, and nothing left behind. */
static void withBroker(int level) {
  CimomManager *om = cimomNew(level, 1);
  const CMPIBroker *broker;
  CMPIStatus status = {CMPI_RC_OK, NULL};
  CMPIObjectPath *source;
  CMPIObjectPath *made;
  CMPIArray *array;
  WSIList *texts = WSIList_new();
  Filer filer;
  char *text;

  CHECK(om != NULL);
  if (om == NULL) return;
  broker = cimomBroker(om);
  source = CMNewObjectPath(broker, "root/kelva", "KELVA_StorageSystem", NULL);
  made = createCMPIObjectPath(broker, &status, source, "KELVA_StorageVolume");
  CHECK(status.rc == CMPI_RC_OK && made != NULL);
  if (made == NULL) {
    CMRelease(source);
    cimomFree(om);
    return;
  }
  text = getObjectPathClass(broker, made, &status);
  CHECK(text != NULL && strcmp(text, "KELVA_StorageVolume") == 0);
  wsifree(text);
  CHECK(classIsA(&status, broker, made, "CIM_StorageExtent") == 1);

  memset(&filer, 0, sizeof filer);
  filer.systemId = "f1";
  setSystemName(broker, &status, &filer, "SystemName", made);
  text = getKeyAsChar(&status, made, "SystemName");
  CHECK(text != NULL && strcmp(text, "KELVA:f1") == 0);
  wsifree(text);

  WSIList_append(texts, "a");
  WSIList_append(texts, "b");
  array = createArrayFromCHARList(broker, &status, texts);
  CHECK(array != NULL && CMGetArrayCount(array, NULL) == 2);
  freeCMPIArray(array);
  WSIList_free(texts, NULL);

  raiseCMPIError(broker, &status, CMPI_RC_ERR_NOT_FOUND, "gone");
  CHECK(status.rc == CMPI_RC_ERR_NOT_FOUND && cimomLogCount(om) == 1);
  clearCMPIError(broker, &status);
  CHECK(cimomInject(om, "BrokerEnc.newObjectPath", 1, CMPI_RC_ERR_FAILED));
  CHECK(createCMPIObjectPath(broker, &status, source, "KELVA_StorageVolume") == NULL);
  CHECK(status.rc == CMPI_RC_ERR_FAILED);
  clearCMPIError(broker, &status);

  CMRelease(made);
  CMRelease(source);
  CHECK(cimomLiveObjects(om) == 0);
  CHECK(cimomMisuses(om) == 0);
  cimomFree(om);
}

/* File systems and shares: the fixed records and the texts, from C. */
static void fileServices(void) {
  Share share = {PK_SHARE_TYPE_CIFS, NULL, NULL};
  char mount[] = "/vol/vol1/users";
  char users[] = "users";
  char *id;
  char *path = makeAbsolutePath("vol1", "/qt1");
  KELVAStatus record = KELVA_STATUS_INIT;
  int32_t type = 0;
  char *m = NULL;
  char *n = NULL;

  CHECK(path != NULL && strcmp(path, "/vol/vol1/qt1") == 0);
  wsifree(path);
  CHECK(getNumFSSettings() == 2 && getFSSettingByID(NULL, "3") == getFSSettingAt(NULL, 1));
  CHECK(getShareTypeFromProtocol("nfs") == PK_SHARE_TYPE_NFS);
  share.mount = mount;
  share.name = users;
  id = encodeFileShareID("f1", &share);
  CHECK(id != NULL && strcmp(id, "KELVA:f1:cifs:/vol/vol1/users:(users)") == 0);
  CHECK(decodeFileShareID(id, NULL, NULL, &type, &m, &n, &record) == 1);
  CHECK(type == PK_SHARE_TYPE_CIFS && strcmp(m, "/vol/vol1/users") == 0 && strcmp(n, "users") == 0);
  wsifree(id);
  clearKELVAStatus(&record);
}

int main(void) {
  WSIList *list = WSIList_new();
  WSIList *copy;
  KELVAStatus status = KELVA_STATUS_INIT;
  char *joined;

  CHECK(list != NULL);
  CHECK(WSIList_append(list, wsistrdup("a")));
  CHECK(WSIList_append(list, wsistrdup("b")));
  copy = WSIList_copy(list, copyText, freeText);
  CHECK(WSIList_getLength(copy) == 2);
  CHECK(strcmp((const char *)WSIList_getElement(WSIList_getFirst(copy)), "a") == 0);
  WSIList_free(copy, freeText);
  WSIList_free(list, freeText);

  joined = newDelimitedStringCat("KELVA", ":", "42");
  CHECK(joined != NULL && strcmp(joined, "KELVA:42") == 0);
  wsifree(joined);

  CHECK(checkStatus(&status) == 0);
  setKELVAStatus(&status, 0, "filer unreachable");
  CHECK(checkStatus(&status) != 0);
  clearKELVAStatus(&status);
  CHECK(status.message == NULL);

  withoutBroker();
  fileServices();
  withBroker(200);
  withBroker(100);

  if (failures == 0) printf("1 passed, 0 failed\n");
  return failures == 0 ? 0 : 1;
}
