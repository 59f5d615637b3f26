// The object manager's C entry points: a thin shell over cimom::create.
#include <cimom/cimom.h>
#include <cimom/cimom_c.h>

#include <exception>
#include <memory>

struct CimomManager {
  std::unique_ptr<cimom::ObjectManager> om;
};

extern "C" {

CimomManager *cimomNew(int cmpiVersion, int strict) {
  try {
    cimom::Options options;
    options.cmpiVersion = cmpiVersion;
    options.strict = strict != 0;
    return new CimomManager{cimom::create(options)};
  } catch (const std::exception &) {
    return nullptr;
  }
}

void cimomFree(CimomManager *manager) { delete manager; }

const CMPIBroker *cimomBroker(CimomManager *manager) { return manager->om->broker(); }
const CMPIContext *cimomContext(CimomManager *manager) { return manager->om->context(); }

size_t cimomLiveObjects(const CimomManager *manager) { return manager->om->liveObjects(); }
size_t cimomMisuses(const CimomManager *manager) { return manager->om->misuses().size(); }
size_t cimomLogCount(const CimomManager *manager) { return manager->om->logs().size(); }

int cimomInject(CimomManager *manager, const char *function, unsigned nth, CMPIrc rc) {
  try {
    cimom::Fault fault;
    fault.function = function != nullptr ? function : "";
    fault.nth = nth;
    fault.rc = rc;
    manager->om->inject(fault);
    return 1;
  } catch (const std::exception &) {
    return 0;
  }
}

}  // extern "C"
