/* Controller library runtime: lists, memory, strings, status records,
 * diagnostics and time.  Everything here is safe to call from any thread;
 * a single list or status record is not, unless the caller locks it. */
#ifndef WBEMKELVAI_WSIRUNTIME_H
#define WBEMKELVAI_WSIRUNTIME_H

#include <stddef.h>
#include <stdint.h>

#include "wsi_export.h"

WSI_BEGIN_DECLS

/* ---- Lists ------------------------------------------------------------ */

/* Ordered list of untyped element pointers.  The list never owns its
 * elements: whoever frees it names the function that frees them. */
typedef struct WSIList WSIList;
/* A place in a list.  Valid until the element there is removed by any means
 * other than WSIList_removeIter on this very position, or the list is freed. */
typedef struct WSIListPos WSIListPos;

typedef void *(*WSIListCopyFunc)(void *element);
typedef void (*WSIListFreeFunc)(void *element);
/* Non-zero when the element matches the key. */
typedef int (*WSIListMatchFunc)(const void *element, const void *key);

/* New empty list, or NULL when out of memory; free it with WSIList_free. */
WSI_EXPORT WSIList *WSIList_new(void);
/* Appends the element; non-zero on success.  On failure the element stays the caller's. */
WSI_EXPORT int WSIList_append(WSIList *list, void *element);
/* Position of the first element, or NULL when the list is empty or NULL. */
WSI_EXPORT WSIListPos *WSIList_getFirst(WSIList *list);
/* Position after the given one, or NULL at the end. */
WSI_EXPORT WSIListPos *WSIList_getNext(WSIListPos *position);
/* Element at a position (borrowed), or NULL for a NULL position. */
WSI_EXPORT void *WSIList_getElement(WSIListPos *position);
/* First element for which match(element, key) is non-zero; with a NULL match
 * the first element.  NULL when none (borrowed). */
WSI_EXPORT void *WSIList_getFirstElement(WSIList *list, WSIListMatchFunc match, const void *key);
/* Number of elements; 0 for a NULL list. */
WSI_EXPORT unsigned int WSIList_getLength(WSIList *list);
/* Non-zero when the list is empty or NULL. */
WSI_EXPORT int WSIList_isEmpty(WSIList *list);
/* Unlinks the first occurrence of the element (by identity) and returns it, or NULL
 * when it is not in the list; the element is the caller's again. */
WSI_EXPORT void *WSIList_remove(WSIList *list, void *element);
/* Unlinks the element at *position and returns it; *position moves back so that
 * the next WSIList_getNext(*position) yields the element that followed. */
WSI_EXPORT void *WSIList_removeIter(WSIListPos **position);
/* New list of copy(element) for each element, in order; NULL when a copy or an
 * allocation fails, after freeing the copies made so far with freeElement. */
WSI_EXPORT WSIList *WSIList_copy(WSIList *list, WSIListCopyFunc copy, WSIListFreeFunc freeElement);
/* Frees every element with freeElement (when not NULL), then the list. */
WSI_EXPORT void WSIList_free(WSIList *list, WSIListFreeFunc freeElement);

/* ---- Memory ----------------------------------------------------------- */

/* Zero-filled block of count * size bytes, or NULL (also on overflow); free with wsifree. */
WSI_EXPORT void *wsicalloc(size_t count, size_t size);
/* New copy of the text, or NULL for NULL or when out of memory; free with wsifree. */
WSI_EXPORT char *wsistrdup(const char *text);
/* Releases a block or a text that this library returned; NULL is ignored. */
WSI_EXPORT void wsifree(void *block);

/* ---- Strings ---------------------------------------------------------- */

/* Copies source into destination of size bytes, always terminated when size > 0;
 * returns strlen(source), so a result >= size means the text was cut. */
WSI_EXPORT size_t strlcpy_safe(char *destination, const char *source, size_t size);
/* Appends source to the text in destination of size bytes, always terminated;
 * returns the length the whole text would have had, so a result >= size means a cut. */
WSI_EXPORT size_t strlcat_safe(char *destination, const char *source, size_t size);
/* Compares two texts ignoring ASCII case; NULL equals NULL and sorts before any
 * text.  Zero when equal, else negative or positive like strcmp. */
WSI_EXPORT int strCompare(const char *a, const char *b);
/* New text of first, second and third in order (a NULL part counts as empty), or
 * NULL when out of memory; free with wsifree. */
WSI_EXPORT char *newDelimitedStringCat(const char *first, const char *second, const char *third);
/* Non-zero when the value passes the filter.  A NULL or empty filter passes every
 * value.  Otherwise the filter is a shell-style pattern matched against the whole
 * value ignoring ASCII case: '*' any run of characters, '?' one character, '\'
 * takes the next character literally.  A NULL value is matched as "". */
WSI_EXPORT int passesStringFilter(const char *filter, const char *value);

/* ---- Controller status records ---------------------------------------- */

/* A caller's local record: success 1 with no message until an operation fails. */
typedef struct KELVAStatus {
  uint16_t success; /* 1 success, 0 failure */
  char *message;    /* owned; NULL or a text released by clearKELVAStatus */
} KELVAStatus;

#define KELVA_STATUS_INIT \
  { 1, NULL }

/* Sets the flag (non-zero becomes 1) and keeps a copy of text (NULL for none),
 * releasing the message it held. */
WSI_EXPORT void setKELVAStatus(KELVAStatus *status, int success, const char *text);
/* Releases the record's message and returns it to success; NULL is ignored. */
WSI_EXPORT void clearKELVAStatus(KELVAStatus *status);
/* Zero when the record reports success, non-zero on failure (a NULL record succeeds). */
WSI_EXPORT int checkStatus(const KELVAStatus *status);

/* ---- Diagnostics ------------------------------------------------------ */

/* Receives a diagnostic as (identifier, text); the identifier names the source
 * place ("file:line") and both texts are only valid during the call. */
typedef void (*WSIMessageFunc)(const char *identifier, const char *text);
/* Routes the library's trace and log messages to the two functions; NULL drops them. */
WSI_EXPORT void setMessageFuncs(WSIMessageFunc traceFunc, WSIMessageFunc logFunc);

/* ---- Time ------------------------------------------------------------- */

/* Wall-clock time since 1970-01-01 UTC. */
typedef struct wsi_timeval {
  int64_t tv_sec;
  int32_t tv_usec;
} wsi_timeval;

/* Blocks the calling thread for the given number of seconds. */
WSI_EXPORT void waitSeconds(unsigned int seconds);
/* Fills the record with the current time; the zone argument must be NULL. 0 on success, -1 on
 * failure. */
WSI_EXPORT int wsi_gettimeofday(wsi_timeval *now, void *zone);

WSI_END_DECLS

#endif
