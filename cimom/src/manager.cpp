// The object manager: ownership and leak accounting, fault injection, the
// records tests read, and the class registry.
#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <stdexcept>

#include "internal.h"

#ifndef CIMOM_CLASS_FILE
#define CIMOM_CLASS_FILE "kelva.mof"
#endif

namespace cimom::detail {

// ---- table member names ----------------------------------------------------------
namespace {
const char *const kFnNames[] = {
#define CIMOM_FN_NAME(table, member) #table "." #member,
    CIMOM_FUNCTIONS(CIMOM_FN_NAME)
#undef CIMOM_FN_NAME
};
static_assert(sizeof(kFnNames) / sizeof(kFnNames[0]) == kFnCount);

// Object managers alive, newest last: the broker-less extension members
// work for the newest.
std::mutex managersMutex;
std::vector<Manager *> managers;
std::atomic<Manager *> newest{nullptr};
}  // namespace

const char *fnName(Fn fn) { return kFnNames[static_cast<size_t>(fn)]; }
bool fnByName(const std::string &name, Fn *fn) {
  for (size_t i = 0; i < kFnCount; ++i) {
    if (name == kFnNames[i]) {
      *fn = static_cast<Fn>(i);
      return true;
    }
  }
  return false;
}

Manager *managerOf(const CMPIBroker *broker) {
  return broker != nullptr ? static_cast<Manager *>(broker->hdl) : nullptr;
}
Manager *currentManager() { return newest.load(); }

// ---- objects ---------------------------------------------------------------------
namespace {
// Guards every parent/children link: getters of one object may run on
// several threads at once (a shared context, an enumeration's instances).
std::mutex linksMutex;
}  // namespace

Obj::Obj(Manager *manager) : om(manager) {}
Obj::~Obj() {
  std::vector<Obj *> doomed;
  {
    std::lock_guard<std::mutex> lock(linksMutex);
    doomed.swap(children);
    for (Obj *child : doomed) child->parent = nullptr;
  }
  for (Obj *child : doomed) delete child;
  if (magicSlot != nullptr) *magicSlot = kReleasedMagic;
}
void Obj::adopt(Obj *child) {
  std::lock_guard<std::mutex> lock(linksMutex);
  child->parent = this;
  children.push_back(child);
}
void Obj::leaveParent() {
  std::lock_guard<std::mutex> lock(linksMutex);
  if (parent == nullptr) return;
  auto &siblings = parent->children;
  siblings.erase(std::remove(siblings.begin(), siblings.end(), this), siblings.end());
  parent = nullptr;
}

// ---- gate --------------------------------------------------------------------------
Gate::Gate(Manager *om, Fn fn) : om_(om), fn_(fn) {
  Fault hit;
  if (om_ != nullptr && om_->enter(fn, &hit)) {
    fail_ = true;
    rc_ = hit.rc;
    nullResult_ = hit.nullResult;
  }
}
CMPIStatus Gate::faultStatus() {
  if (rc_ == CMPI_RC_OK) return CMPIStatus{CMPI_RC_OK, nullptr};
  return om_->status(rc_, std::string("injected failure of ") + fnName(fn_));
}
bool Gate::shortCircuit(CMPIStatus *status) {
  if (!fail_) return false;
  if (status != nullptr) *status = faultStatus();
  return nullResult_;
}
void Gate::finish(CMPIStatus *status, CMPIrc code, const std::string &msg) {
  if (fail_ || status == nullptr) return;
  *status = om_->status(code, msg);
}

// ---- result seen by tests ----------------------------------------------------------
namespace {
class ResultImpl final : public Result {
 public:
  explicit ResultImpl(Manager *om) : result_(makeResult(om, Kind::Internal)) {}
  ~ResultImpl() override { delete objOf(result_); }
  CMPIResult *cmpi() override { return result_; }
  std::vector<std::string> instances() const override { return texts(stored().instances); }
  std::vector<std::string> objectPaths() const override { return texts(stored().paths); }
  std::vector<const CMPIInstance *> instanceObjects() const override {
    std::vector<const CMPIInstance *> out;
    for (const auto &d : stored().instances) out.push_back(d.value.inst);
    return out;
  }
  std::vector<const CMPIObjectPath *> objectPathObjects() const override {
    std::vector<const CMPIObjectPath *> out;
    for (const auto &d : stored().paths) out.push_back(d.value.ref);
    return out;
  }
  std::vector<CMPIData> data() const override { return resultData(result_)->data; }
  int doneCount() const override { return resultData(result_)->done; }
  std::vector<std::string> errors() const override { return resultData(result_)->errors; }

 private:
  const ResultData &stored() const { return *resultData(result_); }
  static std::vector<std::string> texts(const std::vector<CMPIData> &items) {
    std::vector<std::string> out;
    out.reserve(items.size());
    for (const auto &d : items) out.push_back(objOf(d.value.inst)->text());
    return out;
  }
  CMPIResult *result_;
};
}  // namespace

// ---- manager -------------------------------------------------------------------------
Manager::Manager(const Options &options)
    : options_(options),
      version_(options.cmpiVersion >= 200 ? 200 : 100),
      tables_(version_ >= 200 ? &tables200() : &tables100()) {
  // First, while nothing is held: a class file that does not read throws out of
  // the constructor, and no destructor would free what was made before.
  loadClasses(options_.classFile.empty() ? CIMOM_CLASS_FILE : options_.classFile);
  broker_.hdl = this;
  broker_.bft = tables_->broker;
  broker_.eft = tables_->enc;
  broker_.xft = tables_->ext;
  broker_.mft = tables_->mem;
  context_ = makeContext(this, Kind::Internal);
  auto *entries = contextEntries(context_);
  CMPIData ns;
  ownValue(this, reinterpret_cast<const CMPIValue *>("root/kelva"), CMPI_chars, &ns);
  entries->emplace_back(CMPIInitNameSpace, ns);
  CMPIData flags = nullData(CMPI_uint32, CMPI_goodValue);
  flags.value.uint32 = 0;
  entries->emplace_back(CMPIInvocationFlags, flags);
  CMPIData principal;
  ownValue(this, reinterpret_cast<const CMPIValue *>("cimom"), CMPI_chars, &principal);
  entries->emplace_back(CMPIPrincipal, principal);
  std::lock_guard<std::mutex> lock(managersMutex);
  managers.push_back(this);
  newest.store(this);
}

Manager::~Manager() {
  unloadProviders(this);
  {
    std::lock_guard<std::mutex> lock(managersMutex);
    managers.erase(std::remove(managers.begin(), managers.end(), this), managers.end());
    newest.store(managers.empty() ? nullptr : managers.back());
  }
  delete objOf(context_);
  std::vector<Obj *> doomed;
  {
    std::lock_guard<std::mutex> lock(objMutex_);
    doomed.assign(live_.begin(), live_.end());
    doomed.insert(doomed.end(), arena_.begin(), arena_.end());
    live_.clear();
    arena_.clear();
    for (auto &[ptr, block] : blocks_) std::free(ptr);
    blocks_.clear();
  }
  for (Obj *obj : doomed) delete obj;
  // Last, as live arrays may still point at poisoned objects they borrowed.
  for (Obj *obj : graveyard_) delete obj;
  graveyard_.clear();
}

std::unique_ptr<Result> Manager::newResult() { return std::make_unique<ResultImpl>(this); }

std::vector<LogRecord> Manager::logs() const {
  std::lock_guard<std::mutex> lock(recordMutex_);
  return logs_;
}
std::vector<TraceRecord> Manager::traces() const {
  std::lock_guard<std::mutex> lock(recordMutex_);
  return traces_;
}
std::vector<IndicationRecord> Manager::indications() const {
  std::lock_guard<std::mutex> lock(recordMutex_);
  return indications_;
}
std::vector<std::string> Manager::misuses() const {
  std::lock_guard<std::mutex> lock(recordMutex_);
  return misuses_;
}
void Manager::clearRecords() {
  std::lock_guard<std::mutex> lock(recordMutex_);
  logs_.clear();
  traces_.clear();
  indications_.clear();
  misuses_.clear();
}
void Manager::recordLog(LogRecord record) {
  std::lock_guard<std::mutex> lock(recordMutex_);
  logs_.push_back(std::move(record));
}
void Manager::recordTrace(TraceRecord record) {
  std::lock_guard<std::mutex> lock(recordMutex_);
  traces_.push_back(std::move(record));
}
void Manager::recordIndication(IndicationRecord record) {
  std::lock_guard<std::mutex> lock(recordMutex_);
  indications_.push_back(std::move(record));
}
void Manager::setIndicationSink(IndicationSink sink) {
  std::unique_lock<std::shared_mutex> lock(sinkMutex_);
  sink_ = std::move(sink);
}
void Manager::sinkIndication(const std::string &nameSpace, const CMPIInstance *indication) {
  std::shared_lock<std::shared_mutex> lock(sinkMutex_);
  if (sink_) sink_(nameSpace, indication);
}
void Manager::misuse(const std::string &what) {
  std::lock_guard<std::mutex> lock(recordMutex_);
  misuses_.push_back(what);
}

// ---- faults ---------------------------------------------------------------------------
void Manager::inject(const Fault &fault) {
  Fn fn;
  if (!fnByName(fault.function, &fn))
    throw std::invalid_argument("cimom: no table member called " + fault.function);
  if (fault.nth == 0) throw std::invalid_argument("cimom: calls are counted from 1");
  std::lock_guard<std::mutex> lock(faultMutex_);
  faults_.push_back({fault, fn, counts_[static_cast<size_t>(fn)].load()});
  anyFault_.store(true, std::memory_order_release);
}
void Manager::clearFaults() {
  std::lock_guard<std::mutex> lock(faultMutex_);
  faults_.clear();
  anyFault_.store(false, std::memory_order_release);
}
unsigned Manager::callCount(const std::string &function) const {
  Fn fn;
  if (!fnByName(function, &fn))
    throw std::invalid_argument("cimom: no table member called " + function);
  return counts_[static_cast<size_t>(fn)].load();
}
bool Manager::enter(Fn fn, Fault *hit) {
  unsigned n = counts_[static_cast<size_t>(fn)].fetch_add(1, std::memory_order_relaxed) + 1;
  if (!anyFault_.load(std::memory_order_acquire)) return false;
  std::lock_guard<std::mutex> lock(faultMutex_);
  for (const auto &f : faults_) {
    if (f.fn != fn) continue;
    unsigned k = n - f.base;
    if (k == f.fault.nth || (f.fault.sticky && k > f.fault.nth)) {
      *hit = f.fault;
      return true;
    }
  }
  return false;
}

// ---- ownership ---------------------------------------------------------------------------
void Manager::place(Obj *obj, Kind kind, Obj *parent) {
  if (kind == Kind::Child && parent == nullptr) kind = Kind::Arena;
  obj->kind = kind;
  switch (kind) {
    case Kind::Tracked: {
      obj->seq = ++seq_;
      obj->creator = std::this_thread::get_id();
      std::lock_guard<std::mutex> lock(objMutex_);
      live_.insert(obj);
      break;
    }
    case Kind::Child:
      parent->adopt(obj);
      break;
    case Kind::Arena: {
      std::lock_guard<std::mutex> lock(objMutex_);
      arena_.insert(obj);
      break;
    }
    case Kind::Embedded:
    case Kind::Internal:
      break;
  }
}

CMPIStatus Manager::release(Obj *obj) {
  switch (obj->kind) {
    case Kind::Tracked: {
      std::lock_guard<std::mutex> lock(objMutex_);
      live_.erase(obj);
      break;
    }
    case Kind::Child:
      obj->leaveParent();
      break;
    case Kind::Arena: {
      std::lock_guard<std::mutex> lock(objMutex_);
      arena_.erase(obj);
      break;
    }
    case Kind::Embedded:
      misuse(std::string("release of a ") + obj->typeName() +
             " owned by another object: " + obj->text());
      return CMPIStatus{CMPI_RC_OK, nullptr};
    case Kind::Internal:
      misuse(std::string("release of a ") + obj->typeName() +
             " that the object manager made for a provider call");
      return CMPIStatus{CMPI_RC_OK, nullptr};
  }
  if (!strict()) {
    delete obj;
    return CMPIStatus{CMPI_RC_OK, nullptr};
  }
  // Poisons the object, its children and the values it owns, and keeps them
  // until the object manager goes; the children stay linked and go with it.
  std::vector<Obj *> pending{obj};
  while (!pending.empty()) {
    Obj *next = pending.back();
    pending.pop_back();
    if (next->magicSlot != nullptr) *next->magicSlot = kPoisonedMagic;
    next->ownedValues(pending);
    std::lock_guard<std::mutex> lock(linksMutex);
    pending.insert(pending.end(), next->children.begin(), next->children.end());
  }
  std::lock_guard<std::mutex> lock(objMutex_);
  graveyard_.push_back(obj);
  return CMPIStatus{CMPI_RC_OK, nullptr};
}

void Manager::usedAfterRelease(const Obj *obj) {
  misuse(std::string("use of a released ") + obj->typeName() + ": " + obj->text());
}

CMPIString *Manager::arenaString(const std::string &text) {
  return makeString(this, text, Kind::Arena);
}
CMPIStatus Manager::status(CMPIrc rc, const std::string &msg) {
  return CMPIStatus{rc, msg.empty() ? nullptr : arenaString(msg)};
}

size_t Manager::liveObjects() const {
  std::lock_guard<std::mutex> lock(objMutex_);
  return live_.size();
}
std::vector<std::string> Manager::describeLiveObjects() const {
  std::vector<Obj *> objs;
  {
    std::lock_guard<std::mutex> lock(objMutex_);
    objs.assign(live_.begin(), live_.end());
  }
  std::sort(objs.begin(), objs.end(), [](Obj *a, Obj *b) { return a->seq < b->seq; });
  std::vector<std::string> out;
  out.reserve(objs.size());
  for (Obj *o : objs) out.push_back(std::string(o->typeName()) + ": " + o->text());
  return out;
}

void Manager::releaseSince(uint64_t seq, std::thread::id thread) {
  std::vector<Obj *> doomed;
  {
    std::lock_guard<std::mutex> lock(objMutex_);
    for (Obj *o : live_)
      if (o->seq > seq && o->creator == thread) doomed.push_back(o);
    for (Obj *o : doomed) live_.erase(o);
    for (auto it = blocks_.begin(); it != blocks_.end();) {
      if (it->second.seq > seq && it->second.thread == thread) {
        std::free(it->first);
        it = blocks_.erase(it);
      } else {
        ++it;
      }
    }
  }
  for (Obj *o : doomed) delete o;
}

void *Manager::memAlloc(size_t size, bool zero) {
  void *p = zero ? std::calloc(size == 0 ? 1 : size, 1) : std::malloc(size == 0 ? 1 : size);
  if (p == nullptr) return nullptr;
  std::lock_guard<std::mutex> lock(objMutex_);
  blocks_[p] = {++seq_, std::this_thread::get_id()};
  return p;
}
void *Manager::memRealloc(void *ptr, size_t size) {
  if (ptr == nullptr) return memAlloc(size, false);
  std::lock_guard<std::mutex> lock(objMutex_);
  auto it = blocks_.find(ptr);
  if (it == blocks_.end()) return nullptr;  // not ours: leave it alone
  Block block = it->second;
  void *p = std::realloc(ptr, size == 0 ? 1 : size);
  if (p == nullptr) return nullptr;
  blocks_.erase(it);
  blocks_[p] = block;
  return p;
}
void Manager::memFree(void *ptr) {
  if (ptr == nullptr) return;
  std::lock_guard<std::mutex> lock(objMutex_);
  auto it = blocks_.find(ptr);
  if (it == blocks_.end()) return;
  std::free(ptr);
  blocks_.erase(it);
}

// ---- attach ---------------------------------------------------------------------------------
CMPIStatus Manager::attach(const CMPIContext *ctx) {
  if (objOf(ctx) == nullptr) return status(CMPI_RC_ERR_INVALID_HANDLE, "context is not valid");
  std::lock_guard<std::mutex> lock(recordMutex_);
  if (attached_.count(ctx) != 0)
    return status(CMPI_RC_ERR_FAILED, "context is already attached to a thread");
  attached_[ctx] = std::this_thread::get_id();
  return CMPIStatus{CMPI_RC_OK, nullptr};
}
CMPIStatus Manager::detach(const CMPIContext *ctx) {
  Obj *obj = objOf(ctx);
  if (obj == nullptr) return status(CMPI_RC_ERR_INVALID_HANDLE, "context is not valid");
  {
    std::lock_guard<std::mutex> lock(recordMutex_);
    auto it = attached_.find(ctx);
    if (it == attached_.end()) {
      misuses_.push_back("detachThread of a context that no thread attached");
      return status(CMPI_RC_ERR_FAILED, "context is not attached");
    }
    if (it->second != std::this_thread::get_id())
      misuses_.push_back("detachThread from another thread than attachThread");
    attached_.erase(it);
  }
  // The prepared context ends with the thread that used it.
  if (obj->kind == Kind::Tracked) release(obj);
  return CMPIStatus{CMPI_RC_OK, nullptr};
}

// ---- classes ------------------------------------------------------------------------------
// The shipped MOF (or the options' file) is the class registry: a file that
// cannot be read or parsed fails the object manager's creation, so a test never
// runs against a hierarchy that is quietly empty.
void Manager::loadClasses(const std::string &file) {
  repository_ = mof::readRepository(file);
  for (const mof::Class &cls : repository_.classes())
    classes_[lowered(cls.name)] = lowered(cls.superclass);
}
const mof::Repository &Manager::classRepository() const { return repository_; }
bool Manager::isA(const std::string &className, const std::string &parent) const {
  std::string target = lowered(parent);
  std::string current = lowered(className);
  for (int depth = 0; depth < 64 && !current.empty(); ++depth) {
    if (current == target) return true;
    auto it = classes_.find(current);
    if (it == classes_.end()) return false;
    current = it->second;
  }
  return false;
}

}  // namespace cimom::detail

namespace cimom {
std::unique_ptr<ObjectManager> create(const Options &options) {
  return std::make_unique<detail::Manager>(options);
}
}  // namespace cimom
