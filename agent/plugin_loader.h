// Loads the MIB plug-ins: every "*.so" below a directory, each once.
#pragma once

#include <string>

// The plug-in directory the daemon searches at start-up.
inline constexpr const char* PLUGIN_DIRECTORY = "/orla/lib/snmp";

// Loads every plug-in below `dir`, depth first, and calls its `autorun`.
// Only files and directories owned by root (or the agent's user) and not
// writable by group or others are trusted, each with the directory that
// holds it once links are resolved; each directory is searched and each file
// loaded once, however many links lead to it.
void loadPlugins(const std::string& dir);
