// A simulated filer for the block access tests, reached in process through a
// proxy that records every request the library sends (its API and parameter
// names in order) before the simulator answers it.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <mutex>
#include <pugixml.hpp>
#include <string>
#include <vector>

#include "blockaccess_support.h"
#include "filersim/filersim.h"
#include "wbemkelvai/wsiapi.h"
#include "wbemkelvai/wsistorage.h"

namespace blocktest {

// One request as the filer received it: the API and "name=value" per parameter.
struct Sent {
  std::string api;
  std::vector<std::string> params;
};

class SimFiler {
 public:
  SimFiler(const nlohmann::json &scenario, const std::string &name)
      : sim_(std::make_unique<filersim::Simulator>(scenario)), name_(name) {
    host_ = sim_->host(name);
    systemId_ = sim_->systemId(name);
    user_ = sim_->userName(name);
    password_ = sim_->password(name);
    wsiRegisterInProcessFiler(host_.c_str(), &SimFiler::proxy, this);
    filer_ = Filer{
        systemId_.data(), host_.data(), user_.data(), password_.data(), WSI_TRANSPORT_HTTP, 0, 5};
  }
  ~SimFiler() {
    wsiUnregisterInProcessFiler(host_.c_str());
    Status status;
    FilerCache_deleteEntry(&filer_, &status);  // the controller library's cache is process-wide
  }
  SimFiler(const SimFiler &) = delete;
  SimFiler &operator=(const SimFiler &) = delete;

  const Filer *filer() const { return &filer_; }
  filersim::Simulator &sim() { return *sim_; }
  const std::string &name() const { return name_; }
  nlohmann::json state() const { return sim_->state(name_); }

  // The requests sent so far with this API (all when api is empty).
  std::vector<Sent> sent(const std::string &api = "") const {
    std::lock_guard<std::mutex> guard(lock_);
    std::vector<Sent> out;
    for (const Sent &s : sent_)
      if (api.empty() || s.api == api) out.push_back(s);
    return out;
  }
  void forget() {
    std::lock_guard<std::mutex> guard(lock_);
    sent_.clear();
  }

 private:
  static int proxy(void *context, const char *user, const char *password, const char *request,
                   size_t length, long, WSIAnswerWriter write, void *answerContext) {
    auto *self = static_cast<SimFiler *>(context);
    std::string text(request, length);
    self->record(text);
    filersim::Reply reply = self->sim_->handle(self->name_, user, password, text);
    switch (reply.kind) {
      case filersim::Reply::Kind::Answer:
        write(answerContext, reply.body.data(), reply.body.size());
        return WSI_INPROC_OK;
      case filersim::Reply::Kind::Unauthorized:
        return WSI_INPROC_UNAUTHORIZED;
      case filersim::Reply::Kind::Offline:
        return WSI_INPROC_UNREACHABLE;
      case filersim::Reply::Kind::Drop:
        write(answerContext, reply.body.data(), reply.body.size());
        return WSI_INPROC_DROPPED;
    }
    return WSI_INPROC_UNREACHABLE;
  }
  void record(const std::string &text) {
    pugi::xml_document doc;
    if (!doc.load_buffer(text.data(), text.size())) return;
    pugi::xml_node call = doc.document_element().first_child();
    Sent s{call.name(), {}};
    for (pugi::xml_node param : call.children()) {
      std::string value = param.first_child() && param.first_child().type() == pugi::node_element
                              ? "{...}"
                              : param.text().get();
      s.params.push_back(std::string(param.name()) + "=" + value);
    }
    std::lock_guard<std::mutex> guard(lock_);
    sent_.push_back(std::move(s));
  }

  std::unique_ptr<filersim::Simulator> sim_;
  std::string name_, host_, systemId_, user_, password_;
  Filer filer_{};
  mutable std::mutex lock_;
  std::vector<Sent> sent_;
};

}  // namespace blocktest
