/* A provider that uses provkit's headers and libraries as an installed package. */
#include <cmpimacs.h>
#include <provkit/frame.h>
#include <provkit/registry.h>

int consumerProbe(const CMPIBroker *broker) {
  CMPIStatus status = {CMPI_RC_OK, NULL};
  initProvkit(broker);
  return getFilerList(broker, &status) == NULL;
}
