/* The indication machine: the filers do not announce changes, so an indication provider polls
 * them.  Its first activated filter starts a polling thread that takes a snapshot of every
 * registered filer's elements through the provider's indication element library, compares it
 * with the previous snapshot and delivers CIM_InstCreation, CIM_InstDeletion and
 * CIM_InstModification indications through the broker.  When the last subscription goes, the
 * thread ends by itself.  Statuses are set with raiseCMPIError; the caller releases their
 * messages. */
#ifndef PROVKIT_INDICATIONS_H
#define PROVKIT_INDICATIONS_H

#include <cmpidt.h>
#include <cmpift.h>
#include <stdint.h>

#include "loader.h"
#include "pk_export.h"

PK_BEGIN_DECLS

/* Indication types, as bits of IndMachine.supportedTypes. */
#define PK_IND_CREATE 1
#define PK_IND_DELETE 2
#define PK_IND_MODIFY 4
#define PK_IND_READ 8

/* One provider's indication machine, allocated and kept by the provider for its lifetime.  The
 * provider fills implLibrary, supportedQueries, supportedTypes and pollInterval (and zeroes the
 * rest) before startIndMachine; the other fields are the machine's, read and changed only under
 * its lock. */
typedef struct IndMachine {
  const char *implLibrary;       /* file name of the indication element library */
  CMPIObjectPath *classPath;     /* clone of the first activated filter's path; null while idle */
  const char **supportedQueries; /* null-terminated accepted query texts; null accepts all */
  uint8_t supportedTypes;        /* PK_IND_... bits the provider offers */
  uint8_t enabled;               /* while zero nothing is delivered */
  uint16_t createCount;          /* active subscriptions per type */
  uint16_t deleteCount;
  uint16_t modifyCount;
  uint16_t readCount;
  uint32_t pollInterval;      /* seconds between polls */
  CMPI_MUTEX_TYPE mutex;      /* the machine lock */
  const CMPIBroker *broker;   /* the broker the polling thread uses */
  CMPIContext *threadContext; /* context prepared for the polling thread */
  CMPI_THREAD_TYPE thread;    /* non-null while the polling thread runs */
  WSIIndImpl indImpl;         /* the element library's handle and functions */
} IndMachine;

/* Creates the machine lock, clears classPath and remembers the broker; rc 1 "Failed to create
 * provider indication mutex" when the broker gives no mutex. */
PK_EXPORT CMPIStatus startIndMachine(const CMPIBroker *broker, IndMachine *machine);
/* Stops the polling thread (waiting, a second at a time, until it has ended), releases
 * classPath and destroys the lock; always rc 0.  Start the machine again before reuse. */
PK_EXPORT CMPIStatus stopIndMachine(const CMPIBroker *broker, IndMachine *machine);

/* Checks a filter: its namespace against the running machine's, its query against
 * supportedQueries and its class against the indication types offered; refusals are rc 7. */
PK_EXPORT void wsiauthorize(const CMPIBroker *broker, const CMPIContext *context,
                            const CMPISelectExp *filter, const char *className,
                            const CMPIObjectPath *classPath, IndMachine *machine,
                            CMPIStatus *status);
/* Checks the filter's namespace and class and counts its subscription; the first one starts the
 * polling thread (loading the element library).  Nothing remains of a failed activation. */
PK_EXPORT void wsiactivate(const CMPIBroker *broker, const CMPIContext *context,
                           const CMPISelectExp *filter, const char *className,
                           const CMPIObjectPath *classPath, CMPIBoolean firstActivation,
                           IndMachine *machine, CMPIStatus *status);
/* Checks the filter's namespace and class and uncounts its subscription; when no subscription
 * is left, the polling thread ends after its current wait. */
PK_EXPORT void wsideactivate(const CMPIBroker *broker, const CMPIContext *context,
                             const CMPISelectExp *filter, const char *className,
                             const CMPIObjectPath *classPath, CMPIBoolean lastActivation,
                             IndMachine *machine, CMPIStatus *status);
/* Switches delivery on; polling goes on either way. */
PK_EXPORT void wsienable(const CMPIBroker *broker, IndMachine *machine);
/* Switches delivery off; snapshots still advance. */
PK_EXPORT void wsidisable(const CMPIBroker *broker, IndMachine *machine);
/* Under the machine lock, stores a clone of path at *place when both are given and *place is
 * still null; the caller releases the clone. */
PK_EXPORT void cloneNamespace(const CMPIBroker *broker, const CMPIObjectPath *path,
                              CMPIObjectPath **place, IndMachine *machine, CMPIStatus *status);

/* New text of the instance's object path with the references of an association's Antecedent
 * and Dependent escaped (escapeAssociationPath), freed by the caller with wsifree; null for a
 * null instance (rc 1) or a path that cannot be read (traced, status reset). */
PK_EXPORT char *getSourceInstanceModelPath(const CMPIBroker *broker, const CMPIInstance *instance,
                                           CMPIStatus *status);
/* New text (wsifree) of an association path whose keys are Antecedent followed by Dependent,
 * with every double quote inside the two reference values escaped by a backslash; null when
 * the text has no such keys or memory runs out. */
PK_EXPORT char *escapeAssociationPath(const char *text);

PK_END_DECLS

#endif
