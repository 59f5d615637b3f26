// strtok over a caller's writable buffer, without strtok's hidden static
// state, so decoders may run on many threads at once.  Clients store the key
// texts these decoders read, so the splitting rules must stay exactly
// strtok's: a run of separators before a token is skipped, the separator
// after a token becomes a terminator, and an empty separator set takes the
// rest of the buffer.
#pragma once

#include <cstring>

namespace pk {

class Tokenizer {
 public:
  explicit Tokenizer(char *buffer) : next_(buffer) {}

  // The next token, or nullptr when none is left.
  char *next(const char *separators) {
    if (next_ == nullptr) return nullptr;
    char *start = next_ + std::strspn(next_, separators);
    if (*start == '\0') {
      next_ = nullptr;
      return nullptr;
    }
    char *end = start + std::strcspn(start, separators);
    if (*end == '\0') {
      next_ = nullptr;
    } else {
      *end = '\0';
      next_ = end + 1;
    }
    return start;
  }

  // Everything after the last separator consumed (strtok with an empty
  // separator set), or nullptr when nothing is left.
  char *rest() { return next(""); }

 private:
  char *next_;
};

}  // namespace pk
