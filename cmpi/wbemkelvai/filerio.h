// What the filer readers (filercache.cpp, storage.cpp) share: reading failed
// answers and freeing the records they hand out.
#pragma once

#include <initializer_list>

#include "wbemkelvai/wsiapi.h"
#include "wbemkelvai/wsifiler.h"

namespace wsi {

// True when a failed answer says the filer could not be reached or did not answer,
// as opposed to refusing the request.
bool filerAway(const WSIElement *answer);

// Sets the status to the filer's text of a failed answer (with the filer's
// address), or to fallback when there is none.
void setAnswerError(KELVAStatus *status, const WSIElement *answer, const WSIServerInfo *server,
                    const char *fallback = "Filer request failed");

// Frees the texts a record owns, then the record.
inline void freeWithTexts(void *record, std::initializer_list<char *> texts) {
  for (char *text : texts) wsifree(text);
  wsifree(record);
}

}  // namespace wsi
