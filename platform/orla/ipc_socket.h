// Service sockets: each serving process listens on the Unix stream socket
// <run directory>/<service id>.sock.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <optional>
#include <string>

namespace orla {

inline constexpr const char* DEFAULT_RUN_DIRECTORY = "/orla/run";

// Where service sockets live; tests point it at a temporary directory.
// Affects sockets opened and connected afterwards.
void setRunDirectory(const std::string& path);
const std::string& runDirectory();
std::string servicePath(uint32_t serviceId);

// Creates the run directory (mode 0700) when absent and listens on the
// service's socket (mode 0600 whatever the umask), replacing a stale socket
// file that nobody listens on. A run directory of ours with another mode
// than 0700 or 0710 is set to 0700, and `notice` then says so; one of a user
// other than us or root is an error. Returns a non-blocking descriptor, or
// -1 with `error` set (among others when a live service already holds the id).
//
// A run directory of mode 0710 lets its group in: a daemon that gave up
// root (the agent run with --user) reaches the services as a member of it.
// The socket then has that group and mode 0660, and `clientGroup` is set to
// the group, which the service admits besides root and its own user; with
// mode 0700 it is left empty.
int listenService(uint32_t serviceId, int backlog, std::string& error, std::string& notice,
                  std::optional<gid_t>& clientGroup);

// Connects to a service; a non-blocking descriptor, or -1 with errno set:
// ENOENT or ECONNREFUSED when no service with that id is listening, EAGAIN
// when its backlog is full, EACCES when this user may not reach its socket.
int connectService(uint32_t serviceId);

bool setNonBlocking(int fd);

}  // namespace orla
