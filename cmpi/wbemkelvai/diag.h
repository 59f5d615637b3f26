// Diagnostics of the controller library: every message names the source
// place it concerns ("file:line"), which for requests is the caller's.
#pragma once

#include <string>

namespace wsi {

// Sends a trace message to the sink set with setMessageFuncs, if any.
void trace(const char *file, int line, const std::string &text);
// Sends a log message to the sink set with setMessageFuncs, if any.
void log(const char *file, int line, const std::string &text);

}  // namespace wsi

#define WSI_TRACE(text) ::wsi::trace(__FILE__, __LINE__, (text))
#define WSI_LOG(text) ::wsi::log(__FILE__, __LINE__, (text))
