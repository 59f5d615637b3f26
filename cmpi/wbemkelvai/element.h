// The element tree behind WSIElement, and the parts of the library that build
// and read it: the wire codec and the transports.
#pragma once

#include <memory>
#include <string>
#include <vector>

struct WSIElement {
  std::string name;
  std::string text;
  std::vector<std::unique_ptr<WSIElement>> children;
  // Only for answers: the result status the filer (or the library) gave.
  bool isAnswer = false;
  bool passed = false;
  int errorNumber = 0;
  std::string reason;
};

namespace wsi {

// True when the text is a name that the wire format can carry.
bool validElementName(const char *name);

// A failed answer made by the library itself.
std::unique_ptr<WSIElement> failedAnswer(int errorNumber, const std::string &reason);

// Empty when the answer tree keeps within WSI_MAX_ANSWER_DEPTH and
// WSI_MAX_ANSWER_ELEMENTS; otherwise why not.
std::string checkAnswerSize(const WSIElement &answer);

namespace wire {

// False in builds that have no XML codec: no request can be written and no answer
// text read.
extern const bool kAvailable;

// Serialises a request as the XML document of docs/protocol.md.  False, with the
// reason in why, when the request cannot be written.
bool writeRequest(const WSIElement &request, std::string &out, std::string &why);
// Parses an answer document; always returns an answer, a failed one when the text is
// not an acceptable answer.
std::unique_ptr<WSIElement> readAnswer(const std::string &text);

}  // namespace wire
}  // namespace wsi
