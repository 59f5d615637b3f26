/* An implementation library for the provider operations' and association
 * traversal's tests and benchmark.  It never contacts a filer: it makes
 * elements from the filer record and the object path it is given, and its
 * behaviour is steered by them:
 *   - a filer whose host starts with "down" fails with "filer down", one whose
 *     host starts with "mute" fails without a message, one whose host starts
 *     with "empty" answers no array;
 *   - an object path's key "ID" names the element; "null" makes getInstanceImpl
 *     return nothing without touching the status, "fail" makes get, set,
 *     delete and the associator functions fail, "missing" makes existsImpl
 *     deny the element.
 * Every element has the key "ID"; a filer's elements are "<host>/<n>".  The
 * associator functions make two elements "<ID>/a0" and "<ID>/a1" at the other
 * end, of the classes named by the two pass-through values (texts; a null one
 * gives "KELVA_ConcretePool").  OPS_PER_FILER sets how many elements a filer
 * has. */
#include <cmpimacs.h>
#include <provkit/loader.h>
#include <stdio.h>
#include <string.h>
#include <wbemkelvai/wsiruntime.h>

#define OPS_API __attribute__((visibility("default")))

#ifndef OPS_PER_FILER
#define OPS_PER_FILER 2
#endif

static int startsWith(const char *text, const char *prefix) {
  return text != NULL && strncmp(text, prefix, strlen(prefix)) == 0;
}

static void setOk(CMPIStatus *status) {
  status->rc = CMPI_RC_OK;
  status->msg = NULL;
}

static void setFailed(const CMPIBroker *broker, CMPIStatus *status, const char *text) {
  if (text != NULL) {
    CMSetStatusWithChars(broker, status, CMPI_RC_ERR_FAILED, text);
  } else {
    status->rc = CMPI_RC_ERR_FAILED;
    status->msg = NULL;
  }
}

/* The path's "ID" key, copied into text (empty when absent). */
static void readId(const CMPIObjectPath *path, char *text, size_t size) {
  CMPIStatus status = {CMPI_RC_OK, NULL};
  CMPIData key = CMGetKey(path, "ID", &status);
  text[0] = '\0';
  if (status.rc == CMPI_RC_OK && key.type == CMPI_string && key.value.string != NULL) {
    const char *chars = CMGetCharsPtr(key.value.string, NULL);
    strlcpy_safe(text, chars != NULL ? chars : "", size);
  }
}

static const char *nameSpaceOf(const CMPIObjectPath *path) {
  CMPIString *ns = CMGetNameSpace(path, NULL);
  const char *text = ns != NULL ? CMGetCharsPtr(ns, NULL) : NULL;
  return text != NULL ? text : "root/kelva";
}

static CMPIObjectPath *newPath(const CMPIBroker *broker, const char *nameSpace,
                               const char *className, const char *id, CMPIStatus *status) {
  CMPIObjectPath *path = CMNewObjectPath(broker, nameSpace, className, status);
  if (path == NULL || status->rc != CMPI_RC_OK) return NULL;
  *status = CMAddKey(path, "ID", id, CMPI_chars);
  if (status->rc != CMPI_RC_OK) {
    CMRelease(path);
    return NULL;
  }
  return path;
}

static CMPIInstance *newInstanceOf(const CMPIBroker *broker, const CMPIObjectPath *path,
                                   const char *id, CMPIStatus *status) {
  CMPIInstance *instance = CMNewInstance(broker, path, status);
  if (instance == NULL || status->rc != CMPI_RC_OK) return NULL;
  *status = CMSetProperty(instance, "ID", id, CMPI_chars);
  if (status->rc != CMPI_RC_OK) {
    CMRelease(instance);
    return NULL;
  }
  return instance;
}

/* Stores a new object in the array.  An object manager may hold the very
 * object, which then belongs to the array's owner (freeCMPIArray gives it
 * back); OPS_ARRAY_COPIES builds for one that keeps copies, where the
 * object is released at once.  One that could not be stored is released. */
static void store(CMPIArray *array, CMPICount index, void *object, CMPIType type,
                  CMPIStatus *status) {
  CMPIValue value;
  int keep;
  if (type == CMPI_instance)
    value.inst = (CMPIInstance *)object;
  else
    value.ref = (CMPIObjectPath *)object;
  *status = CMSetArrayElementAt(array, index, &value, type);
#if defined(OPS_ARRAY_COPIES)
  keep = 0;
#else
  keep = status->rc == CMPI_RC_OK;
#endif
  if (keep) return;
  if (type == CMPI_instance)
    CMRelease((CMPIInstance *)object);
  else
    CMRelease((CMPIObjectPath *)object);
}

/* Releases the objects the array holds, then the array, as freeCMPIArray does. */
static void dropArray(CMPIArray *array) {
  CMPICount count = CMGetArrayCount(array, NULL);
  CMPICount i;
  for (i = 0; i < count; ++i) {
    CMPIData element = CMGetArrayElementAt(array, i, NULL);
    if ((element.state & CMPI_nullValue) != 0 || element.value.inst == NULL) continue;
    if (element.type == CMPI_instance) CMRelease(element.value.inst);
    if (element.type == CMPI_ref) CMRelease(element.value.ref);
  }
  CMRelease(array);
}

/* count elements of className named "<prefix>/<n>", as instances or paths.  The class of
 * element n is classes[n % 2]. */
static CMPIArray *makeElements(const CMPIBroker *broker, const CMPIObjectPath *like,
                               const char *classes[2], const char *prefix, int count, int instances,
                               CMPIStatus *status) {
  const char *nameSpace = nameSpaceOf(like);
  CMPIArray *array =
      CMNewArray(broker, (CMPICount)count, instances ? CMPI_instance : CMPI_ref, status);
  int i;
  if (array == NULL || status->rc != CMPI_RC_OK) return NULL;
  for (i = 0; i < count && status->rc == CMPI_RC_OK; ++i) {
    char id[256];
    CMPIObjectPath *path;
    snprintf(id, sizeof id, "%s/%d", prefix, i);
    path = newPath(broker, nameSpace, classes[i % 2], id, status);
    if (path == NULL) break;
    if (instances) {
      CMPIInstance *instance = newInstanceOf(broker, path, id, status);
      CMRelease(path);
      if (instance == NULL) break;
      store(array, (CMPICount)i, instance, CMPI_instance, status);
    } else {
      store(array, (CMPICount)i, path, CMPI_ref, status);
    }
  }
  if (status->rc != CMPI_RC_OK) {
    dropArray(array);
    return NULL;
  }
  return array;
}

/* The filer's answer, or null with the status as the filer's host asks. */
static CMPIArray *filerElements(const CMPIBroker *broker, CMPIStatus *status,
                                const CMPIObjectPath *path, const Filer *filer, int instances) {
  const char *classes[2];
  CMPIString *className = CMGetClassName(path, NULL);
  classes[0] = classes[1] = className != NULL ? CMGetCharsPtr(className, NULL) : "";
  if (startsWith(filer->host, "down")) {
    setFailed(broker, status, "filer down");
    /* A failing filer may still hand over an array; the caller frees it. */
    return CMNewArray(broker, 0, CMPI_instance, NULL);
  }
  if (startsWith(filer->host, "mute")) {
    setFailed(broker, status, NULL);
    return NULL;
  }
  setOk(status);
  if (startsWith(filer->host, "empty")) return NULL;
  return makeElements(broker, path, classes, filer->host, OPS_PER_FILER, instances, status);
}

OPS_API CMPIArray *enumInstancesImpl(const CMPIBroker *broker, const CMPIContext *context,
                                     CMPIStatus *status, const CMPIObjectPath *path,
                                     const Filer *filer, const char **propertyList) {
  (void)context, (void)propertyList;
  return filerElements(broker, status, path, filer, 1);
}

OPS_API CMPIArray *enumInstNamesImpl(const CMPIBroker *broker, const CMPIContext *context,
                                     CMPIStatus *status, const CMPIObjectPath *path,
                                     const Filer *filer) {
  (void)context;
  return filerElements(broker, status, path, filer, 0);
}

OPS_API CMPIInstance *getInstanceImpl(const CMPIBroker *broker, const CMPIContext *context,
                                      CMPIStatus *status, const CMPIObjectPath *path,
                                      const char **propertyList) {
  char id[256];
  CMPIInstance *instance;
  (void)context, (void)propertyList;
  readId(path, id, sizeof id);
  if (strcmp(id, "null") == 0) return NULL;
  if (strcmp(id, "fail") == 0) {
    setFailed(broker, status, "no such element");
    return NULL;
  }
  instance = newInstanceOf(broker, path, id, status);
  if (instance != NULL) setOk(status);
  return instance;
}

OPS_API int existsImpl(const CMPIBroker *broker, const CMPIContext *context,
                       const CMPIObjectPath *path, Filer **filer) {
  char id[256];
  (void)broker, (void)context;
  readId(path, id, sizeof id);
  if (startsWith(id, "missing")) return 0;
  if (filer != NULL) {
    Filer *owner = (Filer *)wsicalloc(1, sizeof(Filer));
    if (owner != NULL) {
      owner->systemId = wsistrdup(id);
      owner->host = wsistrdup("owner.test");
    }
    *filer = owner;
  }
  return 1;
}

OPS_API void setInstanceImpl(const CMPIBroker *broker, const CMPIContext *context,
                             CMPIStatus *status, const CMPIObjectPath *path,
                             const CMPIInstance *instance, const char **propertyList) {
  char id[256];
  (void)context, (void)instance, (void)propertyList;
  readId(path, id, sizeof id);
  if (strcmp(id, "fail") == 0)
    setFailed(broker, status, "cannot modify");
  else
    setOk(status);
}

OPS_API void deleteInstanceImpl(const CMPIBroker *broker, const CMPIContext *context,
                                CMPIStatus *status, const CMPIObjectPath *path) {
  char id[256];
  (void)context;
  readId(path, id, sizeof id);
  if (strcmp(id, "fail") == 0)
    setFailed(broker, status, "cannot delete");
  else
    setOk(status);
}

OPS_API CMPIData invokeMethodImpl(const CMPIBroker *broker, const CMPIContext *context,
                                  CMPIStatus *status, const CMPIObjectPath *path,
                                  const char *methodName, const CMPIArgs *in, CMPIArgs *out) {
  CMPIData data;
  (void)context, (void)path, (void)in;
  data.type = CMPI_uint32;
  data.state = CMPI_goodValue;
  data.value.uint32 = 7;
  if (methodName != NULL && strcmp(methodName, "Fail") == 0) {
    setFailed(broker, status, "method failed");
    return data;
  }
  *status = CMAddArg(out, "Called", methodName, CMPI_chars);
  return data;
}

static CMPIArray *associated(const CMPIBroker *broker, CMPIStatus *status,
                             const CMPIObjectPath *source, const void *first, const void *second,
                             int instances) {
  char id[256];
  const char *classes[2];
  classes[0] = first != NULL ? (const char *)first : "KELVA_ConcretePool";
  classes[1] = second != NULL ? (const char *)second : "KELVA_ConcretePool";
  readId(source, id, sizeof id);
  if (strcmp(id, "fail") == 0) {
    setFailed(broker, status, "no associated elements");
    return NULL;
  }
  setOk(status);
  return makeElements(broker, source, classes, id, 2, instances, status);
}

OPS_API CMPIArray *getAssociatorPathImpl(const CMPIBroker *broker, const CMPIContext *context,
                                         CMPIStatus *status, const CMPIObjectPath *source,
                                         const Filer *filer, const void *first,
                                         const void *second) {
  (void)context, (void)filer;
  return associated(broker, status, source, first, second, 0);
}

OPS_API CMPIArray *getAssociatorInstanceImpl(const CMPIBroker *broker, const CMPIContext *context,
                                             CMPIStatus *status, const CMPIObjectPath *source,
                                             const Filer *filer, const void *first,
                                             const void *second, const char **propertyList) {
  (void)context, (void)filer, (void)propertyList;
  return associated(broker, status, source, first, second, 1);
}

/* Indication element functions: elements are texts, compared ignoring case. */
OPS_API WSIList *enumIndElements(const CMPIBroker *broker, const CMPIContext *context,
                                 const Filer *filer, const void *reserved, CMPIStatus *status) {
  (void)broker, (void)context, (void)filer, (void)reserved, (void)status;
  return NULL;
}
OPS_API void freeIndElements(WSIList *elements) { WSIList_free(elements, wsifree); }
OPS_API CMPIInstance *newInstanceFromIndElement(const CMPIBroker *broker,
                                                const CMPIContext *context,
                                                const CMPIObjectPath *classPath, const Filer *filer,
                                                const void *element, CMPIStatus *status) {
  (void)broker, (void)context, (void)classPath, (void)filer, (void)element, (void)status;
  return NULL;
}
OPS_API int compareIndElements(const void *first, const void *second, int keysOnly) {
  (void)keysOnly;
  return strCompare((const char *)first, (const char *)second) == 0;
}
