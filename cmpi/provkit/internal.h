// Process-wide state shared by provkit's areas.
#pragma once

#include <cmpidt.h>
#include <cmpift.h>

#include <string>

#include "platform/platform.h"

namespace pk {

// Runs when the library is loaded into a process; false refuses the load.
bool processAttach();
// Runs when the library is unloaded from a process.
void processDetach();

// The four mutexes made at load, in the order they are made.  Each is null when
// the load was refused (POSIX cannot refuse a dlopen, so the users check) or,
// for the job mutex, when the system gave none.
platform::OsMutex *hardwareIdCacheLock();
platform::OsMutex *healthMutex();
platform::OsMutex *jobMutex();

// The broker of the first initProvkit, or null before it.
const CMPIBroker *storedBroker();

// Logs text at information severity under messageId through the broker.
void logInfoStatus(const CMPIBroker *broker, const char *messageId, const char *text);

// Binds and unbinds the job service library at load and unload, under the job mutex.
void bindJobServiceAtLoad();
void unbindJobServiceAtUnload();

// The system's text for the calling thread's last failed library call, at most
// 511 characters.
std::string formatSystemError();

}  // namespace pk
