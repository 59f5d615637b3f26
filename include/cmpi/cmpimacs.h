/*
 * cmpimacs.h - convenience macros of the CMPI 2.0 interface.
 *
 * Each macro is a thin call through the object's function table; none adds
 * checks of its own, so a macro costs exactly the call it stands for.
 * Statement macros are wrapped in do/while so they behave as one statement
 * after an unbraced if.
 */
#ifndef _CMPIMACS_H_
#define _CMPIMACS_H_

#include "cmpift.h"

/* ========================================================================
 * Status and return.
 */

/* Return from the enclosing function with rc and no message. */
#define CMReturn(rc)                                   \
  do {                                                 \
    CMPIStatus cmReturnStatus_ = {(CMPIrc)(rc), NULL}; \
    return cmReturnStatus_;                            \
  } while (0)

/* Return with rc and an existing CMPIString as message. */
#define CMReturnWithString(rc, str)                     \
  do {                                                  \
    CMPIStatus cmReturnStatus_ = {(CMPIrc)(rc), (str)}; \
    return cmReturnStatus_;                             \
  } while (0)

/* Return with rc and a message made from a C string through broker b. */
#define CMReturnWithChars(b, rc, chars)                            \
  do {                                                             \
    CMPIStatus cmReturnStatus_ = {(CMPIrc)(rc), NULL};             \
    cmReturnStatus_.msg = (b)->eft->newString((b), (chars), NULL); \
    return cmReturnStatus_;                                        \
  } while (0)

/* st must not be NULL. */
#define CMSetStatus(st, rcp)  \
  do {                        \
    (st)->rc = (CMPIrc)(rcp); \
    (st)->msg = NULL;         \
  } while (0)

#define CMSetStatusWithString(st, rcp, string) \
  do {                                         \
    (st)->rc = (CMPIrc)(rcp);                  \
    (st)->msg = (string);                      \
  } while (0)

#define CMSetStatusWithChars(mb, st, rcp, chars)           \
  do {                                                     \
    (st)->rc = (CMPIrc)(rcp);                              \
    (st)->msg = (mb)->eft->newString((mb), (chars), NULL); \
  } while (0)

/* ========================================================================
 * Tests on objects and data.
 */

/* True for a NULL object or one whose handle is NULL (hdl is first). */
#define CMIsNullObject(o) ((o) == NULL || *((void *const *)(o)) == NULL)

#define CMIsNullValue(v) ((v).state & CMPI_nullValue)
#define CMIsKeyValue(v) ((v).state & CMPI_keyValue)
#define CMIsArray(v) ((v).type & CMPI_ARRAY)

/* ========================================================================
 * Any encapsulated object: release and clone sit at the same place in
 * every table, which is what makes these generic.
 */
#define CMClone(o, rc) ((o)->ft->clone((o), (rc)))
#define CMRelease(o) ((o)->ft->release((o)))

/* ========================================================================
 * Broker encapsulated-object services (eft).
 */
#define CMNewInstance(b, c, rc) ((b)->eft->newInstance((b), (c), (rc)))
#define CMNewObjectPath(b, n, c, rc) ((b)->eft->newObjectPath((b), (n), (c), (rc)))
#define CMNewArgs(b, rc) ((b)->eft->newArgs((b), (rc)))
#define CMNewString(b, s, rc) ((b)->eft->newString((b), (s), (rc)))
#define CMNewArray(b, c, t, rc) ((b)->eft->newArray((b), (c), (t), (rc)))
#define CMNewDateTime(b, rc) ((b)->eft->newDateTime((b), (rc)))
#define CMNewDateTimeFromBinary(b, d, i, rc) ((b)->eft->newDateTimeFromBinary((b), (d), (i), (rc)))
#define CMNewDateTimeFromChars(b, d, rc) ((b)->eft->newDateTimeFromChars((b), (d), (rc)))
#define CMNewSelectExp(b, q, l, p, rc) ((b)->eft->newSelectExp((b), (q), (l), (p), (rc)))
#define CMNewCMPIError(b, owner, msgID, msg, sev, pc, cimStatusCode, rc) \
  ((b)->eft->newCMPIError((b), (owner), (msgID), (msg), (sev), (pc), (cimStatusCode), (rc)))

#define CMClassPathIsA(b, p, pn, rc) ((b)->eft->classPathIsA((b), (p), (pn), (rc)))

/* Debugging aids on any encapsulated object. */
#define CDToString(b, o, rc) ((b)->eft->toString((b), (const void *)(o), (rc)))
#define CDIsOfType(b, o, t, rc) ((b)->eft->isOfType((b), (const void *)(o), (t), (rc)))
#define CDGetType(b, o, rc) ((b)->eft->getType((b), (const void *)(o), (rc)))

/* severity is a CMPISeverity, level a CMPILevel; string may be NULL. */
#define CMLogMessage(b, severity, id, text, string) \
  ((b)->eft->logMessage((b), (severity), (id), (text), (string)))
#define CMTraceMessage(b, level, component, text, string) \
  ((b)->eft->trace((b), (level), (component), (text), (string)))

#define CMOpenMessageFile(b, mf, mfh) ((b)->eft->openMessageFile((b), (mf), (mfh)))
#define CMCloseMessageFile(b, mfh) ((b)->eft->closeMessageFile((b), (mfh)))

/*
 * Message insertion values. Each expands to the (type, value) pair the
 * variadic getMessage functions read, promoted to the type they read it as.
 */
#define CMFmtSint(v) CMPI_sint32, ((long int)(v))
#define CMFmtUint(v) CMPI_uint32, ((unsigned long int)(v))
#define CMFmtSint64(v) CMPI_sint64, ((long long int)(v))
#define CMFmtUint64(v) CMPI_uint64, ((unsigned long long int)(v))
#define CMFmtReal(v) CMPI_real64, ((double)(v))
#define CMFmtBoolean(v) CMPI_boolean, ((int)(v))
#define CMFmtChars(v) CMPI_chars, ((const char *)(v))
#define CMFmtString(v) CMPI_string, ((const CMPIString *)(v))

/* The parms argument of CMGetMessage: a count, then that many CMFmt pairs. */
#define CMFmtArgs0() 0
#define CMFmtArgs1(v1) 1, v1
#define CMFmtArgs2(v1, v2) 2, v1, v2
#define CMFmtArgs3(v1, v2, v3) 3, v1, v2, v3
#define CMFmtArgs4(v1, v2, v3, v4) 4, v1, v2, v3, v4
#define CMFmtArgs5(v1, v2, v3, v4, v5) 5, v1, v2, v3, v4, v5
#define CMFmtArgs6(v1, v2, v3, v4, v5, v6) 6, v1, v2, v3, v4, v5, v6
#define CMFmtArgs7(v1, v2, v3, v4, v5, v6, v7) 7, v1, v2, v3, v4, v5, v6, v7
#define CMFmtArgs8(v1, v2, v3, v4, v5, v6, v7, v8) 8, v1, v2, v3, v4, v5, v6, v7, v8
#define CMFmtArgs9(v1, v2, v3, v4, v5, v6, v7, v8, v9) 9, v1, v2, v3, v4, v5, v6, v7, v8, v9
#define CMFmtArgs10(v1, v2, v3, v4, v5, v6, v7, v8, v9, v10) \
  10, v1, v2, v3, v4, v5, v6, v7, v8, v9, v10

/* parms is left unparenthesised on purpose: it expands to several args. */
#define CMGetMessage(b, id, def, rc, parms) ((b)->eft->getMessage((b), (id), (def), (rc), parms))
#define CMGetMessage2(b, id, mfh, def, rc, parms) \
  ((b)->eft->getMessage2((b), (id), (mfh), (def), (rc), parms))

/* ========================================================================
 * Strings. CMGetCharPtr reads the handle directly and relies on the object
 * manager keeping the characters there; CMGetCharsPtr goes through the table.
 */
#define CMGetCharPtr(s) ((char *)(s)->hdl)
#define CMGetCharsPtr(st, rc) ((st)->ft->getCharPtr((st), (rc)))

/* ========================================================================
 * Instances. Values are passed by address; for CMPI_chars the address is
 * the string itself.
 */
#define CMGetProperty(i, n, rc) ((i)->ft->getProperty((i), (n), (rc)))
#define CMGetPropertyAt(i, num, s, rc) ((i)->ft->getPropertyAt((i), (num), (s), (rc)))
#define CMSetProperty(i, n, v, t) ((i)->ft->setProperty((i), (n), (const CMPIValue *)(v), (t)))
#define CMGetPropertyCount(i, rc) ((i)->ft->getPropertyCount((i), (rc)))
#define CMGetObjectPath(i, rc) ((i)->ft->getObjectPath((i), (rc)))
#define CMSetObjectPath(i, op) ((i)->ft->setObjectPath((i), (op)))
#define CMSetPropertyFilter(i, pl, k) ((i)->ft->setPropertyFilter((i), (pl), (k)))
#define CMSetPropertyWithOrigin(i, n, v, t, o) \
  ((i)->ft->setPropertyWithOrigin((i), (n), (const CMPIValue *)(v), (t), (o)))

/* ========================================================================
 * Object paths.
 */
#define CMSetHostname(p, n) ((p)->ft->setHostname((p), (n)))
#define CMGetHostname(p, rc) ((p)->ft->getHostname((p), (rc)))
#define CMSetNameSpace(p, n) ((p)->ft->setNameSpace((p), (n)))
#define CMGetNameSpace(p, rc) ((p)->ft->getNameSpace((p), (rc)))
#define CMSetClassName(p, n) ((p)->ft->setClassName((p), (n)))
#define CMGetClassName(p, rc) ((p)->ft->getClassName((p), (rc)))
#define CMAddKey(p, n, v, t) ((p)->ft->addKey((p), (n), (const CMPIValue *)(v), (t)))
#define CMGetKey(p, n, rc) ((p)->ft->getKey((p), (n), (rc)))
#define CMGetKeyAt(p, i, n, rc) ((p)->ft->getKeyAt((p), (i), (n), (rc)))
#define CMGetKeyCount(p, rc) ((p)->ft->getKeyCount((p), (rc)))
#define CMSetNameSpaceFromObjectPath(p, s) ((p)->ft->setNameSpaceFromObjectPath((p), (s)))
#define CMSetHostAndNameSpaceFromObjectPath(p, s) \
  ((p)->ft->setHostAndNameSpaceFromObjectPath((p), (s)))
#define CMGetClassQualifier(op, qName, rc) ((op)->ft->getClassQualifier((op), (qName), (rc)))
#define CMGetPropertyQualifier(op, pName, qName, rc) \
  ((op)->ft->getPropertyQualifier((op), (pName), (qName), (rc)))
#define CMGetMethodQualifier(op, methodName, qName, rc) \
  ((op)->ft->getMethodQualifier((op), (methodName), (qName), (rc)))
#define CMGetParameterQualifier(op, mName, pName, qName, rc) \
  ((op)->ft->getParameterQualifier((op), (mName), (pName), (qName), (rc)))
#define CMObjectPathToString(p, rc) ((p)->ft->toString((p), (rc)))

/* ========================================================================
 * Method arguments.
 */
#define CMAddArg(a, n, v, t) ((a)->ft->addArg((a), (n), (const CMPIValue *)(v), (t)))
#define CMGetArg(a, n, rc) ((a)->ft->getArg((a), (n), (rc)))
#define CMGetArgAt(a, p, n, rc) ((a)->ft->getArgAt((a), (p), (n), (rc)))
#define CMGetArgCount(a, rc) ((a)->ft->getArgCount((a), (rc)))

/* ========================================================================
 * Arrays and enumerations.
 */
#define CMGetArrayCount(a, rc) ((a)->ft->getSize((a), (rc)))
#define CMGetArrayType(a, rc) ((a)->ft->getSimpleType((a), (rc)))
#define CMGetArrayElementAt(a, n, rc) ((a)->ft->getElementAt((a), (n), (rc)))
#define CMSetArrayElementAt(a, n, v, t) \
  ((a)->ft->setElementAt((a), (n), (const CMPIValue *)(v), (t)))

#define CMGetNext(n, rc) ((n)->ft->getNext((n), (rc)))
#define CMHasNext(n, rc) ((n)->ft->hasNext((n), (rc)))
#define CMToArray(n, rc) ((n)->ft->toArray((n), (rc)))

/* ========================================================================
 * Date and time.
 */
#define CMGetBinaryFormat(d, rc) ((d)->ft->getBinaryFormat((d), (rc)))
#define CMGetStringFormat(d, rc) ((d)->ft->getStringFormat((d), (rc)))
#define CMIsInterval(d, rc) ((d)->ft->isInterval((d), (rc)))

/* ========================================================================
 * Results and contexts.
 */
#define CMReturnData(r, v, t) ((r)->ft->returnData((r), (const CMPIValue *)(v), (t)))
#define CMReturnInstance(r, i) ((r)->ft->returnInstance((r), (i)))
#define CMReturnObjectPath(r, o) ((r)->ft->returnObjectPath((r), (o)))
#define CMReturnDone(r) ((r)->ft->returnDone((r)))
#define CMReturnError(r, e) ((r)->ft->returnError((r), (e)))

#define CMGetContextEntry(c, n, rc) ((c)->ft->getEntry((c), (n), (rc)))
#define CMGetContextEntryAt(c, p, n, rc) ((c)->ft->getEntryAt((c), (p), (n), (rc)))
#define CMGetContextEntryCount(c, rc) ((c)->ft->getEntryCount((c), (rc)))
#define CMAddContextEntry(c, n, v, t) ((c)->ft->addEntry((c), (n), (const CMPIValue *)(v), (t)))

/* ========================================================================
 * Queries: select expressions, conditions, sub-conditions, predicates.
 */
#define CMGetSelExpString(s, rc) ((s)->ft->getString((s), (rc)))
#define CMEvaluateSelExp(s, i, r) ((s)->ft->evaluate((s), (i), (r)))
#define CMEvaluateSelExpUsingAccessor(s, i, p, r) \
  ((s)->ft->evaluateUsingAccessor((s), (i), (p), (r)))
#define CMGetDoc(s, rc) ((s)->ft->getDOC((s), (rc)))
#define CMGetCod(s, rc) ((s)->ft->getCOD((s), (rc)))

#define CMGetSubCondCountAndType(c, t, rc) ((c)->ft->getCountAndType((c), (t), (rc)))
#define CMGetSubCondAt(c, p, rc) ((c)->ft->getSubCondAt((c), (p), (rc)))

#define CMGetPredicateCount(s, rc) ((s)->ft->getCount((s), (rc)))
#define CMGetPredicateAt(s, p, rc) ((s)->ft->getPredicateAt((s), (p), (rc)))
#define CMGetPredicate(s, n, rc) ((s)->ft->getPredicate((s), (n), (rc)))

#define CMGetPredicateData(p, t, o, n, v) ((p)->ft->getData((p), (t), (o), (n), (v)))
#define CMEvaluatePredicateUsingAccessor(p, a, parm, rc) \
  ((p)->ft->evaluateUsingAccessor((p), (a), (parm), (rc)))

/* ========================================================================
 * Extended errors.
 */
#define CMGetErrorType(e, rc) ((e)->ft->getErrorType((e), (rc)))
#define CMGetOtherErrorType(e, rc) ((e)->ft->getOtherErrorType((e), (rc)))
#define CMGetOwningEntity(e, rc) ((e)->ft->getOwningEntity((e), (rc)))
#define CMGetMessageID(e, rc) ((e)->ft->getMessageID((e), (rc)))
#define CMGetErrorMessage(e, rc) ((e)->ft->getMessage((e), (rc)))
#define CMGetPerceivedSeverity(e, rc) ((e)->ft->getPerceivedSeverity((e), (rc)))
#define CMGetProbableCause(e, rc) ((e)->ft->getProbableCause((e), (rc)))
#define CMGetProbableCauseDescription(e, rc) ((e)->ft->getProbableCauseDescription((e), (rc)))
#define CMGetRecommendedActions(e, rc) ((e)->ft->getRecommendedActions((e), (rc)))
#define CMGetErrorSource(e, rc) ((e)->ft->getErrorSource((e), (rc)))
#define CMGetErrorSourceFormat(e, rc) ((e)->ft->getErrorSourceFormat((e), (rc)))
#define CMGetOtherErrorSourceFormat(e, rc) ((e)->ft->getOtherErrorSourceFormat((e), (rc)))
#define CMGetCIMStatusCode(e, rc) ((e)->ft->getCIMStatusCode((e), (rc)))
#define CMGetCIMStatusCodeDescription(e, rc) ((e)->ft->getCIMStatusCodeDescription((e), (rc)))
#define CMGetMessageArguments(e, rc) ((e)->ft->getMessageArguments((e), (rc)))

#define CMSetErrorType(e, et) ((e)->ft->setErrorType((e), (et)))
#define CMSetOtherErrorType(e, ot) ((e)->ft->setOtherErrorType((e), (ot)))
#define CMSetProbableCauseDescription(e, pcd) ((e)->ft->setProbableCauseDescription((e), (pcd)))
#define CMSetRecommendedActions(e, ra) ((e)->ft->setRecommendedActions((e), (ra)))
#define CMSetErrorSource(e, es) ((e)->ft->setErrorSource((e), (es)))
#define CMSetErrorSourceFormat(e, esf) ((e)->ft->setErrorSourceFormat((e), (esf)))
#define CMSetOtherErrorSourceFormat(e, oesf) ((e)->ft->setOtherErrorSourceFormat((e), (oesf)))
#define CMSetCIMStatusCodeDescription(e, cd) ((e)->ft->setCIMStatusCodeDescription((e), (cd)))
#define CMSetMessageArguments(e, values) ((e)->ft->setMessageArguments((e), (values)))

/* ========================================================================
 * Broker up-calls (bft).
 */
#define CBGetClassification(mb) ((mb)->bft->brokerCapabilities)
#define CBBrokerName(mb) ((mb)->bft->brokerName)
#define CBBrokerVersion(mb) ((mb)->bft->brokerVersion)

/*
 * A thread the provider starts itself must be attached before it calls
 * the broker: prepare on the calling thread, attach on the new one.
 */
#define CBPrepareAttachThread(mb, c) ((mb)->bft->prepareAttachThread((mb), (c)))
#define CBAttachThread(mb, c) ((mb)->bft->attachThread((mb), (c)))
#define CBDetachThread(mb, c) ((mb)->bft->detachThread((mb), (c)))

#define CBDeliverIndication(mb, c, n, i) ((mb)->bft->deliverIndication((mb), (c), (n), (i)))
#define CBEnumInstanceNames(mb, c, p, rc) ((mb)->bft->enumerateInstanceNames((mb), (c), (p), (rc)))
#define CBEnumInstances(mb, c, p, pr, rc) \
  ((mb)->bft->enumerateInstances((mb), (c), (p), (pr), (rc)))
#define CBGetInstance(mb, c, p, pr, rc) ((mb)->bft->getInstance((mb), (c), (p), (pr), (rc)))
#define CBCreateInstance(mb, c, p, i, rc) ((mb)->bft->createInstance((mb), (c), (p), (i), (rc)))
#define CBModifyInstance(mb, c, p, i, pr) ((mb)->bft->modifyInstance((mb), (c), (p), (i), (pr)))
#define CBDeleteInstance(mb, c, p) ((mb)->bft->deleteInstance((mb), (c), (p)))
#define CBExecQuery(mb, c, p, q, l, rc) ((mb)->bft->execQuery((mb), (c), (p), (q), (l), (rc)))
#define CBAssociators(mb, c, p, acl, rcl, r, rr, pr, rc) \
  ((mb)->bft->associators((mb), (c), (p), (acl), (rcl), (r), (rr), (pr), (rc)))
#define CBAssociatorNames(mb, c, p, acl, rcl, r, rr, rc) \
  ((mb)->bft->associatorNames((mb), (c), (p), (acl), (rcl), (r), (rr), (rc)))
#define CBReferences(mb, c, p, rcl, r, pr, rc) \
  ((mb)->bft->references((mb), (c), (p), (rcl), (r), (pr), (rc)))
#define CBReferenceNames(mb, c, p, rcl, r, rc) \
  ((mb)->bft->referenceNames((mb), (c), (p), (rcl), (r), (rc)))
#define CBInvokeMethod(mb, c, p, m, ain, aout, rc) \
  ((mb)->bft->invokeMethod((mb), (c), (p), (m), (ain), (aout), (rc)))
#define CBSetProperty(mb, c, p, n, v, t) \
  ((mb)->bft->setProperty((mb), (c), (p), (n), (const CMPIValue *)(v), (t)))
#define CBGetProperty(mb, c, p, n, rc) ((mb)->bft->getProperty((mb), (c), (p), (n), (rc)))

/* ========================================================================
 * MI stubs. Each defines the MI's function table from functions named
 * <pfx><Operation>, and the factory <pn>_Create_<Kind>MI that the object
 * manager looks up. broker names a static const CMPIBroker * the provider
 * declares; the factory stores the object manager's broker there, then
 * runs hook (a statement, or CMNoHook), which may use ctx and rc.
 * The tables are filled to the 2.0 length, so every function must exist.
 */
#define CMNoHook

#define CMInstanceMIStub(pfx, pn, broker, hook)                                                  \
  static CMPIInstanceMIFT instMIFT__ = {                                                         \
      CMPICurrentVersion,     CMPICurrentVersion,  "instance" #pn,   pfx##Cleanup,               \
      pfx##EnumInstanceNames, pfx##EnumInstances,  pfx##GetInstance, pfx##CreateInstance,        \
      pfx##ModifyInstance,    pfx##DeleteInstance, pfx##ExecQuery,                               \
  };                                                                                             \
  CMPI_EXTERN_C CMPIInstanceMI *pn##_Create_InstanceMI(const CMPIBroker *brkr,                   \
                                                       const CMPIContext *ctx, CMPIStatus *rc) { \
    static CMPIInstanceMI mi = {NULL, &instMIFT__};                                              \
    (void)ctx;                                                                                   \
    (void)rc;                                                                                    \
    broker = brkr;                                                                               \
    hook;                                                                                        \
    return &mi;                                                                                  \
  }

#define CMAssociationMIStub(pfx, pn, broker, hook)                                          \
  static CMPIAssociationMIFT assocMIFT__ = {                                                \
      CMPICurrentVersion, CMPICurrentVersion,   "association" #pn, pfx##AssociationCleanup, \
      pfx##Associators,   pfx##AssociatorNames, pfx##References,   pfx##ReferenceNames,     \
  };                                                                                        \
  CMPI_EXTERN_C CMPIAssociationMI *pn##_Create_AssociationMI(                               \
      const CMPIBroker *brkr, const CMPIContext *ctx, CMPIStatus *rc) {                     \
    static CMPIAssociationMI mi = {NULL, &assocMIFT__};                                     \
    (void)ctx;                                                                              \
    (void)rc;                                                                               \
    broker = brkr;                                                                          \
    hook;                                                                                   \
    return &mi;                                                                             \
  }

#define CMMethodMIStub(pfx, pn, broker, hook)                                                      \
  static CMPIMethodMIFT methMIFT__ = {                                                             \
      CMPICurrentVersion, CMPICurrentVersion, "method" #pn, pfx##MethodCleanup, pfx##InvokeMethod, \
  };                                                                                               \
  CMPI_EXTERN_C CMPIMethodMI *pn##_Create_MethodMI(const CMPIBroker *brkr, const CMPIContext *ctx, \
                                                   CMPIStatus *rc) {                               \
    static CMPIMethodMI mi = {NULL, &methMIFT__};                                                  \
    (void)ctx;                                                                                     \
    (void)rc;                                                                                      \
    broker = brkr;                                                                                 \
    hook;                                                                                          \
    return &mi;                                                                                    \
  }

#define CMPropertyMIStub(pfx, pn, broker, hook)                                                  \
  static CMPIPropertyMIFT propMIFT__ = {                                                         \
      CMPICurrentVersion,         CMPICurrentVersion, "property" #pn,                            \
      pfx##PropertyCleanup,       pfx##SetProperty,   pfx##GetProperty,                          \
      pfx##SetPropertyWithOrigin,                                                                \
  };                                                                                             \
  CMPI_EXTERN_C CMPIPropertyMI *pn##_Create_PropertyMI(const CMPIBroker *brkr,                   \
                                                       const CMPIContext *ctx, CMPIStatus *rc) { \
    static CMPIPropertyMI mi = {NULL, &propMIFT__};                                              \
    (void)ctx;                                                                                   \
    (void)rc;                                                                                    \
    broker = brkr;                                                                               \
    hook;                                                                                        \
    return &mi;                                                                                  \
  }

/* The members the indication table gained at 1.0. */
#define CMIndicationMIStubExtensions(pfx) pfx##EnableIndications, pfx##DisableIndications,

#define CMIndicationMIStub(pfx, pn, broker, hook)                                        \
  static CMPIIndicationMIFT indMIFT__ = {                                                \
      CMPICurrentVersion,     CMPICurrentVersion,    "indication" #pn,                   \
      pfx##IndicationCleanup, pfx##AuthorizeFilter,  pfx##MustPoll,                      \
      pfx##ActivateFilter,    pfx##DeActivateFilter, CMIndicationMIStubExtensions(pfx)}; \
  CMPI_EXTERN_C CMPIIndicationMI *pn##_Create_IndicationMI(                              \
      const CMPIBroker *brkr, const CMPIContext *ctx, CMPIStatus *rc) {                  \
    static CMPIIndicationMI mi = {NULL, &indMIFT__};                                     \
    (void)ctx;                                                                           \
    (void)rc;                                                                            \
    broker = brkr;                                                                       \
    hook;                                                                                \
    return &mi;                                                                          \
  }

#endif /* _CMPIMACS_H_ */
