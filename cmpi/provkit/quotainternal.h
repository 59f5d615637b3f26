// What the quota areas share: the keys of a rule and the limits read from an answer.
#pragma once

#include <wbemkelvai/wsiapi.h>
#include <wbemkelvai/wsiruntime.h>

#include "filerrequests.h"
#include "provkit/quota.h"

namespace pk::quota {

// The source place the controller library's diagnostics name for quota requests.
inline constexpr const char *kSource = "cmpi/provkit/quota.cpp";
inline constexpr const char *kNoMemory = "Quota subsystem:Insufficient memory";
inline constexpr const char *kNoServer = "Quota subsystem:Failed to allocate server connection";

// Marks the record failed with the text.
inline void setRecord(KELVAStatus *status, const char *text) { setKELVAStatus(status, 0, text); }

// Sends the request; the passed answer, or null with the record set (the filer's
// message with its address when it refused).
pk::filer::Element send(WSIServerInfo *server, WSIElement *request, int line, KELVAStatus *status);
// Connects to the filer and sends api with its "volume" parameter; the passed
// answer, or null with the record set (noApi or noParam when the request cannot
// be built).
pk::filer::Element volumeRequest(const Filer *filer, const char *api, const char *volume,
                                 const char *noApi, const char *noParam, KELVAStatus *status);

// The type code of a type text; -1 for null or any other text.
int typeCode(const char *typeText);
// Fills keys with copies of the texts (null as empty), the type code and the tree
// paths; false with the record set (and keys empty) when memory runs out.
bool buildKeys(QuotaKeys *keys, const char *typeText, const char *target, const char *volume,
               const char *qtree, KELVAStatus *status);
// Frees the keys' texts, leaving the record empty.
void clearKeys(QuotaKeys *keys);
// Reads the limit element name of the answer ("-..." is no limit; disk limits are
// kilobytes, given back in bytes); false with the record set when missing or malformed.
bool readLimit(const WSIElement *answer, const char *name, bool disk, uint64_t *out,
               KELVAStatus *status);
// The four limits of the answer.
bool readLimits(const WSIElement *answer, QuotaLimits *limits, KELVAStatus *status);
// Sets all four limits to no limit.
void noLimits(QuotaLimits *limits);

}  // namespace pk::quota
