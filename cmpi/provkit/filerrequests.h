// Owners of what a filer request hands out (elements, connections, child walks),
// shared by the file-service areas, which build their requests element by element
// because each step has a message of its own.
#pragma once

#include <wbemkelvai/wsiapi.h>
#include <wbemkelvai/wsifiler.h>
#include <wbemkelvai/wsistorage.h>

#include <memory>

namespace pk::filer {

struct ElementFree {
  void operator()(WSIElement *element) const { freeElement(element); }
};
struct ServerFree {
  void operator()(WSIServerInfo *server) const { destroyServerInfo(server); }
};
struct IteratorFree {
  void operator()(WSIIterator *iterator) const { releaseIterator(iterator); }
};
struct VolumeFree {
  void operator()(KELVAVolume *volume) const { freeVolume(volume); }
};
struct VolumeListFree {
  void operator()(WSIList *list) const { freeVolumeInfo(list); }
};

// A request or an answer, freed with its children.
using Element = std::unique_ptr<WSIElement, ElementFree>;
// A server connection, destroyed on scope exit.
using Server = std::unique_ptr<WSIServerInfo, ServerFree>;
// A walk over an element's children.
using Iterator = std::unique_ptr<WSIIterator, IteratorFree>;
// A volume record taken out of its list.
using Volume = std::unique_ptr<KELVAVolume, VolumeFree>;
// A list of volume records, freed with them.
using VolumeList = std::unique_ptr<WSIList, VolumeListFree>;

// A new connection made from the filer record; null when it cannot be made.
inline Server connect(const Filer *filer, const char *file, int line) {
  if (filer == nullptr) return Server();
  return Server(_createServerInfo(filer->host, filer->userName, filer->password, filer->connParam3,
                                  filer->connParam1, filer->connParam2, file, line));
}

// A new element named name, recorded with the caller's source place.
inline Element element(const char *name, const char *file, int line) {
  return Element(_createElement(name, file, line));
}

// Sends the request; the answer (passed or failed), null only when memory ran out.
inline Element invoke(WSIServerInfo *server, WSIElement *request, const char *file, int line) {
  return Element(_invokeServerElement(server, request, file, line));
}

// A walk over the children of element; null when memory ran out.
inline Iterator children(const WSIElement *element, const char *file, int line) {
  return Iterator(_createIterator(element, file, line));
}

// Appends child to parent; the parent owns it on success, and on failure the
// child is freed here.
inline bool attach(WSIElement *parent, Element child) {
  if (child == nullptr || addChildElement(parent, child.get()) == 0) return false;
  (void)child.release();
  return true;
}

// Sets the record to the failure text that names the filer; "Insufficient
// memory" when that text cannot be made.
inline void reportWithIP(const WSIElement *answer, const WSIServerInfo *server,
                         KELVAStatus *status) {
  char *text = getErrorWithIP(answer, server);
  setKELVAStatus(status, 0, text != nullptr ? text : "Insufficient memory");
  wsifree(text);
}

// The first volume record that getVolumeInfo lists for the identifier, taken
// out of its list; null with a clean record when there is none, null with the
// record set on failure.
inline Volume firstVolume(const Filer *filer, const char *identifier, int fresh,
                          KELVAStatus *status, const char *noMemory) {
  VolumeList list(WSIList_new());
  if (list == nullptr) {
    setKELVAStatus(status, 0, noMemory);
    return Volume();
  }
  if (getVolumeInfo(status, filer, identifier, nullptr, nullptr, WSI_VOLUME_KINDS_ALL, fresh,
                    list.get()) == 0)
    return Volume();
  WSIListPos *first = WSIList_getFirst(list.get());
  if (first == nullptr) return Volume();
  return Volume(static_cast<KELVAVolume *>(WSIList_removeIter(&first)));
}

}  // namespace pk::filer
