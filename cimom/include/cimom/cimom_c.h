/* The embedded object manager from C: enough to give C tests a real broker
 * and to check afterwards that nothing was left unreleased or misused.  The
 * object manager is the one of cimom.h; see there and docs/cimom.md. */
#ifndef CIMOM_CIMOM_C_H
#define CIMOM_CIMOM_C_H

#include <stddef.h>

#include <cmpidt.h>
#include <cmpift.h>

#if defined(__GNUC__)
#define CIMOM_C_EXPORT __attribute__((visibility("default")))
#else
#define CIMOM_C_EXPORT
#endif

#ifdef __cplusplus
extern "C" {
#endif

typedef struct CimomManager CimomManager;

/* A new object manager at CMPI level 200 or 100, strict when strict is non-zero;
 * freed with cimomFree.  Null when it could not be made. */
CIMOM_C_EXPORT CimomManager *cimomNew(int cmpiVersion, int strict);
/* Frees the object manager and everything it still holds; null is ignored. */
CIMOM_C_EXPORT void cimomFree(CimomManager *manager);
/* Its broker and the context of a provider call; both belong to it. */
CIMOM_C_EXPORT const CMPIBroker *cimomBroker(CimomManager *manager);
CIMOM_C_EXPORT const CMPIContext *cimomContext(CimomManager *manager);
/* Objects handed out and not yet released; misuses seen; log messages recorded. */
CIMOM_C_EXPORT size_t cimomLiveObjects(const CimomManager *manager);
CIMOM_C_EXPORT size_t cimomMisuses(const CimomManager *manager);
CIMOM_C_EXPORT size_t cimomLogCount(const CimomManager *manager);
/* Makes the nth call of the named member ("BrokerEnc.newString" ...) fail once
 * with rc and a null result; zero when the name is no member. */
CIMOM_C_EXPORT int cimomInject(CimomManager *manager, const char *function, unsigned nth,
                               CMPIrc rc);

#ifdef __cplusplus
}
#endif

#endif
