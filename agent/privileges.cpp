#include "agent/privileges.h"

#include <grp.h>
#include <linux/capability.h>
#include <pwd.h>
#include <sys/prctl.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace {

// capget and capset directly: the agent links no libcap.
using CapabilitySets = __user_cap_data_struct[_LINUX_CAPABILITY_U32S_3];

// Leaving root empties the effective, permitted and ambient sets but keeps
// the inheritable one: this empties that too.
bool emptyCapabilitySets() {
    __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
    CapabilitySets none{};
    return syscall(SYS_capset, &header, none) == 0;
}

bool holdsNoCapability() {
    __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
    CapabilitySets sets{};
    if (syscall(SYS_capget, &header, sets) != 0) return false;
    for (const auto& word : sets) {
        if (word.effective != 0 || word.permitted != 0 || word.inheritable != 0) return false;
    }
    return true;
}

std::string failed(const char* step) {
    return std::string(step) + ": " + std::strerror(errno);
}

}  // namespace

bool dropToUser(const std::string& name, std::string& error) {
    errno = 0;
    const passwd* user = getpwnam(name.c_str());
    if (user == nullptr) {
        error = "no user " + name + (errno != 0 ? ": " + std::string(std::strerror(errno)) : "");
        return false;
    }
    if (user->pw_uid == 0) {
        error = "user " + name + " is root: the agent would keep every right";
        return false;
    }
    const uid_t uid = user->pw_uid;
    const gid_t gid = user->pw_gid;
    // The order matters: groups and group first, while the process may
    // still change them; setuid last, which as root also clears every
    // capability set (no SECBIT_KEEP_CAPS is set).
    if (setgroups(0, nullptr) != 0) {
        error = failed("setgroups");
        return false;
    }
    if (setresgid(gid, gid, gid) != 0) {
        error = failed("setresgid");
        return false;
    }
    if (setresuid(uid, uid, uid) != 0) {
        error = failed("setresuid");
        return false;
    }
    if (!emptyCapabilitySets()) {
        error = failed("capset");
        return false;
    }
    if (prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) != 0) {
        error = failed("prctl(PR_SET_NO_NEW_PRIVS)");
        return false;
    }
    uid_t ruid, euid, suid;
    gid_t rgid, egid, sgid;
    if (getresuid(&ruid, &euid, &suid) != 0 || getresgid(&rgid, &egid, &sgid) != 0 || ruid != uid ||
        euid != uid || suid != uid || rgid != gid || egid != gid || sgid != gid) {
        error = "the user and group ids did not all change";
        return false;
    }
    if (setuid(0) == 0 || seteuid(0) == 0) {
        error = "root could be taken back";
        return false;
    }
    if (!holdsNoCapability()) {
        error = "capabilities are left";
        return false;
    }
    return true;
}
