/* The library's frame: handing provkit the broker, raising CMPI errors into a
 * provider's status, and logging through the broker. */
#ifndef PROVKIT_FRAME_H
#define PROVKIT_FRAME_H

#include <cmpidt.h>
#include <cmpift.h>
#include <wbemkelvai/wsiruntime.h>

#include "pk_export.h"

PK_BEGIN_DECLS

/* Remembers the first non-null broker for the life of the process and routes the controller
 * library's diagnostics to it until provkit is unloaded; later calls and a null broker change
 * nothing. */
PK_EXPORT void initProvkit(const CMPIBroker *broker);

/* Sets status to rc with a new CMPI string of message ("Unknown error" when null) and logs it;
 * rc 0 releases the message and logs nothing.  The status owns its message string. */
PK_EXPORT void raiseCMPIError(const CMPIBroker *broker, CMPIStatus *status, CMPIrc rc,
                              const char *message);

/* Returns status to CMPI_RC_OK, releasing its message string. */
PK_EXPORT void clearCMPIError(const CMPIBroker *broker, CMPIStatus *status);

/* Formats format with first and second (pointer-sized values such as texts for %s; a null
 * second uses first alone, a null first none) into at most 1023 characters and raises it. */
PK_EXPORT void raiseFormattedError(const CMPIBroker *broker, CMPIStatus *status, CMPIrc rc,
                                   const char *format, const void *first, const void *second);

/* Raises CMPI_RC_ERR_FAILED with the message of the controller status record (kept by it). */
PK_EXPORT void raiseCMPIErrorKELVA(const CMPIBroker *broker, CMPIStatus *status,
                                   const KELVAStatus *statusRecord);

/* Logs the record's message at error severity under messageId when it reports a failure and
 * returns 1; returns 0 and logs nothing for a successful record. */
PK_EXPORT int logKELVAStatus(const CMPIBroker *broker, const char *messageId,
                             const KELVAStatus *statusRecord);

/* Logs text at error severity under messageId through the broker. */
PK_EXPORT void logErrorStatus(const CMPIBroker *broker, const char *messageId, const char *text);

/* Traces text at the verbose level (3) for component through the broker. */
PK_EXPORT void logDebugStatus(const CMPIBroker *broker, const char *component, const char *text);

/* Blocks the calling thread for the given seconds with the broker's mutex and condition; returns
 * at once when the broker cannot make them. */
PK_EXPORT void waitSecondsCMPIThread(const CMPIBroker *broker, unsigned int seconds);

/* 1 when methodName equals (strCompare) an entry of the null-terminated table, else 0. */
PK_EXPORT int isUnsupportedMethod(const char *methodName, const char **table);

/* New copy of the agent's version text, freed by the caller with wsifree; null with rc 1 in
 * status on failure. */
PK_EXPORT char *getSMISAgentVersionString(const CMPIBroker *broker, CMPIStatus *status);

PK_END_DECLS

#endif
