/* Loader of the agent's sibling implementation libraries: each loader opens a
 * library, binds a fixed set of function names and returns a record of the
 * library handle and the functions; its unloader releases the library again.
 *
 * Two families: WSI_CMPI... report into a CMPI status and resolve a plain
 * library name through the broker; WSI... report into a controller status
 * record and use the file name unchanged.  A record is valid until it is
 * given to its unloader; a field whose function was not bound is null. */
#ifndef PROVKIT_LOADER_H
#define PROVKIT_LOADER_H

#include <cmpidt.h>
#include <cmpift.h>
#include <wbemkelvai/wsifiler.h>
#include <wbemkelvai/wsiruntime.h>

#include "pk_export.h"

PK_BEGIN_DECLS

/* ---- Function types of the implementation libraries ----------------------
 * Every function that takes a status fills the caller's CMPI status; filer
 * records are the caller's. */

/* A new instance for the object path, or null. */
typedef CMPIInstance *(*WSIGetInstanceImplFunc)(const CMPIBroker *broker,
                                                const CMPIContext *context, CMPIStatus *status,
                                                const CMPIObjectPath *path,
                                                const char **propertyList);
/* A new array of the filer's instances, or null. */
typedef CMPIArray *(*WSIEnumInstancesImplFunc)(const CMPIBroker *broker, const CMPIContext *context,
                                               CMPIStatus *status, const CMPIObjectPath *path,
                                               const Filer *filer, const char **propertyList);
/* A new array of the filer's object paths, or null. */
typedef CMPIArray *(*WSIEnumInstNamesImplFunc)(const CMPIBroker *broker, const CMPIContext *context,
                                               CMPIStatus *status, const CMPIObjectPath *path,
                                               const Filer *filer);
/* Non-zero when the object exists; stores a copy of its filer record (freed with freeFiler). */
typedef int (*WSIExistsImplFunc)(const CMPIBroker *broker, const CMPIContext *context,
                                 const CMPIObjectPath *path, Filer **filer);
typedef void (*WSISetInstanceImplFunc)(const CMPIBroker *broker, const CMPIContext *context,
                                       CMPIStatus *status, const CMPIObjectPath *path,
                                       const CMPIInstance *instance, const char **propertyList);
typedef void (*WSIDeleteInstanceImplFunc)(const CMPIBroker *broker, const CMPIContext *context,
                                          CMPIStatus *status, const CMPIObjectPath *path);

/* Indication provider functions, shaped like the CMPI indication MI with the
 * broker in place of the MI. */
typedef CMPIStatus (*WSIAuthorizeFilterFunc)(const CMPIBroker *broker, const CMPIContext *context,
                                             const CMPISelectExp *filter, const char *className,
                                             const CMPIObjectPath *classPath, const char *owner);
typedef CMPIStatus (*WSIActivateFilterFunc)(const CMPIBroker *broker, const CMPIContext *context,
                                            const CMPISelectExp *filter, const char *className,
                                            const CMPIObjectPath *classPath,
                                            CMPIBoolean firstActivation);
typedef CMPIStatus (*WSIDeActivateFilterFunc)(const CMPIBroker *broker, const CMPIContext *context,
                                              const CMPISelectExp *filter, const char *className,
                                              const CMPIObjectPath *classPath,
                                              CMPIBoolean lastActivation);
/* enable non-zero turns delivery on, zero off. */
typedef CMPIStatus (*WSIEnableIndicationsFunc)(const CMPIBroker *broker, const CMPIContext *context,
                                               int enable);
typedef CMPIStatus (*WSIInitProviderFunc)(const CMPIBroker *broker, const CMPIContext *context);

/* The method's return value. */
typedef CMPIData (*WSIInvokeMethodImplFunc)(const CMPIBroker *broker, const CMPIContext *context,
                                            CMPIStatus *status, const CMPIObjectPath *path,
                                            const char *methodName, const CMPIArgs *in,
                                            CMPIArgs *out);

/* The two pass-through values are the caller's and go to the library unread. */
typedef CMPIArray *(*WSIGetAssociatorPathImplFunc)(const CMPIBroker *broker,
                                                   const CMPIContext *context, CMPIStatus *status,
                                                   const CMPIObjectPath *source, const Filer *filer,
                                                   const void *first, const void *second);
typedef CMPIArray *(*WSIGetAssociatorInstanceImplFunc)(
    const CMPIBroker *broker, const CMPIContext *context, CMPIStatus *status,
    const CMPIObjectPath *source, const Filer *filer, const void *first, const void *second,
    const char **propertyList);

/* The filer's current elements, a list the caller frees with the freeIndElements function;
 * reserved is null. */
typedef WSIList *(*WSIEnumIndElementsFunc)(const CMPIBroker *broker, const CMPIContext *context,
                                           const Filer *filer, const void *reserved,
                                           CMPIStatus *status);
typedef void (*WSIFreeIndElementsFunc)(WSIList *elements);
typedef CMPIInstance *(*WSINewInstanceFromIndElementFunc)(const CMPIBroker *broker,
                                                          const CMPIContext *context,
                                                          const CMPIObjectPath *classPath,
                                                          const Filer *filer, const void *element,
                                                          CMPIStatus *status);
/* Non-zero when the two elements are the same: by their keys only when keysOnly is non-zero. */
typedef int (*WSICompareIndElementsFunc)(const void *first, const void *second, int keysOnly);

/* Receives a trap: its number, the text naming its source, and the subscriber's data. */
typedef void (*WSITrapCallback)(int trapNumber, const char *source, void *data);
typedef void (*WSISNMPTrapSubscribeFunc)(const CMPIBroker *broker, const char *className,
                                         int trapNumber, WSITrapCallback callback, void *data,
                                         CMPIStatus *status);
typedef void (*WSISNMPTrapUnSubscribeFunc)(const CMPIBroker *broker, const char *className,
                                           int trapNumber, CMPIStatus *status);

/* The job's current instance, new, freed by the caller with CMRelease; null on failure. */
typedef CMPIInstance *(*WSIGetJobUpdateFunc)(const CMPIBroker *broker, const CMPIContext *context,
                                             const CMPIObjectPath *job, CMPIStatus *status);
typedef void (*WSITrackJobStateChangesFunc)(const CMPIBroker *broker, const CMPIContext *context,
                                            CMPIStatus *status);
/* The job of that InstanceID, freed with the freeJobInstance function; null when unknown. */
typedef CMPIInstance *(*WSIGetJobInstanceFunc)(const CMPIBroker *broker, const CMPIContext *context,
                                               const char *instanceId, CMPIStatus *status);
/* Non-zero when the job was added; the service keeps its own copy. */
typedef int (*WSIAddJobInstanceFunc)(const CMPIBroker *broker, const CMPIContext *context,
                                     const CMPIInstance *job, CMPIStatus *status);
/* Lists of job instances, freed with the freeJobInstanceList function. */
typedef WSIList *(*WSIGetJobInstancesFunc)(const CMPIBroker *broker, const CMPIContext *context,
                                           CMPIStatus *status);
typedef WSIList *(*WSIGetJobProgressInstancesFunc)(const CMPIBroker *broker,
                                                   const CMPIContext *context, CMPIStatus *status);
typedef void (*WSIFreeJobInstanceFunc)(CMPIInstance *job);
typedef void (*WSIFreeJobInstanceListFunc)(WSIList *jobs);

/* ---- Records ------------------------------------------------------------ */

typedef struct WSIInstanceImpl {
  void *handle;
  WSIGetInstanceImplFunc getInstanceImpl;
  WSIEnumInstancesImplFunc enumInstancesImpl;
  WSIEnumInstNamesImplFunc enumInstNamesImpl;
  WSIExistsImplFunc existsImpl;
  WSISetInstanceImplFunc setInstanceImpl;
  WSIDeleteInstanceImplFunc deleteInstanceImpl;
} WSIInstanceImpl;

typedef struct WSIIndicationProv {
  void *handle;
  WSIAuthorizeFilterFunc authorizeFilter;
  WSIActivateFilterFunc activateFilter;
  WSIDeActivateFilterFunc deActivateFilter;
  WSIEnableIndicationsFunc enableIndications;
  WSIInitProviderFunc initProvider;
} WSIIndicationProv;

typedef struct WSIMethodImpl {
  void *handle;
  WSIInvokeMethodImplFunc invokeMethodImpl;
} WSIMethodImpl;

typedef struct WSIAssocImpl {
  void *handle;
  WSIGetAssociatorPathImplFunc getAssociatorPathImpl;
  WSIGetAssociatorInstanceImplFunc getAssociatorInstanceImpl;
} WSIAssocImpl;

typedef struct WSIIndImpl {
  void *handle;
  WSIEnumIndElementsFunc enumIndElements;
  WSIFreeIndElementsFunc freeIndElements;
  WSINewInstanceFromIndElementFunc newInstanceFromIndElement;
  WSICompareIndElementsFunc compareIndElements;
} WSIIndImpl;

typedef struct WSISNMPImpl {
  void *handle;
  WSISNMPTrapSubscribeFunc SNMPTrapSubscribe;
  WSISNMPTrapUnSubscribeFunc SNMPTrapUnSubscribe;
} WSISNMPImpl;

typedef struct WSIJobImpl {
  void *handle;
  WSIGetJobUpdateFunc getJobUpdate;
} WSIJobImpl;

typedef struct WSIJobServiceImpl {
  void *handle;
  WSITrackJobStateChangesFunc trackJobStateChanges;
  WSIGetJobInstanceFunc getJobInstance;
  WSIAddJobInstanceFunc addJobInstance;
  WSIGetJobInstancesFunc getJobInstances;
  WSIGetJobProgressInstancesFunc getJobProgressInstances;
  WSIFreeJobInstanceFunc freeJobInstance;
  WSIFreeJobInstanceListFunc freeJobInstanceList;
} WSIJobServiceImpl;

/* ---- CMPI family ---------------------------------------------------------- */

/* Loads the library whose plain name the broker's resolveFileName turns into a file name;
 * the handle (released with WSI_CMPIUnloadLib) or null with the error in status. */
PK_EXPORT void *WSI_CMPILoadLib(const CMPIBroker *broker, CMPIStatus *status,
                                const char *libraryName);
/* Address of the named function of the library, or null with the error in status. */
PK_EXPORT void *WSI_CMPIGetFunction(const CMPIBroker *broker, CMPIStatus *status, void *handle,
                                    const char *functionName);
/* Releases one load of the library; a null handle is an error, a refused unload is only logged. */
PK_EXPORT void WSI_CMPIUnloadLib(const CMPIBroker *broker, CMPIStatus *status, void *handle);

/* Record loaders: the handle and all functions, or an empty record with the error in status;
 * each record is released with its WSI_CMPIUnload... function. */
PK_EXPORT WSIInstanceImpl WSI_CMPILoadInstanceImpl(const CMPIBroker *broker, CMPIStatus *status,
                                                   const char *libraryName);
/* Binds authorizeFilter, activateFilter, deActivateFilter, enableIndications and initProvider. */
PK_EXPORT WSIIndicationProv WSI_CMPILoadIndicationProv(const CMPIBroker *broker, CMPIStatus *status,
                                                       const char *libraryName);
/* Binds invokeMethodImpl; release with WSI_CMPIUnloadMethodImpl. */
PK_EXPORT WSIMethodImpl WSI_CMPILoadMethodImpl(const CMPIBroker *broker, CMPIStatus *status,
                                               const char *libraryName);
/* Binds getAssociatorPathImpl and getAssociatorInstanceImpl; release with WSI_CMPIUnloadAssocImpl.
 */
PK_EXPORT WSIAssocImpl WSI_CMPILoadAssocImpl(const CMPIBroker *broker, CMPIStatus *status,
                                             const char *libraryName);
/* Binds the four indication element functions; release with WSI_CMPIUnloadIndImpl. */
PK_EXPORT WSIIndImpl WSI_CMPILoadIndImpl(const CMPIBroker *broker, CMPIStatus *status,
                                         const char *libraryName);
/* Binds the trap listener library's subscribe functions; release with WSI_CMPIUnloadSNMPImpl. */
PK_EXPORT WSISNMPImpl WSI_CMPILoadSNMPImpl(const CMPIBroker *broker, CMPIStatus *status);

/* Record unloaders: release the record's library when its handle is not null. */
PK_EXPORT void WSI_CMPIUnloadInstanceImpl(const CMPIBroker *broker, CMPIStatus *status,
                                          WSIInstanceImpl record);
/* Releases the record's library when its handle is not null. */
PK_EXPORT void WSI_CMPIUnloadIndicationProv(const CMPIBroker *broker, CMPIStatus *status,
                                            WSIIndicationProv record);
/* Releases the record's library when its handle is not null. */
PK_EXPORT void WSI_CMPIUnloadMethodImpl(const CMPIBroker *broker, CMPIStatus *status,
                                        WSIMethodImpl record);
/* Releases the record's library when its handle is not null. */
PK_EXPORT void WSI_CMPIUnloadAssocImpl(const CMPIBroker *broker, CMPIStatus *status,
                                       WSIAssocImpl record);
/* Releases the record's library when its handle is not null. */
PK_EXPORT void WSI_CMPIUnloadIndImpl(const CMPIBroker *broker, CMPIStatus *status,
                                     WSIIndImpl record);
/* Releases the record's library when its handle is not null. */
PK_EXPORT void WSI_CMPIUnloadSNMPImpl(const CMPIBroker *broker, CMPIStatus *status,
                                      WSISNMPImpl record);

/* ---- Plain family ----------------------------------------------------------- */

/* Loads the library file name as given; the handle (released with WSIUnloadLib) or null with
 * the error in kstatus. */
PK_EXPORT void *WSILoadLib(const char *fileName, KELVAStatus *kstatus);
/* Address of the named function of the library, or null with the error in kstatus. */
PK_EXPORT void *WSIGetFunction(void *handle, const char *functionName, KELVAStatus *kstatus);
/* Releases one load of the library; non-zero on success, else 0 with the error in kstatus. */
PK_EXPORT int WSIUnloadLib(void *handle, KELVAStatus *kstatus);

/* The four instance functions, with setInstanceImpl for the block volume library and both
 * setInstanceImpl and deleteInstanceImpl for the view controller library; release with
 * WSIUnloadInstanceImpl. */
PK_EXPORT WSIInstanceImpl WSILoadInstanceImpl(const char *fileName, KELVAStatus *kstatus);
/* Binds invokeMethodImpl; release with WSIUnloadMethodImpl. */
PK_EXPORT WSIMethodImpl WSILoadMethodImpl(const char *fileName, KELVAStatus *kstatus);
/* Binds the two associator functions; release with WSIUnloadAssocImpl. */
PK_EXPORT WSIAssocImpl WSILoadAssocImpl(const char *fileName, KELVAStatus *kstatus);
/* Binds the four indication element functions; release with WSIUnloadIndImpl. */
PK_EXPORT WSIIndImpl WSILoadIndImpl(const char *fileName, KELVAStatus *kstatus);
/* Binds getJobUpdate of a provider's job library; release with WSIUnloadJobImpl. */
PK_EXPORT WSIJobImpl WSILoadJobImpl(const char *fileName, KELVAStatus *kstatus);
/* Binds the job-control service library's seven functions; release with WSIUnloadJobServiceImpl. */
PK_EXPORT WSIJobServiceImpl WSILoadJobServiceImpl(KELVAStatus *kstatus);

/* Releases the record's library when its handle is not null. */
PK_EXPORT void WSIUnloadInstanceImpl(WSIInstanceImpl record, KELVAStatus *kstatus);
/* Releases the record's library when its handle is not null. */
PK_EXPORT void WSIUnloadMethodImpl(WSIMethodImpl record, KELVAStatus *kstatus);
/* Releases the record's library when its handle is not null. */
PK_EXPORT void WSIUnloadAssocImpl(WSIAssocImpl record, KELVAStatus *kstatus);
/* Releases the record's library when its handle is not null. */
PK_EXPORT void WSIUnloadIndImpl(WSIIndImpl record, KELVAStatus *kstatus);
/* Releases the record's library when its handle is not null. */
PK_EXPORT void WSIUnloadJobImpl(WSIJobImpl record, KELVAStatus *kstatus);
/* Releases the record's library when its handle is not null. */
PK_EXPORT void WSIUnloadJobServiceImpl(WSIJobServiceImpl record, KELVAStatus *kstatus);

PK_END_DECLS

#endif
