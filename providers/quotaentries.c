/* KELVA_FSQuotaConfigEntry: one instance per quota rule of every registered filer, with its
 * limits and the usage the filer reports, from the quota entry library.  Rules are made, changed
 * and removed on the filer, not through this provider. */
#include <provkit/frame.h>
#include <provkit/operations.h>

#include "shell.h"

#define IMPLIB PK_IMPLIB("quotaentryprv")

static const CMPIBroker *broker;

SHELL_INSTANCE_CLEANUP(KELVA_FSQuotaConfigEntryProvider)
SHELL_INSTANCE_READS(KELVA_FSQuotaConfigEntryProvider, IMPLIB)

SHELL_REFUSE_CREATE(KELVA_FSQuotaConfigEntryProvider,
                    "KELVA_FSQuotaConfigEntry: quota rules are created on the filer")
SHELL_REFUSE_MODIFY(KELVA_FSQuotaConfigEntryProvider,
                    "KELVA_FSQuotaConfigEntry: quota rules are changed on the filer")
SHELL_REFUSE_DELETE(KELVA_FSQuotaConfigEntryProvider,
                    "KELVA_FSQuotaConfigEntry: quota rules are removed on the filer")
SHELL_REFUSE_QUERY(KELVA_FSQuotaConfigEntryProvider,
                   "KELVA_FSQuotaConfigEntry does not answer queries")

CMInstanceMIStub(KELVA_FSQuotaConfigEntryProvider, KELVA_FSQuotaConfigEntryProvider, broker,
                 initProvkit(broker))
