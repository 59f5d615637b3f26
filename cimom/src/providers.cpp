// Provider hosting: loading provider libraries through their MI factories
// and routing the broker's up-calls to them.
#include <functional>

#include "internal.h"
#include "platform/platform.h"

namespace cimom::detail {

namespace {

// Takes over the message of a status a provider returned: its text goes
// into a status of ours and the provider's string is released.
CMPIStatus adoptStatus(Manager *om, CMPIStatus st) {
  std::string text;
  if (st.msg != nullptr) {
    if (st.msg->hdl != nullptr) text = static_cast<const char *>(st.msg->hdl);
    Obj *obj = objOf(st.msg);
    if (obj != nullptr && obj->kind == Kind::Tracked) om->release(obj);
  }
  return om->status(st.rc, text);
}
void setStatus(CMPIStatus *rc, const CMPIStatus &st) {
  if (rc != nullptr) *rc = st;
}

// Everything the object manager makes for one provider call, freed after it.
struct Call {
  Call(Manager *m, const CMPIContext *callerCtx, const CMPIObjectPath *op, const std::string &cls)
      : om(m) {
    Obj *source = objOf(callerCtx);
    if (source == nullptr) source = objOf(om->context());
    ctx = static_cast<CMPIContext *>(cloneAs(source, Kind::Internal)->face());
    result = makeResult(om, Kind::Internal);
    path = op != nullptr ? pathWithClass(om, op, cls, Kind::Internal) : nullptr;
  }
  ~Call() {
    delete objOf(ctx);
    delete objOf(result);
    delete objOf(path);
  }
  ResultData &data() { return *resultData(result); }
  Manager *om;
  CMPIContext *ctx;
  CMPIResult *result;
  CMPIObjectPath *path;
};

CMPIStatus noProvider(Manager *om, const std::string &ns, const std::string &cls) {
  return om->status(CMPI_RC_ERR_NOT_SUPPORTED, "no provider for " + cls + " in " + ns);
}

// Moves stored data out of a result into an enumeration's list.
void takeItems(std::vector<CMPIData> &from, std::vector<CMPIData> &to) {
  to.insert(to.end(), from.begin(), from.end());
  from.clear();
}

// A handed-out copy of the first item of a list.
Obj *firstTracked(const std::vector<CMPIData> &items) {
  if (items.empty()) return nullptr;
  Obj *source = dataObject(items.front());
  return source != nullptr ? cloneAs(source, Kind::Tracked) : nullptr;
}

// Data that outlives the call: objects inside go to the object manager.
CMPIData keepData(Manager *om, const CMPIData &data) {
  CMPIData out = copyData(om, data);
  if (Obj *obj = dataObject(out)) om->place(obj, Kind::Arena);
  return out;
}

}  // namespace

std::vector<Manager::Provider *> Manager::providersFor(const std::string &ns,
                                                       const std::string &className,
                                                       bool subclasses) const {
  std::lock_guard<std::mutex> lock(providerMutex_);
  std::vector<Provider *> exact, sub;
  Provider *nearest = nullptr;
  int nearestDepth = 1 << 30;
  for (const auto &p : providers_) {
    if (!sameName(p->nameSpace, ns)) continue;
    if (sameName(p->className, className)) {
      exact.push_back(p.get());
    } else if (subclasses && isA(p->className, className)) {
      sub.push_back(p.get());
    } else if (isA(className, p->className)) {
      // Distance up the hierarchy: the closest superclass provider serves.
      int depth = 0;
      std::string current = lowered(className);
      while (current != lowered(p->className) && depth < 64) {
        auto it = classes_.find(current);
        if (it == classes_.end()) break;
        current = it->second;
        ++depth;
      }
      if (depth < nearestDepth) {
        nearestDepth = depth;
        nearest = p.get();
      }
    }
  }
  if (exact.empty() && nearest != nullptr && sub.empty()) exact.push_back(nearest);
  exact.insert(exact.end(), sub.begin(), sub.end());
  return exact;
}

std::vector<Manager::Provider *> Manager::associationProviders(const std::string &ns,
                                                               const char *assocClass) const {
  std::lock_guard<std::mutex> lock(providerMutex_);
  std::vector<Provider *> out;
  for (const auto &p : providers_) {
    if (p->association == nullptr || !sameName(p->nameSpace, ns)) continue;
    if (assocClass == nullptr || isA(p->className, assocClass)) out.push_back(p.get());
  }
  return out;
}

bool Manager::registerProvider(const std::string &nameSpace, const std::string &className,
                               const std::string &library, const std::string &providerName) {
  std::string path = library;
  bool plain = library.find('/') == std::string::npos && library.find('.') == std::string::npos;
  if (plain) {
    path = pk::platform::libraryFileName(library);
    for (const auto &dir : options_.libraryPath) {
      std::string candidate = pk::platform::joinPath(dir, path);
      if (pk::platform::fileExists(candidate.c_str())) {
        path = candidate;
        break;
      }
    }
  }
  void *handle = pk::platform::libraryOpen(path.c_str());
  if (handle == nullptr) return false;
  auto provider = std::make_unique<Provider>();
  provider->nameSpace = nameSpace;
  provider->className = className;
  provider->name = providerName;
  provider->library = handle;

  CMPIContext *ctx = static_cast<CMPIContext *>(cloneAs(objOf(context_), Kind::Internal)->face());
  auto make = [&](const char *kind) -> void * {
    void *factory =
        pk::platform::librarySymbol(handle, (providerName + "_Create_" + kind + "MI").c_str());
    if (factory == nullptr) return nullptr;
    using Factory = void *(*)(const CMPIBroker *, const CMPIContext *, CMPIStatus *);
    CMPIStatus st{CMPI_RC_OK, nullptr};
    void *mi = reinterpret_cast<Factory>(factory)(&broker_, ctx, &st);
    CMPIStatus mine = adoptStatus(this, st);
    return mine.rc == CMPI_RC_OK ? mi : nullptr;
  };
  provider->instance = static_cast<CMPIInstanceMI *>(make("Instance"));
  provider->association = static_cast<CMPIAssociationMI *>(make("Association"));
  provider->method = static_cast<CMPIMethodMI *>(make("Method"));
  provider->property = static_cast<CMPIPropertyMI *>(make("Property"));
  provider->indication = static_cast<CMPIIndicationMI *>(make("Indication"));
  delete objOf(ctx);
  if (provider->instance == nullptr && provider->association == nullptr &&
      provider->method == nullptr && provider->property == nullptr &&
      provider->indication == nullptr) {
    pk::platform::libraryClose(handle);
    return false;
  }
  std::lock_guard<std::mutex> lock(providerMutex_);
  providers_.push_back(std::move(provider));
  return true;
}

void unloadProviders(Manager *om) {
  std::vector<std::unique_ptr<Manager::Provider>> providers;
  {
    std::lock_guard<std::mutex> lock(om->providerMutex_);
    providers.swap(om->providers_);
  }
  for (auto &p : providers) {
    Call call(om, nullptr, nullptr, "");
    if (p->instance != nullptr) adoptStatus(om, p->instance->ft->cleanup(p->instance, call.ctx, 1));
    if (p->association != nullptr)
      adoptStatus(om, p->association->ft->cleanup(p->association, call.ctx, 1));
    if (p->method != nullptr) adoptStatus(om, p->method->ft->cleanup(p->method, call.ctx, 1));
    if (p->property != nullptr) adoptStatus(om, p->property->ft->cleanup(p->property, call.ctx, 1));
    if (p->indication != nullptr)
      adoptStatus(om, p->indication->ft->cleanup(p->indication, call.ctx, 1));
  }
  for (auto &p : providers) pk::platform::libraryClose(p->library);
}

// ---- up-calls -------------------------------------------------------------------------------
namespace {

// Runs `fn` on every instance provider for the path's class (and, when
// `subclasses`, its subclasses); the first failure ends the walk.
CMPIStatus eachInstanceProvider(Manager *om, const CMPIContext *ctx, const CMPIObjectPath *op,
                                bool subclasses,
                                const std::function<CMPIStatus(CMPIInstanceMI *, Call &)> &fn) {
  std::string ns, cls;
  if (!pathParts(op, &ns, &cls))
    return om->status(CMPI_RC_ERR_INVALID_PARAMETER, "object path is not valid");
  bool any = false;
  for (auto *p : om->providersFor(ns, cls, subclasses)) {
    if (p->instance == nullptr) continue;
    any = true;
    Call call(om, ctx, op, subclasses ? p->className : cls);
    CMPIStatus st = adoptStatus(om, fn(p->instance, call));
    if (st.rc != CMPI_RC_OK) return st;
    if (!subclasses) return st;
  }
  return any ? CMPIStatus{CMPI_RC_OK, nullptr} : noProvider(om, ns, cls);
}

}  // namespace

CMPIEnumeration *upEnumerate(Manager *om, const CMPIContext *ctx, const CMPIObjectPath *op,
                             const char **properties, bool names, CMPIStatus *rc) {
  std::vector<CMPIData> items;
  CMPIStatus st = eachInstanceProvider(om, ctx, op, true, [&](CMPIInstanceMI *mi, Call &call) {
    CMPIStatus s =
        names ? mi->ft->enumerateInstanceNames(mi, call.ctx, call.result, call.path)
              : mi->ft->enumerateInstances(mi, call.ctx, call.result, call.path, properties);
    takeItems(names ? call.data().paths : call.data().instances, items);
    return s;
  });
  if (st.rc != CMPI_RC_OK) {
    for (auto &d : items) dropData(d);
    setStatus(rc, st);
    return nullptr;
  }
  setStatus(rc, st);
  return makeEnumeration(om, std::move(items), Kind::Tracked);
}

CMPIInstance *upGetInstance(Manager *om, const CMPIContext *ctx, const CMPIObjectPath *op,
                            const char **properties, CMPIStatus *rc) {
  Obj *found = nullptr;
  CMPIStatus st = eachInstanceProvider(om, ctx, op, false, [&](CMPIInstanceMI *mi, Call &call) {
    CMPIStatus s = mi->ft->getInstance(mi, call.ctx, call.result, call.path, properties);
    if (s.rc == CMPI_RC_OK) found = firstTracked(call.data().instances);
    return s;
  });
  if (st.rc == CMPI_RC_OK && found == nullptr)
    st = om->status(CMPI_RC_ERR_NOT_FOUND, "the provider returned no instance");
  setStatus(rc, st);
  return found != nullptr ? static_cast<CMPIInstance *>(found->face()) : nullptr;
}

CMPIObjectPath *upCreateInstance(Manager *om, const CMPIContext *ctx, const CMPIObjectPath *op,
                                 const CMPIInstance *inst, CMPIStatus *rc) {
  Obj *made = nullptr;
  CMPIStatus st = eachInstanceProvider(om, ctx, op, false, [&](CMPIInstanceMI *mi, Call &call) {
    CMPIStatus s = mi->ft->createInstance(mi, call.ctx, call.result, call.path, inst);
    if (s.rc == CMPI_RC_OK) made = firstTracked(call.data().paths);
    return s;
  });
  setStatus(rc, st);
  return made != nullptr ? static_cast<CMPIObjectPath *>(made->face()) : nullptr;
}

CMPIStatus upModifyInstance(Manager *om, const CMPIContext *ctx, const CMPIObjectPath *op,
                            const CMPIInstance *inst, const char **properties) {
  return eachInstanceProvider(om, ctx, op, false, [&](CMPIInstanceMI *mi, Call &call) {
    return mi->ft->modifyInstance(mi, call.ctx, call.result, call.path, inst, properties);
  });
}

CMPIStatus upDeleteInstance(Manager *om, const CMPIContext *ctx, const CMPIObjectPath *op) {
  return eachInstanceProvider(om, ctx, op, false, [&](CMPIInstanceMI *mi, Call &call) {
    return mi->ft->deleteInstance(mi, call.ctx, call.result, call.path);
  });
}

CMPIEnumeration *upExecQuery(Manager *om, const CMPIContext *ctx, const CMPIObjectPath *op,
                             const char *query, const char *lang, CMPIStatus *rc) {
  std::vector<CMPIData> items;
  CMPIStatus st = eachInstanceProvider(om, ctx, op, true, [&](CMPIInstanceMI *mi, Call &call) {
    CMPIStatus s = mi->ft->execQuery(mi, call.ctx, call.result, call.path, query, lang);
    takeItems(call.data().instances, items);
    return s;
  });
  setStatus(rc, st);
  if (st.rc != CMPI_RC_OK) {
    for (auto &d : items) dropData(d);
    return nullptr;
  }
  return makeEnumeration(om, std::move(items), Kind::Tracked);
}

CMPIEnumeration *upAssociations(Manager *om, int kind, const CMPIContext *ctx,
                                const CMPIObjectPath *op, const char *assocClass,
                                const char *resultClass, const char *role, const char *resultRole,
                                const char **properties, CMPIStatus *rc) {
  std::string ns, cls;
  if (!pathParts(op, &ns, &cls)) {
    setStatus(rc, om->status(CMPI_RC_ERR_INVALID_PARAMETER, "object path is not valid"));
    return nullptr;
  }
  auto providers = om->associationProviders(ns, assocClass);
  if (providers.empty()) {
    setStatus(rc, noProvider(om, ns, assocClass != nullptr ? assocClass : "associations"));
    return nullptr;
  }
  std::vector<CMPIData> items;
  for (auto *p : providers) {
    CMPIAssociationMI *mi = p->association;
    Call call(om, ctx, op, cls);
    CMPIStatus s;
    switch (kind) {
      case 0:
        s = mi->ft->associators(mi, call.ctx, call.result, call.path, assocClass, resultClass, role,
                                resultRole, properties);
        break;
      case 1:
        s = mi->ft->associatorNames(mi, call.ctx, call.result, call.path, assocClass, resultClass,
                                    role, resultRole);
        break;
      case 2:
        s = mi->ft->references(mi, call.ctx, call.result, call.path, assocClass, role, properties);
        break;
      default:
        s = mi->ft->referenceNames(mi, call.ctx, call.result, call.path, assocClass, role);
        break;
    }
    s = adoptStatus(om, s);
    takeItems(kind == 0 || kind == 2 ? call.data().instances : call.data().paths, items);
    if (s.rc != CMPI_RC_OK) {
      for (auto &d : items) dropData(d);
      setStatus(rc, s);
      return nullptr;
    }
  }
  setStatus(rc, CMPIStatus{CMPI_RC_OK, nullptr});
  return makeEnumeration(om, std::move(items), Kind::Tracked);
}

CMPIData upInvokeMethod(Manager *om, const CMPIContext *ctx, const CMPIObjectPath *op,
                        const char *method, const CMPIArgs *in, CMPIArgs *out, CMPIStatus *rc) {
  std::string ns, cls;
  if (!pathParts(op, &ns, &cls)) {
    setStatus(rc, om->status(CMPI_RC_ERR_INVALID_PARAMETER, "object path is not valid"));
    return nullData();
  }
  for (auto *p : om->providersFor(ns, cls, false)) {
    if (p->method == nullptr) continue;
    Call call(om, ctx, op, cls);
    // A provider may rely on getting args objects even when the caller passed none.
    CMPIArgs *inArgs = const_cast<CMPIArgs *>(in);
    CMPIArgs *outArgs = out;
    CMPIArgs *madeIn = inArgs == nullptr ? makeArgs(om, Kind::Internal) : nullptr;
    CMPIArgs *madeOut = outArgs == nullptr ? makeArgs(om, Kind::Internal) : nullptr;
    CMPIStatus s =
        adoptStatus(om, p->method->ft->invokeMethod(p->method, call.ctx, call.result, call.path,
                                                    method, madeIn != nullptr ? madeIn : inArgs,
                                                    madeOut != nullptr ? madeOut : outArgs));
    delete objOf(madeIn);
    delete objOf(madeOut);
    setStatus(rc, s);
    if (s.rc != CMPI_RC_OK || call.data().data.empty()) return nullData();
    return keepData(om, call.data().data.front());
  }
  setStatus(rc, noProvider(om, ns, cls));
  return nullData();
}

CMPIStatus upSetProperty(Manager *om, const CMPIContext *ctx, const CMPIObjectPath *op,
                         const char *name, const CMPIValue *value, CMPIType type) {
  std::string ns, cls;
  if (!pathParts(op, &ns, &cls))
    return om->status(CMPI_RC_ERR_INVALID_PARAMETER, "object path is not valid");
  for (auto *p : om->providersFor(ns, cls, false)) {
    if (p->property == nullptr) continue;
    Call call(om, ctx, op, cls);
    CMPIData data;
    if (!ownValue(om, value, type, &data)) return om->status(CMPI_RC_ERR_INVALID_DATA_TYPE);
    CMPIStatus s =
        p->property->ft->setProperty(p->property, call.ctx, call.result, call.path, name, data);
    dropData(data);
    return adoptStatus(om, s);
  }
  return noProvider(om, ns, cls);
}

CMPIData upGetProperty(Manager *om, const CMPIContext *ctx, const CMPIObjectPath *op,
                       const char *name, CMPIStatus *rc) {
  std::string ns, cls;
  if (!pathParts(op, &ns, &cls)) {
    setStatus(rc, om->status(CMPI_RC_ERR_INVALID_PARAMETER, "object path is not valid"));
    return nullData();
  }
  for (auto *p : om->providersFor(ns, cls, false)) {
    if (p->property != nullptr) {
      Call call(om, ctx, op, cls);
      CMPIStatus s = adoptStatus(
          om, p->property->ft->getProperty(p->property, call.ctx, call.result, call.path, name));
      setStatus(rc, s);
      if (s.rc != CMPI_RC_OK || call.data().data.empty()) return nullData();
      return keepData(om, call.data().data.front());
    }
    if (p->instance != nullptr) {
      // Without a property provider the value comes from the instance.
      Call call(om, ctx, op, cls);
      const char *only[] = {name, nullptr};
      CMPIStatus s = adoptStatus(
          om, p->instance->ft->getInstance(p->instance, call.ctx, call.result, call.path, only));
      if (s.rc == CMPI_RC_OK && call.data().instances.empty())
        s = om->status(CMPI_RC_ERR_NOT_FOUND, "the provider returned no instance");
      setStatus(rc, s);
      if (s.rc != CMPI_RC_OK) return nullData();
      const CMPIInstance *inst = call.data().instances.front().value.inst;
      CMPIData d;
      if (!instanceProperty(inst, name, &d)) {
        setStatus(rc, om->status(CMPI_RC_ERR_NO_SUCH_PROPERTY,
                                 std::string("no property ") + (name != nullptr ? name : "")));
        return nullData();
      }
      return keepData(om, d);
    }
  }
  setStatus(rc, noProvider(om, ns, cls));
  return nullData();
}

}  // namespace cimom::detail
