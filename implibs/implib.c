/* A sibling implementation library for the loader's tests.  One source makes
 * every variant: each group of functions is compiled in when its macro is
 * defined, so a variant lacks exactly the names its target leaves out.  The
 * functions do nothing but answer IMPLIB_MARK where they return a number, so
 * a test can tell which library a bound function came from. */
#include <provkit/loader.h>
#include <stddef.h>

#define IMPLIB_API __attribute__((visibility("default")))

#if defined(WITH_INSTANCE)
IMPLIB_API CMPIInstance *getInstanceImpl(const CMPIBroker *broker, const CMPIContext *context,
                                         CMPIStatus *status, const CMPIObjectPath *path,
                                         const char **propertyList) {
  (void)broker, (void)context, (void)status, (void)path, (void)propertyList;
  return NULL;
}
IMPLIB_API CMPIArray *enumInstancesImpl(const CMPIBroker *broker, const CMPIContext *context,
                                        CMPIStatus *status, const CMPIObjectPath *path,
                                        const Filer *filer, const char **propertyList) {
  (void)broker, (void)context, (void)status, (void)path, (void)filer, (void)propertyList;
  return NULL;
}
IMPLIB_API CMPIArray *enumInstNamesImpl(const CMPIBroker *broker, const CMPIContext *context,
                                        CMPIStatus *status, const CMPIObjectPath *path,
                                        const Filer *filer) {
  (void)broker, (void)context, (void)status, (void)path, (void)filer;
  return NULL;
}
#if !defined(WITHOUT_EXISTS)
IMPLIB_API int existsImpl(const CMPIBroker *broker, const CMPIContext *context,
                          const CMPIObjectPath *path, Filer **filer) {
  (void)broker, (void)context, (void)path;
  if (filer != NULL) *filer = NULL;
  return IMPLIB_MARK;
}
#endif
IMPLIB_API void setInstanceImpl(const CMPIBroker *broker, const CMPIContext *context,
                                CMPIStatus *status, const CMPIObjectPath *path,
                                const CMPIInstance *instance, const char **propertyList) {
  (void)broker, (void)context, (void)status, (void)path, (void)instance, (void)propertyList;
}
IMPLIB_API void deleteInstanceImpl(const CMPIBroker *broker, const CMPIContext *context,
                                   CMPIStatus *status, const CMPIObjectPath *path) {
  (void)broker, (void)context, (void)status, (void)path;
}
#endif

#if defined(WITH_INDICATION_PROVIDER)
static CMPIStatus ok(void) {
  CMPIStatus status = {CMPI_RC_OK, NULL};
  return status;
}
IMPLIB_API CMPIStatus authorizeFilter(const CMPIBroker *broker, const CMPIContext *context,
                                      const CMPISelectExp *filter, const char *className,
                                      const CMPIObjectPath *classPath, const char *owner) {
  (void)broker, (void)context, (void)filter, (void)className, (void)classPath, (void)owner;
  return ok();
}
IMPLIB_API CMPIStatus activateFilter(const CMPIBroker *broker, const CMPIContext *context,
                                     const CMPISelectExp *filter, const char *className,
                                     const CMPIObjectPath *classPath, CMPIBoolean first) {
  (void)broker, (void)context, (void)filter, (void)className, (void)classPath, (void)first;
  return ok();
}
IMPLIB_API CMPIStatus deActivateFilter(const CMPIBroker *broker, const CMPIContext *context,
                                       const CMPISelectExp *filter, const char *className,
                                       const CMPIObjectPath *classPath, CMPIBoolean last) {
  (void)broker, (void)context, (void)filter, (void)className, (void)classPath, (void)last;
  return ok();
}
IMPLIB_API CMPIStatus enableIndications(const CMPIBroker *broker, const CMPIContext *context,
                                        int enable) {
  (void)broker, (void)context, (void)enable;
  return ok();
}
IMPLIB_API CMPIStatus initProvider(const CMPIBroker *broker, const CMPIContext *context) {
  (void)broker, (void)context;
  return ok();
}
#endif

#if defined(WITH_METHOD)
IMPLIB_API CMPIData invokeMethodImpl(const CMPIBroker *broker, const CMPIContext *context,
                                     CMPIStatus *status, const CMPIObjectPath *path,
                                     const char *methodName, const CMPIArgs *in, CMPIArgs *out) {
  CMPIData data;
  (void)broker, (void)context, (void)status, (void)path, (void)methodName, (void)in, (void)out;
  data.type = CMPI_uint32;
  data.state = CMPI_goodValue;
  data.value.uint32 = IMPLIB_MARK;
  return data;
}
#endif

#if defined(WITH_ASSOCIATION)
IMPLIB_API CMPIArray *getAssociatorPathImpl(const CMPIBroker *broker, const CMPIContext *context,
                                            CMPIStatus *status, const CMPIObjectPath *source,
                                            const Filer *filer, const void *first,
                                            const void *second) {
  (void)broker, (void)context, (void)status, (void)source, (void)filer, (void)first, (void)second;
  return NULL;
}
IMPLIB_API CMPIArray *getAssociatorInstanceImpl(const CMPIBroker *broker,
                                                const CMPIContext *context, CMPIStatus *status,
                                                const CMPIObjectPath *source, const Filer *filer,
                                                const void *first, const void *second,
                                                const char **propertyList) {
  (void)broker, (void)context, (void)status, (void)source, (void)filer, (void)first, (void)second,
      (void)propertyList;
  return NULL;
}
#endif

#if defined(WITH_INDICATION_ELEMENTS)
IMPLIB_API WSIList *enumIndElements(const CMPIBroker *broker, const CMPIContext *context,
                                    const Filer *filer, const void *reserved, CMPIStatus *status) {
  (void)broker, (void)context, (void)filer, (void)reserved, (void)status;
  return NULL;
}
IMPLIB_API void freeIndElements(WSIList *elements) { (void)elements; }
IMPLIB_API CMPIInstance *newInstanceFromIndElement(const CMPIBroker *broker,
                                                   const CMPIContext *context,
                                                   const CMPIObjectPath *classPath,
                                                   const Filer *filer, const void *element,
                                                   CMPIStatus *status) {
  (void)broker, (void)context, (void)classPath, (void)filer, (void)element, (void)status;
  return NULL;
}
IMPLIB_API int compareIndElements(const void *first, const void *second, int keysOnly) {
  (void)first, (void)second, (void)keysOnly;
  return IMPLIB_MARK;
}
#endif

#if defined(WITH_TRAPS)
IMPLIB_API void SNMPTrapSubscribe(const CMPIBroker *broker, const char *className, int trapNumber,
                                  WSITrapCallback callback, void *data, CMPIStatus *status) {
  (void)broker, (void)className, (void)trapNumber, (void)callback, (void)data, (void)status;
}
IMPLIB_API void SNMPTrapUnSubscribe(const CMPIBroker *broker, const char *className, int trapNumber,
                                    CMPIStatus *status) {
  (void)broker, (void)className, (void)trapNumber, (void)status;
}
#endif

#if defined(WITH_JOB)
IMPLIB_API CMPIInstance *getJobUpdate(const CMPIBroker *broker, const CMPIContext *context,
                                      const CMPIObjectPath *job, CMPIStatus *status) {
  (void)broker, (void)context, (void)job, (void)status;
  return NULL;
}
#endif

#if defined(WITH_JOB_SERVICE)
IMPLIB_API void trackJobStateChanges(const CMPIBroker *broker, const CMPIContext *context,
                                     CMPIStatus *status) {
  (void)broker, (void)context, (void)status;
}
IMPLIB_API CMPIInstance *getJobInstance(const CMPIBroker *broker, const CMPIContext *context,
                                        const char *instanceId, CMPIStatus *status) {
  (void)broker, (void)context, (void)instanceId, (void)status;
  return NULL;
}
IMPLIB_API int addJobInstance(const CMPIBroker *broker, const CMPIContext *context,
                              const CMPIInstance *job, CMPIStatus *status) {
  (void)broker, (void)context, (void)job, (void)status;
  return IMPLIB_MARK;
}
IMPLIB_API WSIList *getJobInstances(const CMPIBroker *broker, const CMPIContext *context,
                                    CMPIStatus *status) {
  (void)broker, (void)context, (void)status;
  return NULL;
}
IMPLIB_API WSIList *getJobProgressInstances(const CMPIBroker *broker, const CMPIContext *context,
                                            CMPIStatus *status) {
  (void)broker, (void)context, (void)status;
  return NULL;
}
IMPLIB_API void freeJobInstance(CMPIInstance *job) { (void)job; }
IMPLIB_API void freeJobInstanceList(WSIList *jobs) { (void)jobs; }
#endif
