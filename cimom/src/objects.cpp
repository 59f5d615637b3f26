// The encapsulated objects and their function tables.
#include <algorithm>
#include <cstdio>
#include <cstring>

#include "internal.h"

namespace cimom::detail {

namespace {

CMPIStatus okStatus() { return CMPIStatus{CMPI_RC_OK, nullptr}; }
CMPIStatus badHandle() { return CMPIStatus{CMPI_RC_ERR_INVALID_HANDLE, nullptr}; }
void setBad(CMPIStatus *rc) {
  if (rc != nullptr) *rc = badHandle();
}

template <class C, class FT>
void initShell(Shell<C> &shell, Obj *obj, const FT *ft) {
  shell.c.hdl = obj;
  shell.c.ft = ft;
  shell.obj = obj;
  shell.magic = kMagic;
  obj->magicSlot = &shell.magic;
}

using Entries = std::vector<std::pair<std::string, CMPIData>>;

Entries::iterator findEntry(Entries &entries, const char *name) {
  return std::find_if(entries.begin(), entries.end(),
                      [&](const auto &e) { return sameName(e.first, name); });
}
Entries copyEntries(Manager *om, const Entries &entries) {
  Entries out;
  out.reserve(entries.size());
  for (const auto &e : entries) out.emplace_back(e.first, copyData(om, e.second));
  return out;
}
void entryObjects(const Entries &entries, std::vector<Obj *> &out) {
  for (const auto &e : entries)
    if (Obj *o = dataObject(e.second)) out.push_back(o);
}
void dropEntries(Entries &entries) {
  for (auto &e : entries) dropData(e.second);
  entries.clear();
}
// Stores a value under a name, replacing an earlier one.
bool putEntry(Manager *om, Entries &entries, const char *name, const CMPIValue *value,
              CMPIType type) {
  CMPIData data;
  if (!ownValue(om, value, type, &data)) return false;
  auto it = findEntry(entries, name);
  if (it != entries.end()) {
    dropData(it->second);
    it->second = data;
  } else {
    entries.emplace_back(name, data);
  }
  return true;
}
// "A = 1; B = \"x\"" (instances, args) or "A=1,B=\"x\"" (key bindings), sorted by name.
std::string entriesText(const Entries &entries, bool keyForm) {
  std::vector<const std::pair<std::string, CMPIData> *> sorted;
  for (const auto &e : entries) sorted.push_back(&e);
  std::sort(sorted.begin(), sorted.end(),
            [](const auto *a, const auto *b) { return lessName(a->first, b->first); });
  std::string out;
  for (const auto *e : sorted) {
    if (!out.empty()) out += keyForm ? "," : "; ";
    out += e->first + (keyForm ? "=" : " = ") + dataText(e->second);
  }
  return out;
}

// ---- String ------------------------------------------------------------------------
struct StringObj final : Obj {
  StringObj(Manager *m, std::string v) : Obj(m), value(std::move(v)) {
    initShell(shell, this, m->tables().string);
    shell.c.hdl = value.data();  // CMGetCharPtr reads the characters from the handle
  }
  const char *typeName() const override { return "CMPIString"; }
  std::string text() const override { return value; }
  Obj *copy() const override { return new StringObj(om, value); }
  void *face() override { return &shell.c; }
  Shell<CMPIString> shell;
  std::string value;
};

// ---- ObjectPath ------------------------------------------------------------------
struct PathObj final : Obj {
  explicit PathObj(Manager *m) : Obj(m) { initShell(shell, this, m->tables().objectPath); }
  ~PathObj() override { dropEntries(keys); }
  void ownedValues(std::vector<Obj *> &out) const override { entryObjects(keys, out); }
  const char *typeName() const override { return "CMPIObjectPath"; }
  std::string text() const override {
    std::string out = ns.empty() ? cls : ns + ":" + cls;
    if (!keys.empty()) out += "." + entriesText(keys, true);
    return out;
  }
  Obj *copy() const override {
    auto *p = new PathObj(om);
    p->ns = ns;
    p->host = host;
    p->cls = cls;
    p->keys = copyEntries(om, keys);
    return p;
  }
  void *face() override { return &shell.c; }
  Shell<CMPIObjectPath> shell;
  std::string ns, host, cls;
  Entries keys;
};

// ---- Instance --------------------------------------------------------------------
struct InstanceObj final : Obj {
  explicit InstanceObj(Manager *m) : Obj(m) { initShell(shell, this, m->tables().instance); }
  ~InstanceObj() override { dropEntries(props); }
  void ownedValues(std::vector<Obj *> &out) const override { entryObjects(props, out); }
  const char *typeName() const override { return "CMPIInstance"; }
  std::string text() const override {
    std::string body = entriesText(props, false);
    return "instance of " + cls + " { " + (body.empty() ? "" : body + "; ") + "}";
  }
  Obj *copy() const override {
    auto *i = new InstanceObj(om);
    i->ns = ns;
    i->host = host;
    i->cls = cls;
    i->keyNames = keyNames;
    i->props = copyEntries(om, props);
    i->hasFilter = hasFilter;
    i->filter = filter;
    return i;
  }
  void *face() override { return &shell.c; }
  bool isKey(const char *name) const {
    return std::any_of(keyNames.begin(), keyNames.end(),
                       [&](const std::string &k) { return sameName(k, name); });
  }
  bool passes(const char *name) const {
    if (!hasFilter || isKey(name)) return true;
    return std::any_of(filter.begin(), filter.end(),
                       [&](const std::string &k) { return sameName(k, name); });
  }
  void addKeyName(const std::string &name) {
    if (!isKey(name.c_str())) keyNames.push_back(name);
  }
  Shell<CMPIInstance> shell;
  std::string ns, host, cls;
  std::vector<std::string> keyNames;
  Entries props;
  bool hasFilter = false;
  std::vector<std::string> filter;
};

// ---- Args ----------------------------------------------------------------------------
struct ArgsObj final : Obj {
  explicit ArgsObj(Manager *m) : Obj(m) { initShell(shell, this, m->tables().args); }
  ~ArgsObj() override { dropEntries(args); }
  void ownedValues(std::vector<Obj *> &out) const override { entryObjects(args, out); }
  const char *typeName() const override { return "CMPIArgs"; }
  std::string text() const override {
    std::string body = entriesText(args, false);
    return "args { " + (body.empty() ? "" : body + "; ") + "}";
  }
  Obj *copy() const override {
    auto *a = new ArgsObj(om);
    a->args = copyEntries(om, args);
    return a;
  }
  void *face() override { return &shell.c; }
  Shell<CMPIArgs> shell;
  Entries args;
};

// ---- Array ---------------------------------------------------------------------------
struct ArrayObj final : Obj {
  ArrayObj(Manager *m, CMPICount size, CMPIType t) : Obj(m), type(t) {
    initShell(shell, this, m->tables().array);
    elements.assign(size, nullData(t, CMPI_nullValue));
    borrowed.assign(size, false);
  }
  ~ArrayObj() override {
    for (size_t i = 0; i < elements.size(); ++i) forget(i);
  }
  void ownedValues(std::vector<Obj *> &out) const override {
    for (size_t i = 0; i < elements.size(); ++i)
      if (Obj *o = borrowed[i] ? nullptr : dataObject(elements[i])) out.push_back(o);
  }
  // Empties element i; a borrowed object stays its owner's.
  void forget(size_t i) {
    if (borrowed[i])
      elements[i] = nullData(type, CMPI_nullValue);
    else
      dropData(elements[i]);
    borrowed[i] = false;
  }
  const char *typeName() const override { return "CMPIArray"; }
  std::string text() const override {
    std::string out = "{";
    for (size_t i = 0; i < elements.size(); ++i) {
      out += (i ? ", " : "") + dataText(elements[i]);
    }
    return out + "}";
  }
  Obj *copy() const override {
    auto *a = new ArrayObj(om, 0, type);
    for (const auto &e : elements) a->elements.push_back(copyData(om, e));
    a->borrowed.assign(a->elements.size(), false);
    return a;
  }
  void *face() override { return &shell.c; }
  Shell<CMPIArray> shell;
  CMPIType type;
  std::vector<CMPIData> elements;
  // Elements that hold the object a provider set (strict object manager).
  std::vector<bool> borrowed;
};

// ---- DateTime ------------------------------------------------------------------------
constexpr uint64_t kMicrosPerSecond = 1000000ULL;
constexpr uint64_t kMicrosPerDay = 86400ULL * kMicrosPerSecond;

// Days since 1970-01-01 of a proleptic Gregorian date, and back.
int64_t daysFromCivil(int64_t y, unsigned m, unsigned d) {
  y -= m <= 2;
  const int64_t era = (y >= 0 ? y : y - 399) / 400;
  const unsigned yoe = static_cast<unsigned>(y - era * 400);
  const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + static_cast<int64_t>(doe) - 719468;
}
void civilFromDays(int64_t z, int64_t *y, unsigned *m, unsigned *d) {
  z += 719468;
  const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const unsigned doe = static_cast<unsigned>(z - era * 146097);
  const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const unsigned mp = (5 * doy + 2) / 153;
  *d = doy - (153 * mp + 2) / 5 + 1;
  *m = mp < 10 ? mp + 3 : mp - 9;
  *y = static_cast<int64_t>(yoe) + era * 400 + (*m <= 2);
}

struct DateTimeObj final : Obj {
  DateTimeObj(Manager *m, uint64_t us, bool iv, int off)
      : Obj(m), micros(us), interval(iv), offset(off) {
    initShell(shell, this, m->tables().dateTime);
  }
  const char *typeName() const override { return "CMPIDateTime"; }
  std::string text() const override {
    char buf[64];
    unsigned long long fraction = micros % kMicrosPerSecond;
    if (interval) {
      uint64_t secs = micros / kMicrosPerSecond;
      std::snprintf(buf, sizeof buf, "%08llu%02llu%02llu%02llu.%06llu:000",
                    static_cast<unsigned long long>(secs / 86400),
                    static_cast<unsigned long long>(secs / 3600 % 24),
                    static_cast<unsigned long long>(secs / 60 % 60),
                    static_cast<unsigned long long>(secs % 60), fraction);
      return buf;
    }
    int64_t local = static_cast<int64_t>(micros / kMicrosPerSecond) + offset * 60;
    int64_t days = local >= 0 ? local / 86400 : (local - 86399) / 86400;
    int64_t secs = local - days * 86400;
    int64_t y;
    unsigned mo, d;
    civilFromDays(days, &y, &mo, &d);
    int off = offset < 0 ? -offset : offset;
    std::snprintf(buf, sizeof buf, "%04lld%02u%02u%02lld%02lld%02lld.%06llu%c%03d",
                  static_cast<long long>(y), mo, d, static_cast<long long>(secs / 3600),
                  static_cast<long long>(secs / 60 % 60), static_cast<long long>(secs % 60),
                  fraction, offset < 0 ? '-' : '+', off);
    return buf;
  }
  Obj *copy() const override { return new DateTimeObj(om, micros, interval, offset); }
  void *face() override { return &shell.c; }
  Shell<CMPIDateTime> shell;
  uint64_t micros;
  bool interval;
  int offset;  // minutes east of UTC of the text form
};

// ---- Enumeration ---------------------------------------------------------------------
struct EnumObj final : Obj {
  EnumObj(Manager *m, std::vector<CMPIData> v) : Obj(m), items(std::move(v)) {
    initShell(shell, this, m->tables().enumeration);
  }
  ~EnumObj() override {
    for (auto &e : items) dropData(e);
  }
  void ownedValues(std::vector<Obj *> &out) const override {
    for (const auto &e : items)
      if (Obj *o = dataObject(e)) out.push_back(o);
  }
  const char *typeName() const override { return "CMPIEnumeration"; }
  std::string text() const override {
    std::string out = "enumeration {";
    for (size_t i = 0; i < items.size(); ++i) out += (i ? ", " : " ") + dataText(items[i]);
    return out + " }";
  }
  Obj *copy() const override {
    std::vector<CMPIData> v;
    for (const auto &e : items) v.push_back(copyData(om, e));
    auto *en = new EnumObj(om, std::move(v));
    en->pos = pos;
    return en;
  }
  void *face() override { return &shell.c; }
  Shell<CMPIEnumeration> shell;
  std::vector<CMPIData> items;
  size_t pos = 0;
};

// ---- Context -------------------------------------------------------------------------
struct ContextObj final : Obj {
  explicit ContextObj(Manager *m) : Obj(m) { initShell(shell, this, m->tables().context); }
  ~ContextObj() override { dropEntries(entries); }
  void ownedValues(std::vector<Obj *> &out) const override { entryObjects(entries, out); }
  const char *typeName() const override { return "CMPIContext"; }
  std::string text() const override { return "context { " + entriesText(entries, false) + " }"; }
  Obj *copy() const override {
    auto *c = new ContextObj(om);
    c->entries = copyEntries(om, entries);
    return c;
  }
  void *face() override { return &shell.c; }
  Shell<CMPIContext> shell;
  Entries entries;
};

// ---- Result --------------------------------------------------------------------------
struct ResultObj final : Obj {
  explicit ResultObj(Manager *m) : Obj(m) { initShell(shell, this, m->tables().result); }
  ~ResultObj() override {
    for (auto *v : {&data.instances, &data.paths, &data.data})
      for (auto &e : *v) dropData(e);
  }
  const char *typeName() const override { return "CMPIResult"; }
  std::string text() const override {
    return "result of " +
           std::to_string(data.instances.size() + data.paths.size() + data.data.size()) + " items";
  }
  Obj *copy() const override {
    auto *r = new ResultObj(om);
    for (const auto &e : data.instances) r->data.instances.push_back(copyData(om, e));
    for (const auto &e : data.paths) r->data.paths.push_back(copyData(om, e));
    for (const auto &e : data.data) r->data.data.push_back(copyData(om, e));
    r->data.errors = data.errors;
    r->data.done = data.done;
    return r;
  }
  void *face() override { return &shell.c; }
  Shell<CMPIResult> shell;
  ResultData data;
};

// ---- SelectExp ------------------------------------------------------------------------
struct SelectObj final : Obj {
  SelectObj(Manager *m, std::string q, std::string l)
      : Obj(m), query(std::move(q)), lang(std::move(l)) {
    initShell(shell, this, m->tables().selectExp);
  }
  const char *typeName() const override { return "CMPISelectExp"; }
  std::string text() const override { return query; }
  Obj *copy() const override { return new SelectObj(om, query, lang); }
  void *face() override { return &shell.c; }
  Shell<CMPISelectExp> shell;
  std::string query, lang;
};

// ---- Error ---------------------------------------------------------------------------------
struct ErrorObj final : Obj {
  explicit ErrorObj(Manager *m) : Obj(m) { initShell(shell, this, m->tables().error); }
  ~ErrorObj() override {
    dropData(actions);
    dropData(arguments);
  }
  const char *typeName() const override { return "CMPIError"; }
  std::string text() const override {
    return "error " + std::to_string(code) + " " + messageId + ": " + message;
  }
  Obj *copy() const override {
    auto *e = new ErrorObj(om);
    e->type = type;
    e->otherType = otherType;
    e->owner = owner;
    e->messageId = messageId;
    e->message = message;
    e->severity = severity;
    e->cause = cause;
    e->causeDescription = causeDescription;
    e->actions = copyData(om, actions);
    e->source = source;
    e->sourceFormat = sourceFormat;
    e->otherSourceFormat = otherSourceFormat;
    e->code = code;
    e->codeDescription = codeDescription;
    e->arguments = copyData(om, arguments);
    return e;
  }
  void *face() override { return &shell.c; }
  Shell<CMPIError> shell;
  CMPIErrorType type = UnknownErrorType;
  std::string otherType, owner, messageId, message;
  CMPIErrorSeverity severity = ErrorSevUnknown;
  CMPIErrorProbableCause cause = ErrorProbCauseUnknown;
  std::string causeDescription;
  CMPIData actions = nullData(CMPI_stringA);
  std::string source;
  CMPIErrorSrcFormat sourceFormat = CMPIErrSrcUnknown;
  std::string otherSourceFormat;
  CMPIrc code = CMPI_RC_OK;
  std::string codeDescription;
  CMPIData arguments = nullData(CMPI_stringA);
};

template <class T, class C>
T *self(const C *c) {
  Obj *o = objOf(c);
  if (o == nullptr) {
    if (Obj *dead = poisonedObj(c)) dead->om->usedAfterRelease(dead);
  }
  return static_cast<T *>(o);
}

// Release and clone are alike for every type.
template <class T, class C, Fn RELEASE>
CMPIStatus releaseOf(C *c) {
  if (Obj *dead = poisonedObj(c)) {
    dead->om->misuse(std::string("second release of a released ") + dead->typeName() + ": " +
                     dead->text());
    return badHandle();
  }
  T *o = self<T>(c);
  if (o == nullptr) {
    if (released(c)) {
      if (Manager *om = currentManager()) om->misuse("second release of a released object");
    }
    return badHandle();
  }
  Gate g(o->om, RELEASE);
  if (g.failed()) return g.faultStatus();
  return o->om->release(o);
}
template <class T, class C, Fn CLONE>
C *cloneOf(const C *c, CMPIStatus *rc) {
  T *o = self<T>(c);
  if (o == nullptr) {
    setBad(rc);
    return nullptr;
  }
  Gate g(o->om, CLONE);
  if (g.shortCircuit(rc)) return nullptr;
  Obj *copy = cloneAs(o, Kind::Tracked);
  g.finish(rc);
  return static_cast<C *>(copy->face());
}

CMPIString *childString(Obj *parent, const std::string &text) {
  return makeString(parent->om, text, Kind::Child, parent);
}

// Reads entry `index`, handing out its name as a child string and its value
// as a child copy (handOut).
CMPIData entryAt(Obj *owner, Entries &entries, CMPICount index, CMPIString **name, Gate &g,
                 CMPIStatus *rc) {
  if (index >= entries.size()) {
    if (name != nullptr) *name = nullptr;
    g.finish(rc, CMPI_RC_ERR_NO_SUCH_PROPERTY);
    return nullData(CMPI_null, CMPI_nullValue | CMPI_notFound);
  }
  if (name != nullptr) *name = childString(owner, entries[index].first);
  g.finish(rc);
  return handOut(owner, entries[index].second);
}
// A missing name is CMPI_RC_ERR_NO_SUCH_PROPERTY for every kind of entry
// (property, key, argument, context entry).
CMPIData entryNamed(Obj *owner, Entries &entries, const char *name, Gate &g, CMPIStatus *rc) {
  auto it = findEntry(entries, name);
  if (it == entries.end()) {
    g.finish(rc, CMPI_RC_ERR_NO_SUCH_PROPERTY);
    return nullData(CMPI_null, CMPI_nullValue | CMPI_notFound);
  }
  g.finish(rc);
  return handOut(owner, it->second);
}

// ---- String table ----------------------------------------------------------------------
const char *strGetCharPtr(const CMPIString *s, CMPIStatus *rc) {
  auto *o = self<StringObj>(s);
  if (o == nullptr) {
    setBad(rc);
    return nullptr;
  }
  Gate g(o->om, Fn::String_getCharPtr);
  if (g.shortCircuit(rc)) return nullptr;
  g.finish(rc);
  return o->value.c_str();
}

// ---- Context table -----------------------------------------------------------------------
CMPIData ctxGetEntry(const CMPIContext *c, const char *name, CMPIStatus *rc) {
  auto *o = self<ContextObj>(c);
  if (o == nullptr) return setBad(rc), nullData();
  Gate g(o->om, Fn::Context_getEntry);
  if (g.shortCircuit(rc)) return nullData();
  return entryNamed(o, o->entries, name, g, rc);
}
CMPIData ctxGetEntryAt(const CMPIContext *c, CMPICount index, CMPIString **name, CMPIStatus *rc) {
  auto *o = self<ContextObj>(c);
  if (o == nullptr) return setBad(rc), nullData();
  Gate g(o->om, Fn::Context_getEntryAt);
  if (g.shortCircuit(rc)) return nullData();
  return entryAt(o, o->entries, index, name, g, rc);
}
CMPICount ctxGetEntryCount(const CMPIContext *c, CMPIStatus *rc) {
  auto *o = self<ContextObj>(c);
  if (o == nullptr) return setBad(rc), 0;
  Gate g(o->om, Fn::Context_getEntryCount);
  if (g.shortCircuit(rc)) return 0;
  g.finish(rc);
  return static_cast<CMPICount>(o->entries.size());
}
CMPIStatus ctxAddEntry(const CMPIContext *c, const char *name, const CMPIValue *value,
                       const CMPIType type) {
  auto *o = self<ContextObj>(c);
  if (o == nullptr) return badHandle();
  Gate g(o->om, Fn::Context_addEntry);
  if (g.failed()) return g.faultStatus();
  if (name == nullptr) return o->om->status(CMPI_RC_ERR_INVALID_PARAMETER, "entry name is NULL");
  if (!putEntry(o->om, o->entries, name, value, type))
    return o->om->status(CMPI_RC_ERR_INVALID_DATA_TYPE);
  return okStatus();
}

// ---- Result table -------------------------------------------------------------------------
CMPIStatus resReturnData(const CMPIResult *r, const CMPIValue *value, const CMPIType type) {
  auto *o = self<ResultObj>(r);
  if (o == nullptr) return badHandle();
  Gate g(o->om, Fn::Result_returnData);
  if (g.failed()) return g.faultStatus();
  CMPIData d;
  if (!ownValue(o->om, value, type, &d)) return o->om->status(CMPI_RC_ERR_INVALID_DATA_TYPE);
  o->data.data.push_back(d);
  return okStatus();
}
CMPIStatus resReturnInstance(const CMPIResult *r, const CMPIInstance *inst) {
  auto *o = self<ResultObj>(r);
  if (o == nullptr) return badHandle();
  Gate g(o->om, Fn::Result_returnInstance);
  if (g.failed()) return g.faultStatus();
  Obj *source = objOf(inst);
  if (source == nullptr)
    return o->om->status(CMPI_RC_ERR_INVALID_PARAMETER, "returned instance is not valid");
  CMPIData d = nullData(CMPI_instance, CMPI_goodValue);
  d.value.inst = static_cast<CMPIInstance *>(cloneAs(source, Kind::Embedded)->face());
  o->data.instances.push_back(d);
  return okStatus();
}
CMPIStatus resReturnObjectPath(const CMPIResult *r, const CMPIObjectPath *ref) {
  auto *o = self<ResultObj>(r);
  if (o == nullptr) return badHandle();
  Gate g(o->om, Fn::Result_returnObjectPath);
  if (g.failed()) return g.faultStatus();
  Obj *source = objOf(ref);
  if (source == nullptr)
    return o->om->status(CMPI_RC_ERR_INVALID_PARAMETER, "returned object path is not valid");
  CMPIData d = nullData(CMPI_ref, CMPI_goodValue);
  d.value.ref = static_cast<CMPIObjectPath *>(cloneAs(source, Kind::Embedded)->face());
  o->data.paths.push_back(d);
  return okStatus();
}
CMPIStatus resReturnDone(const CMPIResult *r) {
  auto *o = self<ResultObj>(r);
  if (o == nullptr) return badHandle();
  Gate g(o->om, Fn::Result_returnDone);
  if (g.failed()) return g.faultStatus();
  ++o->data.done;
  return okStatus();
}
CMPIStatus resReturnError(const CMPIResult *r, const CMPIError *er) {
  auto *o = self<ResultObj>(r);
  if (o == nullptr) return badHandle();
  Gate g(o->om, Fn::Result_returnError);
  if (g.failed()) return g.faultStatus();
  auto *e = self<ErrorObj>(er);
  if (e == nullptr) return o->om->status(CMPI_RC_ERR_INVALID_PARAMETER, "error is not valid");
  o->data.errors.push_back(std::to_string(e->code) + ": " + e->message);
  return okStatus();
}

// ---- Instance table ------------------------------------------------------------------------
CMPIData instGetProperty(const CMPIInstance *i, const char *name, CMPIStatus *rc) {
  auto *o = self<InstanceObj>(i);
  if (o == nullptr) return setBad(rc), nullData();
  Gate g(o->om, Fn::Instance_getProperty);
  if (g.shortCircuit(rc)) return nullData();
  return entryNamed(o, o->props, name, g, rc);
}
CMPIData instGetPropertyAt(const CMPIInstance *i, CMPICount index, CMPIString **name,
                           CMPIStatus *rc) {
  auto *o = self<InstanceObj>(i);
  if (o == nullptr) return setBad(rc), nullData();
  Gate g(o->om, Fn::Instance_getPropertyAt);
  if (g.shortCircuit(rc)) return nullData();
  return entryAt(o, o->props, index, name, g, rc);
}
CMPICount instGetPropertyCount(const CMPIInstance *i, CMPIStatus *rc) {
  auto *o = self<InstanceObj>(i);
  if (o == nullptr) return setBad(rc), 0;
  Gate g(o->om, Fn::Instance_getPropertyCount);
  if (g.shortCircuit(rc)) return 0;
  g.finish(rc);
  return static_cast<CMPICount>(o->props.size());
}
CMPIStatus setProp(InstanceObj *o, const char *name, const CMPIValue *value, CMPIType type) {
  if (name == nullptr) return o->om->status(CMPI_RC_ERR_INVALID_PARAMETER, "property name is NULL");
  // Outside the filter the value is dropped without complaint, as providers
  // set everything and let the filter decide.
  if (!o->passes(name)) return okStatus();
  if (!putEntry(o->om, o->props, name, value, type))
    return o->om->status(CMPI_RC_ERR_INVALID_DATA_TYPE, std::string("cannot store ") + name);
  return okStatus();
}
CMPIStatus instSetProperty(const CMPIInstance *i, const char *name, const CMPIValue *value,
                           const CMPIType type) {
  auto *o = self<InstanceObj>(i);
  if (o == nullptr) return badHandle();
  Gate g(o->om, Fn::Instance_setProperty);
  if (g.failed()) return g.faultStatus();
  return setProp(o, name, value, type);
}
CMPIStatus instSetPropertyWithOrigin(const CMPIInstance *i, const char *name,
                                     const CMPIValue *value, const CMPIType type, const char *) {
  auto *o = self<InstanceObj>(i);
  if (o == nullptr) return badHandle();
  Gate g(o->om, Fn::Instance_setPropertyWithOrigin);
  if (g.failed()) return g.faultStatus();
  return setProp(o, name, value, type);
}
PathObj *pathOfInstance(InstanceObj *o, Kind kind) {
  auto *p = new PathObj(o->om);
  p->ns = o->ns;
  p->host = o->host;
  p->cls = o->cls;
  for (const auto &k : o->keyNames) {
    auto it = findEntry(o->props, k.c_str());
    if (it == o->props.end()) continue;
    CMPIData d = copyData(o->om, it->second);
    d.state = static_cast<CMPIValueState>(d.state | CMPI_keyValue);
    p->keys.emplace_back(it->first, d);
  }
  o->om->place(p, kind, kind == Kind::Child ? o : nullptr);
  return p;
}
CMPIObjectPath *instGetObjectPath(const CMPIInstance *i, CMPIStatus *rc) {
  auto *o = self<InstanceObj>(i);
  if (o == nullptr) return setBad(rc), nullptr;
  Gate g(o->om, Fn::Instance_getObjectPath);
  if (g.shortCircuit(rc)) return nullptr;
  g.finish(rc);
  return &pathOfInstance(o, Kind::Child)->shell.c;
}
CMPIStatus instSetPropertyFilter(const CMPIInstance *i, const char **list, const char **keys) {
  auto *o = self<InstanceObj>(i);
  if (o == nullptr) return badHandle();
  Gate g(o->om, Fn::Instance_setPropertyFilter);
  if (g.failed()) return g.faultStatus();
  o->hasFilter = list != nullptr;
  o->filter.clear();
  for (const char **p = list; p != nullptr && *p != nullptr; ++p) o->filter.emplace_back(*p);
  for (const char **p = keys; p != nullptr && *p != nullptr; ++p) o->addKeyName(*p);
  return okStatus();
}
void applyPath(InstanceObj *o, const PathObj *p) {
  o->ns = p->ns;
  o->host = p->host;
  o->cls = p->cls;
  for (const auto &k : p->keys) {
    o->addKeyName(k.first);
    auto it = findEntry(o->props, k.first.c_str());
    CMPIData d = copyData(o->om, k.second);
    d.state = static_cast<CMPIValueState>(d.state & ~CMPI_keyValue);
    if (it != o->props.end()) {
      dropData(it->second);
      it->second = d;
    } else {
      o->props.emplace_back(k.first, d);
    }
  }
}
CMPIStatus instSetObjectPath(const CMPIInstance *i, const CMPIObjectPath *op) {
  auto *o = self<InstanceObj>(i);
  if (o == nullptr) return badHandle();
  Gate g(o->om, Fn::Instance_setObjectPath);
  if (g.failed()) return g.faultStatus();
  auto *p = self<PathObj>(op);
  if (p == nullptr) return o->om->status(CMPI_RC_ERR_INVALID_PARAMETER, "object path is not valid");
  applyPath(o, p);
  return okStatus();
}

// ---- ObjectPath table ----------------------------------------------------------------------
template <Fn FN, std::string PathObj::*FIELD>
CMPIStatus pathSetText(const CMPIObjectPath *op, const char *text) {
  auto *o = self<PathObj>(op);
  if (o == nullptr) return badHandle();
  Gate g(o->om, FN);
  if (g.failed()) return g.faultStatus();
  o->*FIELD = text != nullptr ? text : "";
  return okStatus();
}
template <Fn FN, std::string PathObj::*FIELD>
CMPIString *pathGetText(const CMPIObjectPath *op, CMPIStatus *rc) {
  auto *o = self<PathObj>(op);
  if (o == nullptr) return setBad(rc), nullptr;
  Gate g(o->om, FN);
  if (g.shortCircuit(rc)) return nullptr;
  g.finish(rc);
  return childString(o, o->*FIELD);
}
CMPIStatus pathAddKey(const CMPIObjectPath *op, const char *name, const CMPIValue *value,
                      const CMPIType type) {
  auto *o = self<PathObj>(op);
  if (o == nullptr) return badHandle();
  Gate g(o->om, Fn::ObjectPath_addKey);
  if (g.failed()) return g.faultStatus();
  if (name == nullptr) return o->om->status(CMPI_RC_ERR_INVALID_PARAMETER, "key name is NULL");
  if (!putEntry(o->om, o->keys, name, value, type))
    return o->om->status(CMPI_RC_ERR_INVALID_DATA_TYPE);
  auto it = findEntry(o->keys, name);
  it->second.state = static_cast<CMPIValueState>(it->second.state | CMPI_keyValue);
  return okStatus();
}
CMPIData pathGetKey(const CMPIObjectPath *op, const char *name, CMPIStatus *rc) {
  auto *o = self<PathObj>(op);
  if (o == nullptr) return setBad(rc), nullData();
  Gate g(o->om, Fn::ObjectPath_getKey);
  if (g.shortCircuit(rc)) return nullData();
  return entryNamed(o, o->keys, name, g, rc);
}
CMPIData pathGetKeyAt(const CMPIObjectPath *op, CMPICount index, CMPIString **name,
                      CMPIStatus *rc) {
  auto *o = self<PathObj>(op);
  if (o == nullptr) return setBad(rc), nullData();
  Gate g(o->om, Fn::ObjectPath_getKeyAt);
  if (g.shortCircuit(rc)) return nullData();
  return entryAt(o, o->keys, index, name, g, rc);
}
CMPICount pathGetKeyCount(const CMPIObjectPath *op, CMPIStatus *rc) {
  auto *o = self<PathObj>(op);
  if (o == nullptr) return setBad(rc), 0;
  Gate g(o->om, Fn::ObjectPath_getKeyCount);
  if (g.shortCircuit(rc)) return 0;
  g.finish(rc);
  return static_cast<CMPICount>(o->keys.size());
}
CMPIStatus pathSetNsFrom(const CMPIObjectPath *op, const CMPIObjectPath *src) {
  auto *o = self<PathObj>(op);
  if (o == nullptr) return badHandle();
  Gate g(o->om, Fn::ObjectPath_setNameSpaceFromObjectPath);
  if (g.failed()) return g.faultStatus();
  auto *s = self<PathObj>(src);
  if (s == nullptr) return o->om->status(CMPI_RC_ERR_INVALID_PARAMETER, "source path is not valid");
  o->ns = s->ns;
  return okStatus();
}
CMPIStatus pathSetHostNsFrom(const CMPIObjectPath *op, const CMPIObjectPath *src) {
  auto *o = self<PathObj>(op);
  if (o == nullptr) return badHandle();
  Gate g(o->om, Fn::ObjectPath_setHostAndNameSpaceFromObjectPath);
  if (g.failed()) return g.faultStatus();
  auto *s = self<PathObj>(src);
  if (s == nullptr) return o->om->status(CMPI_RC_ERR_INVALID_PARAMETER, "source path is not valid");
  o->ns = s->ns;
  o->host = s->host;
  return okStatus();
}
// Qualifiers need a schema, which this object manager does not keep.
CMPIData qualifierNotSupported(PathObj *o, Fn fn, CMPIStatus *rc) {
  Gate g(o->om, fn);
  if (g.shortCircuit(rc)) return nullData();
  g.finish(rc, CMPI_RC_ERR_NOT_SUPPORTED, "qualifiers are not supported");
  return nullData();
}
CMPIData pathClassQualifier(const CMPIObjectPath *op, const char *, CMPIStatus *rc) {
  auto *o = self<PathObj>(op);
  if (o == nullptr) return setBad(rc), nullData();
  return qualifierNotSupported(o, Fn::ObjectPath_getClassQualifier, rc);
}
CMPIData pathPropertyQualifier(const CMPIObjectPath *op, const char *, const char *,
                               CMPIStatus *rc) {
  auto *o = self<PathObj>(op);
  if (o == nullptr) return setBad(rc), nullData();
  return qualifierNotSupported(o, Fn::ObjectPath_getPropertyQualifier, rc);
}
CMPIData pathMethodQualifier(const CMPIObjectPath *op, const char *, const char *, CMPIStatus *rc) {
  auto *o = self<PathObj>(op);
  if (o == nullptr) return setBad(rc), nullData();
  return qualifierNotSupported(o, Fn::ObjectPath_getMethodQualifier, rc);
}
CMPIData pathParameterQualifier(const CMPIObjectPath *op, const char *, const char *, const char *,
                                CMPIStatus *rc) {
  auto *o = self<PathObj>(op);
  if (o == nullptr) return setBad(rc), nullData();
  return qualifierNotSupported(o, Fn::ObjectPath_getParameterQualifier, rc);
}
CMPIString *pathToString(const CMPIObjectPath *op, CMPIStatus *rc) {
  auto *o = self<PathObj>(op);
  if (o == nullptr) return setBad(rc), nullptr;
  Gate g(o->om, Fn::ObjectPath_toString);
  if (g.shortCircuit(rc)) return nullptr;
  g.finish(rc);
  return childString(o, o->host.empty() ? o->text() : "//" + o->host + "/" + o->text());
}

// ---- Args table ------------------------------------------------------------------------------
CMPIStatus argsAdd(const CMPIArgs *as, const char *name, const CMPIValue *value,
                   const CMPIType type) {
  auto *o = self<ArgsObj>(as);
  if (o == nullptr) return badHandle();
  Gate g(o->om, Fn::Args_addArg);
  if (g.failed()) return g.faultStatus();
  if (name == nullptr) return o->om->status(CMPI_RC_ERR_INVALID_PARAMETER, "argument name is NULL");
  if (!putEntry(o->om, o->args, name, value, type))
    return o->om->status(CMPI_RC_ERR_INVALID_DATA_TYPE);
  return okStatus();
}
CMPIData argsGet(const CMPIArgs *as, const char *name, CMPIStatus *rc) {
  auto *o = self<ArgsObj>(as);
  if (o == nullptr) return setBad(rc), nullData();
  Gate g(o->om, Fn::Args_getArg);
  if (g.shortCircuit(rc)) return nullData();
  return entryNamed(o, o->args, name, g, rc);
}
CMPIData argsGetAt(const CMPIArgs *as, CMPICount index, CMPIString **name, CMPIStatus *rc) {
  auto *o = self<ArgsObj>(as);
  if (o == nullptr) return setBad(rc), nullData();
  Gate g(o->om, Fn::Args_getArgAt);
  if (g.shortCircuit(rc)) return nullData();
  return entryAt(o, o->args, index, name, g, rc);
}
CMPICount argsCount(const CMPIArgs *as, CMPIStatus *rc) {
  auto *o = self<ArgsObj>(as);
  if (o == nullptr) return setBad(rc), 0;
  Gate g(o->om, Fn::Args_getArgCount);
  if (g.shortCircuit(rc)) return 0;
  g.finish(rc);
  return static_cast<CMPICount>(o->args.size());
}

// ---- Array table -----------------------------------------------------------------------------
CMPICount arrGetSize(const CMPIArray *a, CMPIStatus *rc) {
  auto *o = self<ArrayObj>(a);
  if (o == nullptr) return setBad(rc), 0;
  Gate g(o->om, Fn::Array_getSize);
  if (g.shortCircuit(rc)) return 0;
  g.finish(rc);
  return static_cast<CMPICount>(o->elements.size());
}
CMPIType arrGetSimpleType(const CMPIArray *a, CMPIStatus *rc) {
  auto *o = self<ArrayObj>(a);
  if (o == nullptr) return setBad(rc), CMPIType{CMPI_null};
  Gate g(o->om, Fn::Array_getSimpleType);
  if (g.shortCircuit(rc)) return CMPI_null;
  g.finish(rc);
  return o->type;
}
CMPIData arrGetElementAt(const CMPIArray *a, CMPICount index, CMPIStatus *rc) {
  auto *o = self<ArrayObj>(a);
  if (o == nullptr) return setBad(rc), nullData();
  Gate g(o->om, Fn::Array_getElementAt);
  if (g.shortCircuit(rc)) return nullData();
  if (index >= o->elements.size()) {
    g.finish(rc, CMPI_RC_ERR_NO_SUCH_PROPERTY, "array index out of range");
    return nullData(o->type, CMPI_nullValue | CMPI_notFound);
  }
  g.finish(rc);
  // A borrowed element is the provider's own object: it gets it back.
  if (o->borrowed[index]) return o->elements[index];
  return handOut(o, o->elements[index]);
}
CMPIStatus arrSetElementAt(const CMPIArray *a, CMPICount index, const CMPIValue *value,
                           const CMPIType type) {
  auto *o = self<ArrayObj>(a);
  if (o == nullptr) return badHandle();
  Gate g(o->om, Fn::Array_setElementAt);
  if (g.failed()) return g.faultStatus();
  if (index >= o->elements.size())
    return o->om->status(CMPI_RC_ERR_NO_SUCH_PROPERTY, "array index out of range");
  CMPIData d;
  if (type == CMPI_null || value == nullptr) {
    d = nullData(o->type, CMPI_nullValue);
  } else {
    bool fits = type == o->type || (o->type == CMPI_string && type == CMPI_chars);
    if (!fits)
      return o->om->status(CMPI_RC_ERR_TYPE_MISMATCH, std::string("array of ") + typeText(o->type) +
                                                          " given " + typeText(type));
    if (o->om->strict() && type != CMPI_chars && isObjectType(type)) {
      // The object given is held as it is: no copy, no ownership taken.
      CMPIValue held;
      std::memcpy(&held, value, sizeof(void *));
      if (Obj *dead = poisonedIn(held, type)) {
        o->om->usedAfterRelease(dead);
        return o->om->status(CMPI_RC_ERR_INVALID_HANDLE, "released object given");
      }
      o->forget(index);
      o->elements[index] = nullData(type, held.inst == nullptr ? CMPI_nullValue : CMPI_goodValue);
      o->elements[index].value = held;
      o->borrowed[index] = held.inst != nullptr;
      return okStatus();
    }
    if (!ownValue(o->om, value, type, &d)) return o->om->status(CMPI_RC_ERR_INVALID_DATA_TYPE);
  }
  o->forget(index);
  o->elements[index] = d;
  return okStatus();
}

// ---- DateTime table ---------------------------------------------------------------------------
CMPIUint64 dtBinary(const CMPIDateTime *dt, CMPIStatus *rc) {
  auto *o = self<DateTimeObj>(dt);
  if (o == nullptr) return setBad(rc), 0;
  Gate g(o->om, Fn::DateTime_getBinaryFormat);
  if (g.shortCircuit(rc)) return 0;
  g.finish(rc);
  return o->micros;
}
CMPIString *dtString(const CMPIDateTime *dt, CMPIStatus *rc) {
  auto *o = self<DateTimeObj>(dt);
  if (o == nullptr) return setBad(rc), nullptr;
  Gate g(o->om, Fn::DateTime_getStringFormat);
  if (g.shortCircuit(rc)) return nullptr;
  g.finish(rc);
  return childString(o, o->text());
}
CMPIBoolean dtIsInterval(const CMPIDateTime *dt, CMPIStatus *rc) {
  auto *o = self<DateTimeObj>(dt);
  if (o == nullptr) return setBad(rc), 0;
  Gate g(o->om, Fn::DateTime_isInterval);
  if (g.shortCircuit(rc)) return 0;
  g.finish(rc);
  return o->interval ? 1 : 0;
}

// ---- Enumeration table -------------------------------------------------------------------------
CMPIData enGetNext(const CMPIEnumeration *en, CMPIStatus *rc) {
  auto *o = self<EnumObj>(en);
  if (o == nullptr) return setBad(rc), nullData();
  Gate g(o->om, Fn::Enumeration_getNext);
  if (g.shortCircuit(rc)) return nullData();
  if (o->pos >= o->items.size()) {
    g.finish(rc, CMPI_RC_ERR_NOT_FOUND, "no more elements");
    return nullData();
  }
  g.finish(rc);
  return handOut(o, o->items[o->pos++]);
}
CMPIBoolean enHasNext(const CMPIEnumeration *en, CMPIStatus *rc) {
  auto *o = self<EnumObj>(en);
  if (o == nullptr) return setBad(rc), 0;
  Gate g(o->om, Fn::Enumeration_hasNext);
  if (g.shortCircuit(rc)) return 0;
  g.finish(rc);
  return o->pos < o->items.size() ? 1 : 0;
}
CMPIArray *enToArray(const CMPIEnumeration *en, CMPIStatus *rc) {
  auto *o = self<EnumObj>(en);
  if (o == nullptr) return setBad(rc), nullptr;
  Gate g(o->om, Fn::Enumeration_toArray);
  if (g.shortCircuit(rc)) return nullptr;
  CMPIType type = o->items.empty() ? CMPIType{CMPI_instance} : o->items.front().type;
  auto *a = new ArrayObj(o->om, 0, type);
  for (const auto &e : o->items) a->elements.push_back(copyData(o->om, e));
  a->borrowed.assign(a->elements.size(), false);
  o->om->place(a, Kind::Child, o);
  g.finish(rc);
  return &a->shell.c;
}

// ---- SelectExp table ---------------------------------------------------------------------------
CMPIBoolean seEvaluate(const CMPISelectExp *se, const CMPIInstance *, CMPIStatus *rc) {
  auto *o = self<SelectObj>(se);
  if (o == nullptr) return setBad(rc), 0;
  Gate g(o->om, Fn::SelectExp_evaluate);
  if (g.shortCircuit(rc)) return 0;
  g.finish(rc, CMPI_RC_ERR_NOT_SUPPORTED, "query evaluation is not supported");
  return 0;
}
CMPIString *seGetString(const CMPISelectExp *se, CMPIStatus *rc) {
  auto *o = self<SelectObj>(se);
  if (o == nullptr) return setBad(rc), nullptr;
  Gate g(o->om, Fn::SelectExp_getString);
  if (g.shortCircuit(rc)) return nullptr;
  g.finish(rc);
  return childString(o, o->query);
}
template <Fn FN>
CMPISelectCond *seCond(const CMPISelectExp *se, CMPIStatus *rc) {
  auto *o = self<SelectObj>(se);
  if (o == nullptr) return setBad(rc), nullptr;
  Gate g(o->om, FN);
  if (g.shortCircuit(rc)) return nullptr;
  g.finish(rc, CMPI_RC_ERR_NOT_SUPPORTED, "query normalisation is not supported");
  return nullptr;
}
CMPIBoolean seEvaluateUsingAccessor(const CMPISelectExp *se, CMPIAccessor *, void *,
                                    CMPIStatus *rc) {
  auto *o = self<SelectObj>(se);
  if (o == nullptr) return setBad(rc), 0;
  Gate g(o->om, Fn::SelectExp_evaluateUsingAccessor);
  if (g.shortCircuit(rc)) return 0;
  g.finish(rc, CMPI_RC_ERR_NOT_SUPPORTED, "query evaluation is not supported");
  return 0;
}

// ---- Error table -------------------------------------------------------------------------------
template <Fn FN, class V, V ErrorObj::*FIELD>
V errGetValue(const CMPIError *er, CMPIStatus *rc) {
  auto *o = self<ErrorObj>(er);
  if (o == nullptr) return setBad(rc), V{};
  Gate g(o->om, FN);
  if (g.shortCircuit(rc)) return V{};
  g.finish(rc);
  return o->*FIELD;
}
template <Fn FN, std::string ErrorObj::*FIELD>
CMPIString *errGetText(const CMPIError *er, CMPIStatus *rc) {
  auto *o = self<ErrorObj>(er);
  if (o == nullptr) return setBad(rc), nullptr;
  Gate g(o->om, FN);
  if (g.shortCircuit(rc)) return nullptr;
  g.finish(rc);
  return childString(o, o->*FIELD);
}
template <Fn FN, CMPIData ErrorObj::*FIELD>
CMPIArray *errGetArray(const CMPIError *er, CMPIStatus *rc) {
  auto *o = self<ErrorObj>(er);
  if (o == nullptr) return setBad(rc), nullptr;
  Gate g(o->om, FN);
  if (g.shortCircuit(rc)) return nullptr;
  g.finish(rc);
  const CMPIData &d = o->*FIELD;
  if (d.state & CMPI_nullValue) return nullptr;
  Obj *copy = objOf(d.value.array)->copy();
  o->om->place(copy, Kind::Child, o);
  return static_cast<CMPIArray *>(copy->face());
}
template <Fn FN, class V, V ErrorObj::*FIELD>
CMPIStatus errSetValue(CMPIError *er, const V value) {
  auto *o = self<ErrorObj>(er);
  if (o == nullptr) return badHandle();
  Gate g(o->om, FN);
  if (g.failed()) return g.faultStatus();
  o->*FIELD = value;
  return okStatus();
}
template <Fn FN, std::string ErrorObj::*FIELD>
CMPIStatus errSetText(CMPIError *er, const char *text) {
  auto *o = self<ErrorObj>(er);
  if (o == nullptr) return badHandle();
  Gate g(o->om, FN);
  if (g.failed()) return g.faultStatus();
  o->*FIELD = text != nullptr ? text : "";
  return okStatus();
}
template <Fn FN, CMPIData ErrorObj::*FIELD>
CMPIStatus errSetArray(CMPIError *er, const CMPIArray *array) {
  auto *o = self<ErrorObj>(er);
  if (o == nullptr) return badHandle();
  Gate g(o->om, FN);
  if (g.failed()) return g.faultStatus();
  CMPIData d;
  CMPIValue v{};
  v.array = const_cast<CMPIArray *>(array);
  if (!ownValue(o->om, &v, CMPI_stringA, &d)) return o->om->status(CMPI_RC_ERR_INVALID_PARAMETER);
  dropData(o->*FIELD);
  o->*FIELD = d;
  return okStatus();
}

// ---- the tables --------------------------------------------------------------------------------
struct AllTables {
  CMPIContextFT context;
  CMPIResultFT result;
  CMPIInstanceFT instance;
  CMPIObjectPathFT objectPath;
  CMPIArgsFT args;
  CMPIStringFT string;
  CMPIArrayFT array;
  CMPIDateTimeFT dateTime;
  CMPIEnumerationFT enumeration;
  CMPISelectExpFT selectExp;
  CMPIErrorFT error;
  Tables tables;
};

AllTables makeTables(int version) {
  AllTables t{
      {version, releaseOf<ContextObj, CMPIContext, Fn::Context_release>,
       cloneOf<ContextObj, CMPIContext, Fn::Context_clone>, ctxGetEntry, ctxGetEntryAt,
       ctxGetEntryCount, ctxAddEntry},
      {version, releaseOf<ResultObj, CMPIResult, Fn::Result_release>,
       cloneOf<ResultObj, CMPIResult, Fn::Result_clone>, resReturnData, resReturnInstance,
       resReturnObjectPath, resReturnDone, resReturnError},
      {version, releaseOf<InstanceObj, CMPIInstance, Fn::Instance_release>,
       cloneOf<InstanceObj, CMPIInstance, Fn::Instance_clone>, instGetProperty, instGetPropertyAt,
       instGetPropertyCount, instSetProperty, instGetObjectPath, instSetPropertyFilter,
       instSetObjectPath, instSetPropertyWithOrigin},
      {version,
       releaseOf<PathObj, CMPIObjectPath, Fn::ObjectPath_release>,
       cloneOf<PathObj, CMPIObjectPath, Fn::ObjectPath_clone>,
       pathSetText<Fn::ObjectPath_setNameSpace, &PathObj::ns>,
       pathGetText<Fn::ObjectPath_getNameSpace, &PathObj::ns>,
       pathSetText<Fn::ObjectPath_setHostname, &PathObj::host>,
       pathGetText<Fn::ObjectPath_getHostname, &PathObj::host>,
       pathSetText<Fn::ObjectPath_setClassName, &PathObj::cls>,
       pathGetText<Fn::ObjectPath_getClassName, &PathObj::cls>,
       pathAddKey,
       pathGetKey,
       pathGetKeyAt,
       pathGetKeyCount,
       pathSetNsFrom,
       pathSetHostNsFrom,
       pathClassQualifier,
       pathPropertyQualifier,
       pathMethodQualifier,
       pathParameterQualifier,
       pathToString},
      {version, releaseOf<ArgsObj, CMPIArgs, Fn::Args_release>,
       cloneOf<ArgsObj, CMPIArgs, Fn::Args_clone>, argsAdd, argsGet, argsGetAt, argsCount},
      {version, releaseOf<StringObj, CMPIString, Fn::String_release>,
       cloneOf<StringObj, CMPIString, Fn::String_clone>, strGetCharPtr},
      {version, releaseOf<ArrayObj, CMPIArray, Fn::Array_release>,
       cloneOf<ArrayObj, CMPIArray, Fn::Array_clone>, arrGetSize, arrGetSimpleType, arrGetElementAt,
       arrSetElementAt},
      {version, releaseOf<DateTimeObj, CMPIDateTime, Fn::DateTime_release>,
       cloneOf<DateTimeObj, CMPIDateTime, Fn::DateTime_clone>, dtBinary, dtString, dtIsInterval},
      {version, releaseOf<EnumObj, CMPIEnumeration, Fn::Enumeration_release>,
       cloneOf<EnumObj, CMPIEnumeration, Fn::Enumeration_clone>, enGetNext, enHasNext, enToArray},
      {version, releaseOf<SelectObj, CMPISelectExp, Fn::SelectExp_release>,
       cloneOf<SelectObj, CMPISelectExp, Fn::SelectExp_clone>, seEvaluate, seGetString,
       seCond<Fn::SelectExp_getDOC>, seCond<Fn::SelectExp_getCOD>, seEvaluateUsingAccessor},
      {version,
       releaseOf<ErrorObj, CMPIError, Fn::Error_release>,
       cloneOf<ErrorObj, CMPIError, Fn::Error_clone>,
       errGetValue<Fn::Error_getErrorType, CMPIErrorType, &ErrorObj::type>,
       errGetText<Fn::Error_getOtherErrorType, &ErrorObj::otherType>,
       errGetText<Fn::Error_getOwningEntity, &ErrorObj::owner>,
       errGetText<Fn::Error_getMessageID, &ErrorObj::messageId>,
       errGetText<Fn::Error_getMessage, &ErrorObj::message>,
       errGetValue<Fn::Error_getPerceivedSeverity, CMPIErrorSeverity, &ErrorObj::severity>,
       errGetValue<Fn::Error_getProbableCause, CMPIErrorProbableCause, &ErrorObj::cause>,
       errGetText<Fn::Error_getProbableCauseDescription, &ErrorObj::causeDescription>,
       errGetArray<Fn::Error_getRecommendedActions, &ErrorObj::actions>,
       errGetText<Fn::Error_getErrorSource, &ErrorObj::source>,
       errGetValue<Fn::Error_getErrorSourceFormat, CMPIErrorSrcFormat, &ErrorObj::sourceFormat>,
       errGetText<Fn::Error_getOtherErrorSourceFormat, &ErrorObj::otherSourceFormat>,
       errGetValue<Fn::Error_getCIMStatusCode, CMPIrc, &ErrorObj::code>,
       errGetText<Fn::Error_getCIMStatusCodeDescription, &ErrorObj::codeDescription>,
       errGetArray<Fn::Error_getMessageArguments, &ErrorObj::arguments>,
       errSetValue<Fn::Error_setErrorType, CMPIErrorType, &ErrorObj::type>,
       errSetText<Fn::Error_setOtherErrorType, &ErrorObj::otherType>,
       errSetText<Fn::Error_setProbableCauseDescription, &ErrorObj::causeDescription>,
       errSetArray<Fn::Error_setRecommendedActions, &ErrorObj::actions>,
       errSetText<Fn::Error_setErrorSource, &ErrorObj::source>,
       errSetValue<Fn::Error_setErrorSourceFormat, CMPIErrorSrcFormat, &ErrorObj::sourceFormat>,
       errSetText<Fn::Error_setOtherErrorSourceFormat, &ErrorObj::otherSourceFormat>,
       errSetText<Fn::Error_setCIMStatusCodeDescription, &ErrorObj::codeDescription>,
       errSetArray<Fn::Error_setMessageArguments, &ErrorObj::arguments>},
      {}};
  if (version < 200) {
    // A 1.0 object manager has none of what 2.0 added.
    t.result.returnError = nullptr;
    t.instance.setPropertyWithOrigin = nullptr;
  }
  return t;
}

AllTables &allTables(int version) {
  static AllTables v200 = makeTables(200);
  static AllTables v100 = makeTables(100);
  AllTables &t = version >= 200 ? v200 : v100;
  if (t.tables.context == nullptr) {
    t.tables = Tables{brokerFT(version),
                      brokerEncFT(version),
                      brokerExtFT(version),
                      brokerMemFT(version),
                      &t.context,
                      &t.result,
                      &t.instance,
                      &t.objectPath,
                      &t.args,
                      &t.string,
                      &t.array,
                      &t.dateTime,
                      &t.enumeration,
                      &t.selectExp,
                      version >= 200 ? &t.error : nullptr};
  }
  return t;
}

}  // namespace

const Tables &tables200() { return allTables(200).tables; }
const Tables &tables100() { return allTables(100).tables; }

// ---- makers ------------------------------------------------------------------------------------
CMPIString *makeString(Manager *om, const std::string &text, Kind kind, Obj *parent) {
  auto *s = new StringObj(om, text);
  om->place(s, kind, parent);
  return &s->shell.c;
}
CMPIObjectPath *makeObjectPath(Manager *om, const std::string &ns, const std::string &cls,
                               Kind kind) {
  auto *p = new PathObj(om);
  p->ns = ns;
  p->cls = cls;
  om->place(p, kind);
  return &p->shell.c;
}
CMPIInstance *makeInstance(Manager *om, const CMPIObjectPath *path, Kind kind) {
  auto *i = new InstanceObj(om);
  if (auto *p = self<PathObj>(path)) applyPath(i, p);
  om->place(i, kind);
  return &i->shell.c;
}
CMPIArgs *makeArgs(Manager *om, Kind kind) {
  auto *a = new ArgsObj(om);
  om->place(a, kind);
  return &a->shell.c;
}
CMPIArray *makeArray(Manager *om, CMPICount size, CMPIType type, Kind kind) {
  type = static_cast<CMPIType>(type & ~CMPI_ARRAY);
  if (type == CMPI_chars) type = CMPI_string;
  auto *a = new ArrayObj(om, size, type);
  om->place(a, kind);
  return &a->shell.c;
}
CMPIDateTime *makeDateTime(Manager *om, uint64_t micros, bool interval, int offsetMinutes,
                           Kind kind) {
  auto *d = new DateTimeObj(om, micros, interval, offsetMinutes);
  om->place(d, kind);
  return &d->shell.c;
}
CMPIDateTime *parseDateTime(Manager *om, const char *text, Kind kind) {
  if (text == nullptr || std::strlen(text) != 25 || text[14] != '.') return nullptr;
  auto digits = [&](int from, int count, uint64_t *out) {
    uint64_t v = 0;
    for (int i = from; i < from + count; ++i) {
      if (text[i] < '0' || text[i] > '9') return false;
      v = v * 10 + static_cast<uint64_t>(text[i] - '0');
    }
    *out = v;
    return true;
  };
  uint64_t a, hh, mm, ss, us, off;
  if (!digits(8, 2, &hh) || !digits(10, 2, &mm) || !digits(12, 2, &ss) || !digits(15, 6, &us))
    return nullptr;
  if (hh > 23 || mm > 59 || ss > 59) return nullptr;
  uint64_t dayMicros = ((hh * 60 + mm) * 60 + ss) * kMicrosPerSecond + us;
  if (text[21] == ':') {
    if (std::strcmp(text + 22, "000") != 0 || !digits(0, 8, &a)) return nullptr;
    return makeDateTime(om, a * kMicrosPerDay + dayMicros, true, 0, kind);
  }
  if ((text[21] != '+' && text[21] != '-') || !digits(22, 3, &off)) return nullptr;
  uint64_t year, month, day;
  if (!digits(0, 4, &year) || !digits(4, 2, &month) || !digits(6, 2, &day)) return nullptr;
  if (month < 1 || month > 12 || day < 1 || day > 31) return nullptr;
  int offset = static_cast<int>(off) * (text[21] == '-' ? -1 : 1);
  int64_t days = daysFromCivil(static_cast<int64_t>(year), static_cast<unsigned>(month),
                               static_cast<unsigned>(day));
  int64_t local = days * 86400 + static_cast<int64_t>(dayMicros / kMicrosPerSecond);
  int64_t utc = local - offset * 60;
  if (utc < 0) return nullptr;
  return makeDateTime(om, static_cast<uint64_t>(utc) * kMicrosPerSecond + us, false, offset, kind);
}
CMPIEnumeration *makeEnumeration(Manager *om, std::vector<CMPIData> items, Kind kind) {
  auto *e = new EnumObj(om, std::move(items));
  om->place(e, kind);
  return &e->shell.c;
}
CMPIContext *makeContext(Manager *om, Kind kind) {
  auto *c = new ContextObj(om);
  om->place(c, kind);
  return &c->shell.c;
}
CMPISelectExp *makeSelectExp(Manager *om, const std::string &query, const std::string &lang,
                             Kind kind) {
  auto *s = new SelectObj(om, query, lang);
  om->place(s, kind);
  return &s->shell.c;
}
CMPIError *makeError(Manager *om, const char *owner, const char *msgId, const char *msg,
                     CMPIErrorSeverity sev, CMPIErrorProbableCause pc, CMPIrc code, Kind kind) {
  auto *e = new ErrorObj(om);
  e->owner = owner != nullptr ? owner : "";
  e->messageId = msgId != nullptr ? msgId : "";
  e->message = msg != nullptr ? msg : "";
  e->severity = sev;
  e->cause = pc;
  e->code = code;
  om->place(e, kind);
  return &e->shell.c;
}
Obj *cloneAs(const Obj *source, Kind kind) {
  if (source == nullptr) return nullptr;
  Obj *copy = source->copy();
  source->om->place(copy, kind);
  return copy;
}
bool pathParts(const CMPIObjectPath *op, std::string *ns, std::string *cls) {
  auto *p = self<PathObj>(op);
  if (p == nullptr) return false;
  *ns = p->ns;
  *cls = p->cls;
  return true;
}
bool instanceParts(const CMPIInstance *inst, std::string *ns, std::string *cls) {
  auto *i = self<InstanceObj>(inst);
  if (i == nullptr) return false;
  *ns = i->ns;
  *cls = i->cls;
  return true;
}
bool instanceProperty(const CMPIInstance *inst, const char *name, CMPIData *out) {
  auto *i = self<InstanceObj>(inst);
  if (i == nullptr) return false;
  auto it = findEntry(i->props, name);
  if (it == i->props.end()) return false;
  *out = it->second;
  return true;
}
CMPIObjectPath *pathWithClass(Manager *om, const CMPIObjectPath *op, const std::string &cls,
                              Kind kind) {
  auto *p = static_cast<PathObj *>(self<PathObj>(op)->copy());
  p->cls = cls;
  om->place(p, kind);
  return &p->shell.c;
}
CMPIResult *makeResult(Manager *om, Kind kind) {
  auto *r = new ResultObj(om);
  om->place(r, kind);
  return &r->shell.c;
}
ResultData *resultData(const CMPIResult *result) {
  auto *o = self<ResultObj>(result);
  return o != nullptr ? &o->data : nullptr;
}
std::vector<std::pair<std::string, CMPIData>> *contextEntries(const CMPIContext *ctx) {
  auto *o = self<ContextObj>(ctx);
  return o != nullptr ? &o->entries : nullptr;
}

// ---- canonical texts ----------------------------------------------------------------------------
}  // namespace cimom::detail

namespace cimom {
std::string objectPathText(const CMPIObjectPath *path) {
  auto *o = detail::objOf(path);
  return o != nullptr ? o->text() : "";
}
std::string instanceText(const CMPIInstance *instance) {
  auto *o = detail::objOf(instance);
  return o != nullptr ? o->text() : "";
}
}  // namespace cimom
