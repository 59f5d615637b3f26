// Process-wide state shared by provkit's areas.
#pragma once

namespace pk {

// Runs when the library is loaded into a process; false refuses the load.
bool processAttach();
// Runs when the library is unloaded from a process.
void processDetach();

}  // namespace pk
