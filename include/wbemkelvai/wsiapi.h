/* Controller library requests: a request is a tree of named elements sent
 * over a server connection to one filer; its answer comes back as a tree.
 * The wire format is described in docs/protocol.md.
 *
 * Elements and connections are not shared between threads unless the caller
 * locks them; separate connections may be used from separate threads. */
#ifndef WBEMKELVAI_WSIAPI_H
#define WBEMKELVAI_WSIAPI_H

#include <stddef.h>
#include <stdint.h>

#include "wsi_export.h"
#include "wsiruntime.h"

WSI_BEGIN_DECLS

/* A named node of a request or an answer: a name, a text and child elements. */
typedef struct WSIElement WSIElement;
/* A connection to one filer; keeps its transport session alive across requests. */
typedef struct WSIServerInfo WSIServerInfo;
/* A walk over the children of an element. */
typedef struct WSIIterator WSIIterator;

/* Error numbers of failed answers that the library makes itself.  They lie in
 * 50000-50099, a range that no filer error number uses, so that a caller can
 * tell the library's failures from the filer's. */
#define WSI_ERR_UNREACHABLE 50000 /* nobody answered at the filer's address */
#define WSI_ERR_TIMEOUT 50001     /* no complete answer within the connection's time-out */
#define WSI_ERR_DROPPED 50002 /* the filer closed the connection before the answer was complete */
#define WSI_ERR_BAD_ANSWER 50003   /* the answer was malformed, hostile or too large */
#define WSI_ERR_AUTH 50004         /* the filer refused the user name and password */
#define WSI_ERR_HTTP 50005         /* the filer answered with an HTTP error status */
#define WSI_ERR_NO_TRANSPORT 50006 /* this build cannot reach filers over the network */
#define WSI_ERR_BAD_REQUEST 50007  /* the request could not be built or serialised */
#define WSI_ERR_TLS 50008          /* the filer's certificate or host name could not be verified */

/* Largest answer accepted, in bytes; a longer one becomes a failed answer. */
#define WSI_MAX_ANSWER_BYTES (16u * 1024u * 1024u)
/* Deepest element nesting accepted in an answer. */
#define WSI_MAX_ANSWER_DEPTH 64
/* Most elements accepted in one answer; more make a failed answer, so that a small
 * answer of many empty elements cannot take a great deal of memory. */
#define WSI_MAX_ANSWER_ELEMENTS 262144u

/* Meaning of connParam1 (the transport). */
#define WSI_TRANSPORT_HTTP 0           /* plain HTTP */
#define WSI_TRANSPORT_HTTPS 1          /* HTTPS, the filer's certificate and name are verified */
#define WSI_TRANSPORT_HTTPS_NOVERIFY 2 /* HTTPS without certificate verification */

/* ---- Requests ----------------------------------------------------------- */

/* New element named name (a request's API name or a parameter name: letters,
 * digits, '_', '-', '.', not starting with a digit, '-' or '.'); NULL when out of
 * memory or the name is not valid.  Free with freeElement. */
WSI_EXPORT WSIElement *_createElement(const char *name, const char *file, int line);
/* Appends a child named name holding the text (NULL counts as empty); non-zero on success. */
WSI_EXPORT int addStringElement(WSIElement *element, const char *name, const char *value);
/* Appends a child named name holding the decimal integer; non-zero on success. */
WSI_EXPORT int addIntElement(WSIElement *element, const char *name, long long value);
/* Appends a child named name holding "true" (value non-zero) or "false"; non-zero on success. */
WSI_EXPORT int addBoolElement(WSIElement *element, const char *name, int value);
/* Appends child to parent, which then owns it; non-zero on success (on failure the
 * child stays the caller's). */
WSI_EXPORT int addChildElement(WSIElement *parent, WSIElement *child);
/* Frees an element with all its children (requests and answers); NULL is ignored. */
WSI_EXPORT void freeElement(WSIElement *element);

/* ---- Connections -------------------------------------------------------- */

/* New connection to the filer at host, with basic authentication as userName and
 * password.  connParam1 is the transport (WSI_TRANSPORT_...), connParam2 the TCP
 * port (0: 80 for HTTP, 443 for HTTPS), connParam3 the time-out of one request in
 * seconds (0 or negative: 60).  Nothing is contacted yet.  NULL when host is NULL
 * or empty or memory runs out.  Destroy with destroyServerInfo. */
WSI_EXPORT WSIServerInfo *_createServerInfo(const char *host, const char *userName,
                                            const char *password, int32_t connParam3,
                                            int32_t connParam1, int32_t connParam2,
                                            const char *file, int line);
/* Closes the connection's session and frees it; NULL is ignored. */
WSI_EXPORT void destroyServerInfo(WSIServerInfo *server);
/* Sends the request and returns the answer, which is never NULL unless memory runs
 * out: a failure to reach the filer or to read its answer is a failed answer with a
 * WSI_ERR_... number.  The request stays the caller's.  Free the answer with freeElement. */
WSI_EXPORT WSIElement *_invokeServerElement(WSIServerInfo *server, WSIElement *request,
                                            const char *file, int line);

/* ---- Answers ------------------------------------------------------------ */

/* 1 when the answer says passed, 0 when it failed or is NULL. */
WSI_EXPORT int checkResultStatus(const WSIElement *answer);
/* New text "<host>: <reason> (error <number>)" naming the filer of the connection;
 * free with wsifree.  NULL when out of memory. */
WSI_EXPORT char *getErrorWithIP(const WSIElement *answer, const WSIServerInfo *server);
/* The filer's error number of a failed answer; 0 for a passed or NULL answer. */
WSI_EXPORT int getResultErrorNum(const WSIElement *answer);
/* The reason of a failed answer, owned by the answer; NULL for a passed or NULL answer. */
WSI_EXPORT const char *getResultErrorString(const WSIElement *answer);
/* First child named name (ASCII case ignored), owned by the element; NULL when none. */
WSI_EXPORT WSIElement *getChildElement(const WSIElement *element, const char *name);
/* Text of the first child named name, owned by the element; NULL when there is no such child. */
WSI_EXPORT const char *getStringElement(const WSIElement *element, const char *name);
/* Integer in the text of the first child named name (decimal, optional sign, 64-bit);
 * defaultValue when there is no such child or its text is not a whole number. */
WSI_EXPORT long long getIntElement(const WSIElement *element, const char *name,
                                   long long defaultValue);
/* 1 for "true" (or a non-zero number), 0 for "false" (or 0) in the first child named
 * name; defaultValue otherwise. */
WSI_EXPORT int getBoolElement(const WSIElement *element, const char *name, int defaultValue);
/* The element's own name, owned by it; NULL for NULL. */
WSI_EXPORT const char *getElementName(const WSIElement *element);
/* The element's own text, owned by it ("" when it has none); NULL for NULL. */
WSI_EXPORT const char *getElementContent(const WSIElement *element);
/* New walk over the children of element, in order (a NULL element yields nothing);
 * NULL when out of memory.  Release with releaseIterator. */
WSI_EXPORT WSIIterator *_createIterator(const WSIElement *element, const char *file, int line);
/* Next child (owned by the element), or NULL at the end or for a NULL iterator. */
WSI_EXPORT WSIElement *getNextElement(WSIIterator *iterator);
/* Frees the walk; NULL is ignored. */
WSI_EXPORT void releaseIterator(WSIIterator *iterator);

/* ---- In-process filers -------------------------------------------------- */

/* Outcomes of an in-process request, as the handler returns them. */
#define WSI_INPROC_OK 0           /* the answer was written */
#define WSI_INPROC_UNREACHABLE 1  /* the filer is off-line: nobody answers */
#define WSI_INPROC_DROPPED 2      /* the connection was dropped; what was written is partial */
#define WSI_INPROC_TIMEOUT 3      /* the filer did not answer within timeoutMillis */
#define WSI_INPROC_UNAUTHORIZED 4 /* the user name or password was refused */

/* Receives (part of) an in-process answer; may be called several times. */
typedef void (*WSIAnswerWriter)(void *answerContext, const char *bytes, size_t length);
/* Serves one request (the exact XML text HTTP would carry) for a filer living in this
 * process, writing the XML answer through write; returns a WSI_INPROC_... outcome. */
typedef int (*WSIInProcessHandler)(void *handlerContext, const char *userName, const char *password,
                                   const char *request, size_t requestLength, long timeoutMillis,
                                   WSIAnswerWriter write, void *answerContext);

/* Routes every connection made to host (ASCII case ignored) to the handler instead of
 * the network, replacing an earlier registration of that host; non-zero on success. */
WSI_EXPORT int wsiRegisterInProcessFiler(const char *host, WSIInProcessHandler handler,
                                         void *handlerContext);
/* Serves one request, given as its element tree (read it with the answer
 * functions above), for a filer living in this process: either sets *answer to an
 * answer tree made with wsiCreateAnswer (the library takes it over), or writes the
 * answer's XML text through write; returns a WSI_INPROC_... outcome. */
typedef int (*WSIInProcessTreeHandler)(void *handlerContext, const char *userName,
                                       const char *password, const WSIElement *request,
                                       long timeoutMillis, WSIElement **answer,
                                       WSIAnswerWriter write, void *answerContext);

/* Like wsiRegisterInProcessFiler, but requests reach the handler as element trees, so
 * that no XML is written or (for tree answers) read: works in builds without the XML
 * codec.  Non-zero on success. */
WSI_EXPORT int wsiRegisterInProcessTreeFiler(const char *host, WSIInProcessTreeHandler handler,
                                             void *handlerContext);
/* New answer element "results": passed when passed is non-zero, else failed with the
 * error number and reason (NULL counts as empty).  Add children with the add...
 * functions.  NULL when out of memory.  Free with freeElement, unless an in-process
 * handler hands it back. */
WSI_EXPORT WSIElement *wsiCreateAnswer(int passed, int errorNumber, const char *reason);
/* Removes the registration of host; waits for requests in flight to it to finish. */
WSI_EXPORT void wsiUnregisterInProcessFiler(const char *host);

/* Callers' wrappers that pass their source place to the library's diagnostics. */
#define createElement(name) _createElement((name), __FILE__, __LINE__)
#define createServerInfo(host, user, password, p3, p1, p2) \
  _createServerInfo((host), (user), (password), (p3), (p1), (p2), __FILE__, __LINE__)
#define invokeServerElement(server, request) \
  _invokeServerElement((server), (request), __FILE__, __LINE__)
#define createIterator(element) _createIterator((element), __FILE__, __LINE__)

WSI_END_DECLS

#endif
