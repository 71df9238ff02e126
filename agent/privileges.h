// Giving up root once the agent holds what needs it: its UDP socket on a
// port below 1024, its stores and its plug-ins.
#pragma once

#include <string>

// Switches the process to the user `name` and that user's group, with no
// supplementary group and no capability left, and makes sure it cannot get
// root back (setuid(0) fails, the effective, permitted and inheritable
// capability sets are empty).
// Sets no_new_privs, so no program or file capability it could run gives
// any back either. False, with `error` set, when any step fails; the process
// must then stop, as it may hold part of its old rights.
bool dropToUser(const std::string& name, std::string& error);
