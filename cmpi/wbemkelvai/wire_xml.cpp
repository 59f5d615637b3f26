// The XML wire format of requests and answers (docs/protocol.md).
#include <cstring>
#include <pugixml.hpp>
#include <vector>

#include "element.h"
#include "wbemkelvai/wsiapi.h"

namespace wsi::wire {

const bool kAvailable = true;

namespace {

constexpr const char *kRoot = "kelva";
constexpr const char *kVersion = "1.0";

bool appendNode(pugi::xml_node parent, const WSIElement &element, std::string &why) {
  if (!validElementName(element.name.c_str())) {
    why = "Invalid element name '" + element.name + "'";
    return false;
  }
  // Iterative walk: a caller's tree may be deep, and the stack must not care.
  struct Item {
    pugi::xml_node parent;
    const WSIElement *element;
  };
  std::vector<Item> todo{{parent, &element}};
  while (!todo.empty()) {
    Item item = todo.back();
    todo.pop_back();
    if (!validElementName(item.element->name.c_str())) {
      why = "Invalid element name '" + item.element->name + "'";
      return false;
    }
    pugi::xml_node node = item.parent.append_child(item.element->name.c_str());
    if (!item.element->text.empty()) {
      node.append_child(pugi::node_pcdata).set_value(item.element->text.c_str());
    }
    // Children are pushed in reverse so that they are appended in order.
    for (auto it = item.element->children.rbegin(); it != item.element->children.rend(); ++it) {
      todo.push_back({node, it->get()});
    }
  }
  return true;
}

// Concatenated character data directly inside the node.
std::string ownText(pugi::xml_node node) {
  std::string text;
  for (pugi::xml_node child : node.children()) {
    if (child.type() == pugi::node_pcdata || child.type() == pugi::node_cdata)
      text += child.value();
  }
  return text;
}

std::string tooManyElements() {
  return "Answer has more than " + std::to_string(WSI_MAX_ANSWER_ELEMENTS) + " elements";
}

// An upper bound of the elements in the text: its start tags ('<' before a name).
// Counted before parsing, so that the parser never builds a huge tree.
size_t startTags(const std::string &text) {
  size_t count = 0;
  for (size_t at = text.find('<'); at != std::string::npos; at = text.find('<', at + 1)) {
    char next = at + 1 < text.size() ? text[at + 1] : '\0';
    if (next != '/' && next != '?' && next != '!') ++count;
  }
  return count;
}

// Copies the element children of from into to, refusing trees deeper or larger
// than the limits.
bool copyChildren(pugi::xml_node from, WSIElement &to, std::string &why) {
  struct Item {
    pugi::xml_node node;
    WSIElement *element;
    int depth;
  };
  std::vector<Item> todo{{from, &to, 1}};
  size_t count = 0;
  while (!todo.empty()) {
    Item item = todo.back();
    todo.pop_back();
    for (pugi::xml_node child : item.node.children()) {
      if (child.type() != pugi::node_element) continue;
      if (item.depth >= WSI_MAX_ANSWER_DEPTH) {
        why =
            "Answer nests elements deeper than " + std::to_string(WSI_MAX_ANSWER_DEPTH) + " levels";
        return false;
      }
      if (++count > WSI_MAX_ANSWER_ELEMENTS) {
        why = tooManyElements();
        return false;
      }
      auto element = std::make_unique<WSIElement>();
      element->name = child.name();
      element->text = ownText(child);
      WSIElement *raw = element.get();
      item.element->children.push_back(std::move(element));
      todo.push_back({child, raw, item.depth + 1});
    }
  }
  return true;
}

// Appends what pugixml writes straight to the text, without a stream between.
struct StringWriter final : pugi::xml_writer {
  explicit StringWriter(std::string &text) : out(text) {}
  void write(const void *data, size_t size) override {
    out.append(static_cast<const char *>(data), size);
  }
  std::string &out;
};

}  // namespace

bool writeRequest(const WSIElement &request, std::string &out, std::string &why) {
  pugi::xml_document doc;
  pugi::xml_node decl = doc.append_child(pugi::node_declaration);
  decl.append_attribute("version") = "1.0";
  decl.append_attribute("encoding") = "UTF-8";
  pugi::xml_node root = doc.append_child(kRoot);
  root.append_attribute("version") = kVersion;
  if (!appendNode(root, request, why)) return false;
  out = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n";
  StringWriter writer{out};
  doc.save(writer, "", pugi::format_raw | pugi::format_no_declaration, pugi::encoding_utf8);
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
  // The document element and results come on top of the answer's own elements.
  if (startTags(text) > WSI_MAX_ANSWER_ELEMENTS + 2) {
    return failedAnswer(WSI_ERR_BAD_ANSWER, tooManyElements());
  }
  pugi::xml_document doc;
  pugi::xml_parse_result parsed = doc.load_buffer(
      text.data(), text.size(), pugi::parse_default & ~pugi::parse_doctype, pugi::encoding_utf8);
  if (!parsed) {
    return failedAnswer(WSI_ERR_BAD_ANSWER, std::string("Malformed answer: ") +
                                                parsed.description() + " at byte " +
                                                std::to_string(parsed.offset));
  }
  pugi::xml_node root = doc.document_element();
  if (std::strcmp(root.name(), kRoot) != 0) {
    return failedAnswer(WSI_ERR_BAD_ANSWER, std::string("Answer's root element is '") +
                                                root.name() + "', not '" + kRoot + "'");
  }
  pugi::xml_node results = root.child("results");
  if (!results) return failedAnswer(WSI_ERR_BAD_ANSWER, "Answer has no results element");
  std::string status = results.attribute("status").value();
  auto answer = std::make_unique<WSIElement>();
  answer->name = "results";
  answer->isAnswer = true;
  if (status == "passed") {
    answer->passed = true;
  } else if (status == "failed") {
    answer->passed = false;
    answer->errorNumber = results.attribute("errno").as_int(0);
    answer->reason = results.attribute("reason").value();
    if (answer->reason.empty()) answer->reason = "Filer gave no reason";
    return answer;
  } else {
    return failedAnswer(WSI_ERR_BAD_ANSWER,
                        "Answer's status is '" + status + "', neither passed nor failed");
  }
  answer->text = ownText(results);
  std::string why;
  if (!copyChildren(results, *answer, why)) return failedAnswer(WSI_ERR_BAD_ANSWER, why);
  return answer;
}

}  // namespace wsi::wire
