// What the quota tests share: the default scenario's filers with a quota model of
// their own, answering in process, kelva-a's record at hand, and owners of what the
// quota calls hand out.
#pragma once

#include <filersim/filersim.h>
#include <gtest/gtest.h>
#include <provkit/quota.h>
#include <wbemkelvai/wsiapi.h>
#include <wbemkelvai/wsistorage.h>

#include <array>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "support.h"

namespace qtest {

using pktest::Record;

struct KeysFree {
  void operator()(QuotaKeys *keys) const { freeQuotaQORBKeys(keys); }
};
using Keys = std::unique_ptr<QuotaKeys, KeysFree>;
struct ClientFree {
  void operator()(ClientQuotaEntry *entry) const { freeClientQuotaEntry(entry); }
};
using Client = std::unique_ptr<ClientQuotaEntry, ClientFree>;
struct EntryFree {
  void operator()(FilerQuotaEntry *entry) const { freeFilerQuotaEntry(entry); }
};
using Entry = std::unique_ptr<FilerQuotaEntry, EntryFree>;
struct WsiFree {
  void operator()(void *block) const { wsifree(block); }
};
using Text = std::unique_ptr<char, WsiFree>;

// A list whose elements are freed with it.
class List {
 public:
  explicit List(WSIListFreeFunc freeElement) : list_(WSIList_new()), free_(freeElement) {}
  ~List() { WSIList_free(list_, free_); }
  List(const List &) = delete;
  List &operator=(const List &) = delete;
  WSIList *get() const { return list_; }
  template <typename T>
  std::vector<const T *> items() const {
    std::vector<const T *> out;
    for (WSIListPos *at = WSIList_getFirst(list_); at != nullptr; at = WSIList_getNext(at))
      out.push_back(static_cast<const T *>(WSIList_getElement(at)));
    return out;
  }
  void clear() {
    WSIList_free(list_, free_);
    list_ = WSIList_new();
  }

 private:
  WSIList *list_;
  WSIListFreeFunc free_;
};

// The default scenario with kelva-a's quota model replaced by quotas.
inline nlohmann::json scenarioWith(const nlohmann::json &quotas) {
  std::ifstream in(FILERSIM_DEFAULT_SCENARIO);
  nlohmann::json doc = nlohmann::json::parse(in);
  for (auto &filer : doc["filers"]) {
    if (filer["name"] == "kelva-a") filer["quotas"] = quotas;
  }
  return doc;
}

class QuotaFiler {
 public:
  explicit QuotaFiler(const nlohmann::json &quotas)
      : sim(std::make_unique<filersim::Simulator>(scenarioWith(quotas))) {
    sim->registerInProcess();
    texts = {sim->systemId("kelva-a"), sim->host("kelva-a"), sim->userName("kelva-a"),
             sim->password("kelva-a")};
    a = Filer{texts[0].data(),
              texts[1].data(),
              texts[2].data(),
              texts[3].data(),
              WSI_TRANSPORT_HTTP,
              0,
              5};
  }
  ~QuotaFiler() {
    Record gone;
    FilerCache_deleteEntry(&a, gone.get());  // the cache is process-wide
  }
  QuotaFiler(const QuotaFiler &) = delete;
  QuotaFiler &operator=(const QuotaFiler &) = delete;

  // kelva-a's quota model as it stands now.
  nlohmann::json quotas() const { return sim->state("kelva-a")["quotas"]; }
  // The last request of the API that kelva-a received, as XML.
  std::string lastRequest(const char *api) const {
    nlohmann::json sent = quotas()["lastRequest"];
    return sent.contains(api) ? sent[api].get<std::string>() : std::string();
  }
  int requests() const { return sim->requestCount("kelva-a"); }

  std::unique_ptr<filersim::Simulator> sim;
  std::array<std::string, 4> texts;
  Filer a{};
};

}  // namespace qtest
