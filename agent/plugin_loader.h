// Loads the MIB plug-ins: every "*.so" below a directory, each once.
#pragma once

#include <string>

// The plug-in directory the daemon searches at start-up.
inline constexpr const char* PLUGIN_DIRECTORY = "/orla/lib/snmp";

// Loads every plug-in below `dir`, depth first, and calls its `autorun`.
void loadPlugins(const std::string& dir);
