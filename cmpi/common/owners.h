// Owners of what CMPI and the controller library hand out, shared by provkit's
// kit and the implementation libraries built beside it.  Header-only, over
// the public interfaces of CMPI and the controller library.
#pragma once

#include <cmpidt.h>
#include <cmpift.h>
#include <wbemkelvai/wsifiler.h>
#include <wbemkelvai/wsiruntime.h>

#include <memory>

namespace kitcommon {

// Owns one encapsulated CMPI object (string, path, instance, array ...) and
// releases it through its own function table unless release() hands it back.
template <typename T>
class CmpiObject {
 public:
  CmpiObject() = default;
  explicit CmpiObject(T *object) : object_(object) {}
  ~CmpiObject() { reset(); }
  CmpiObject(const CmpiObject &) = delete;
  CmpiObject &operator=(const CmpiObject &) = delete;
  CmpiObject(CmpiObject &&other) noexcept : object_(other.release()) {}
  CmpiObject &operator=(CmpiObject &&other) noexcept {
    reset(other.release());
    return *this;
  }

  T *get() const { return object_; }
  explicit operator bool() const { return object_ != nullptr; }
  // Gives up ownership: the caller now releases the object.
  T *release() {
    T *object = object_;
    object_ = nullptr;
    return object;
  }
  void reset(T *object = nullptr) {
    if (object_ != nullptr) object_->ft->release(object_);
    object_ = object;
  }

 private:
  T *object_ = nullptr;
};

// A block or text from the controller library (wsicalloc, wsistrdup ...),
// released with wsifree.
struct WsiFree {
  void operator()(void *block) const { wsifree(block); }
};
using WsiText = std::unique_ptr<char, WsiFree>;

struct FilersFree {
  void operator()(WSIList *filers) const { freeFilers(filers); }
};
// A list of filer records (the registry's copies).
using FilerList = std::unique_ptr<WSIList, FilersFree>;

struct FilerFree {
  void operator()(Filer *filer) const { freeFiler(filer); }
};
// One filer record copy.
using FilerRecord = std::unique_ptr<Filer, FilerFree>;

}  // namespace kitcommon
