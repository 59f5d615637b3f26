// The XML wire format of requests and answers (docs/protocol.md) with the
// system's XML reader (Windows) and a writer of our own: requests are plain
// elements with text, so writing them needs no library.
#include <cstdlib>
#include <string>
#include <vector>

#include "element.h"
#include "platform/netxml.h"
#include "wbemkelvai/wsiapi.h"

namespace wsi::wire {

const bool kAvailable = true;

namespace {

constexpr const char *kRoot = "kelva";
constexpr const char *kVersion = "1.0";

void appendEscaped(std::string &out, const std::string &text) {
  for (char c : text) {
    switch (c) {
      case '&':
        out += "&amp;";
        break;
      case '<':
        out += "&lt;";
        break;
      case '>':
        out += "&gt;";
        break;
      case '\r':
        out += "&#13;";  // a bare CR would be read back as a line feed
        break;
      default:
        out += c;
    }
  }
}

std::string tooManyElements() {
  return "Answer has more than " + std::to_string(WSI_MAX_ANSWER_ELEMENTS) + " elements";
}

// An upper bound of the elements in the text: its start tags ('<' before a name).
size_t startTags(const std::string &text) {
  size_t count = 0;
  for (size_t at = text.find('<'); at != std::string::npos; at = text.find('<', at + 1)) {
    char next = at + 1 < text.size() ? text[at + 1] : '\0';
    if (next != '/' && next != '?' && next != '!') ++count;
  }
  return count;
}

const std::string *attribute(const std::vector<std::pair<std::string, std::string>> &attributes,
                             const char *name) {
  for (const auto &a : attributes) {
    if (a.first == name) return &a.second;
  }
  return nullptr;
}

// Builds the answer from the parse: the document element, its first results
// element, and the elements under that, within the limits.
class AnswerBuilder final : public pk::platform::XmlHandler {
 public:
  bool start(const std::string &name,
             const std::vector<std::pair<std::string, std::string>> &attributes) override {
    ++depth_;
    if (depth_ == 1) {
      rootName_ = name;
      return true;
    }
    if (answer_ == nullptr) {
      if (depth_ == 2 && name == "results" && !resultsDone_) {
        answer_ = std::make_unique<WSIElement>();
        answer_->name = "results";
        answer_->isAnswer = true;
        const std::string *status = attribute(attributes, "status");
        status_ = status != nullptr ? *status : "";
        if (status_ == "failed") {
          const std::string *number = attribute(attributes, "errno");
          answer_->errorNumber = number != nullptr ? std::atoi(number->c_str()) : 0;
          const std::string *reason = attribute(attributes, "reason");
          answer_->reason = reason != nullptr ? *reason : "";
        }
        open_.push_back(answer_.get());
        resultsDepth_ = depth_;
      }
      return true;
    }
    if (open_.empty()) return true;      // after the results element
    int level = depth_ - resultsDepth_;  // 1 for the results' own children
    if (level >= WSI_MAX_ANSWER_DEPTH) {
      why_ =
          "Answer nests elements deeper than " + std::to_string(WSI_MAX_ANSWER_DEPTH) + " levels";
      return false;
    }
    if (++count_ > WSI_MAX_ANSWER_ELEMENTS) {
      why_ = tooManyElements();
      return false;
    }
    auto element = std::make_unique<WSIElement>();
    element->name = name;
    WSIElement *raw = element.get();
    open_.back()->children.push_back(std::move(element));
    open_.push_back(raw);
    return true;
  }
  bool end() override {
    if (!open_.empty()) {
      open_.pop_back();
      if (open_.empty()) resultsDone_ = true;
    }
    --depth_;
    return true;
  }
  bool text(const std::string &text) override {
    if (!open_.empty()) open_.back()->text += text;
    return true;
  }

  std::unique_ptr<WSIElement> finish() {
    if (rootName_ != kRoot) {
      return failedAnswer(WSI_ERR_BAD_ANSWER,
                          "Answer's root element is '" + rootName_ + "', not '" + kRoot + "'");
    }
    if (answer_ == nullptr)
      return failedAnswer(WSI_ERR_BAD_ANSWER, "Answer has no results element");
    if (status_ == "passed") {
      answer_->passed = true;
      return std::move(answer_);
    }
    if (status_ == "failed") {
      answer_->passed = false;
      answer_->text.clear();
      answer_->children.clear();
      if (answer_->reason.empty()) answer_->reason = "Filer gave no reason";
      return std::move(answer_);
    }
    return failedAnswer(WSI_ERR_BAD_ANSWER,
                        "Answer's status is '" + status_ + "', neither passed nor failed");
  }
  const std::string &why() const { return why_; }

 private:
  int depth_ = 0;
  int resultsDepth_ = 0;
  bool resultsDone_ = false;
  size_t count_ = 0;
  std::string rootName_;
  std::string status_;
  std::string why_;
  std::unique_ptr<WSIElement> answer_;
  std::vector<WSIElement *> open_;
};

}  // namespace

bool writeRequest(const WSIElement &request, std::string &out, std::string &why) {
  std::string text = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<";
  text += kRoot;
  text += " version=\"";
  text += kVersion;
  text += "\">";
  // Iterative walk: a caller's tree may be deep, and the stack must not care.
  // A null element in the list closes the element before it.
  struct Item {
    const WSIElement *element;
    bool close;
  };
  std::vector<Item> todo{{&request, false}};
  while (!todo.empty()) {
    Item item = todo.back();
    todo.pop_back();
    const WSIElement &e = *item.element;
    if (item.close) {
      text += "</" + e.name + ">";
      continue;
    }
    if (!validElementName(e.name.c_str())) {
      why = "Invalid element name '" + e.name + "'";
      return false;
    }
    if (e.text.empty() && e.children.empty()) {
      text += "<" + e.name + " />";
      continue;
    }
    text += "<" + e.name + ">";
    appendEscaped(text, e.text);
    todo.push_back({&e, true});
    for (auto it = e.children.rbegin(); it != e.children.rend(); ++it) {
      todo.push_back({it->get(), false});
    }
  }
  text += "</";
  text += kRoot;
  text += ">";
  out = std::move(text);
  return true;
}

std::unique_ptr<WSIElement> readAnswer(const std::string &text) {
  if (text.size() > WSI_MAX_ANSWER_BYTES) {
    return failedAnswer(WSI_ERR_BAD_ANSWER,
                        "Answer is larger than " + std::to_string(WSI_MAX_ANSWER_BYTES) + " bytes");
  }
  if (text.empty()) return failedAnswer(WSI_ERR_BAD_ANSWER, "Answer is empty");
  // No document type declarations: they are the road to entity expansion, and no
  // filer sends one.
  if (text.find("<!DOCTYPE") != std::string::npos || text.find("<!ENTITY") != std::string::npos) {
    return failedAnswer(WSI_ERR_BAD_ANSWER, "Answer carries a document type declaration; refused");
  }
  if (startTags(text) > WSI_MAX_ANSWER_ELEMENTS + 2) {
    return failedAnswer(WSI_ERR_BAD_ANSWER, tooManyElements());
  }
  AnswerBuilder builder;
  std::string why;
  switch (pk::platform::xmlParse(text, builder, why)) {
    case pk::platform::XmlResult::Ok:
      return builder.finish();
    case pk::platform::XmlResult::Stopped:
      return failedAnswer(WSI_ERR_BAD_ANSWER, builder.why());
    case pk::platform::XmlResult::Malformed:
      return failedAnswer(WSI_ERR_BAD_ANSWER, "Malformed answer: " + why);
    default:
      return failedAnswer(WSI_ERR_NO_TRANSPORT, "Unable to read answers: " + why);
  }
}

}  // namespace wsi::wire
