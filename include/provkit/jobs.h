/* Job support: the process-wide binding to the job-control service library,
 * object paths of jobs and their lifetime. */
#ifndef PROVKIT_JOBS_H
#define PROVKIT_JOBS_H

#include <cmpidt.h>
#include <cmpift.h>
#include <wbemkelvai/wsiruntime.h>

#include "loader.h"
#include "pk_export.h"

PK_BEGIN_DECLS

/* The process-wide job service record (shared, never freed by the caller), binding the library
 * now when it is not bound yet; null with the loader's reason in status when it cannot be. */
PK_EXPORT WSIJobServiceImpl *getJobServiceImpl(KELVAStatus *status);

/* New object path of KELVA_ConcreteJob with InstanceID instanceId in the namespace and host of
 * reference, released by the caller with CMRelease; null with the reason in status. */
PK_EXPORT CMPIObjectPath *createJobObjectPath(const CMPIBroker *broker,
                                              const CMPIObjectPath *reference,
                                              const char *instanceId, CMPIStatus *status);

/* Lifetime of a job in seconds: JOB_LIFETIME_SEC when it lies in 3600..86400, else 3600. */
PK_EXPORT unsigned long getConcreteJobLifetime(void);

PK_END_DECLS

#endif
