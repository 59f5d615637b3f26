/* The C edge: every public header compiles as C99, and the exported calls
 * work from C. */
#include "pk_all_headers.h"

#include <stdio.h>
#include <string.h>

static int failures = 0;
#define CHECK(cond)                                                            \
  do {                                                                         \
    if (!(cond)) {                                                             \
      fprintf(stderr, "%s:%d: check failed: %s\n", __FILE__, __LINE__, #cond); \
      ++failures;                                                              \
    }                                                                          \
  } while (0)

static void freeText(void *p) { wsifree(p); }
static void *copyText(void *p) { return wsistrdup((const char *)p); }

int main(void) {
  WSIList *list = WSIList_new();
  WSIList *copy;
  KELVAStatus status = KELVA_STATUS_INIT;
  char *joined;

  CHECK(list != NULL);
  CHECK(WSIList_append(list, wsistrdup("a")));
  CHECK(WSIList_append(list, wsistrdup("b")));
  copy = WSIList_copy(list, copyText, freeText);
  CHECK(WSIList_getLength(copy) == 2);
  CHECK(strcmp((const char *)WSIList_getElement(WSIList_getFirst(copy)), "a") == 0);
  WSIList_free(copy, freeText);
  WSIList_free(list, freeText);

  joined = newDelimitedStringCat("KELVA", ":", "42");
  CHECK(joined != NULL && strcmp(joined, "KELVA:42") == 0);
  wsifree(joined);

  CHECK(checkStatus(&status) == 0);
  setKELVAStatus(&status, 0, "filer unreachable");
  CHECK(checkStatus(&status) != 0);
  clearKELVAStatus(&status);
  CHECK(status.message == NULL);

  if (failures == 0) printf("1 passed, 0 failed\n");
  return failures == 0 ? 0 : 1;
}
