#include "agent/plugin_loader.h"

#include <dirent.h>
#include <dlfcn.h>
#include <limits.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <iostream>
#include <set>
#include <utility>

namespace {

// Bounds the recursion too: a symbolic link to an ancestor lengthens the
// path at every level until this stops it.
constexpr size_t MAX_DIRECTORY_PATH = 128;

// What was searched or loaded, by device and inode: a directory reached
// twice (through a link) is searched once, a file reached twice loaded once.
using FileIds = std::set<std::pair<dev_t, ino_t>>;

bool isPluginName(const std::string& name) {
    return name.size() > 3 && name.compare(name.size() - 3, 3, ".so") == 0;
}

// Code run as the agent's user must be writable only by that user or root:
// owned by one of them and not writable by group or others.
bool safeOwnership(const struct stat& info) {
    return (info.st_uid == 0 || info.st_uid == geteuid()) && (info.st_mode & (S_IWGRP | S_IWOTH)) == 0;
}

// `path` is safely owned once its links are resolved, and so is the
// directory that holds it: nobody else could have written the file or put
// another in its place. (A directory is checked itself: so are the files in
// it, and a directory put in its place would be somebody else's.)
bool trusted(const std::string& path, bool withParent) {
    char resolved[PATH_MAX];
    if (realpath(path.c_str(), resolved) == nullptr) return false;
    const std::string real = resolved;
    struct stat info;
    if (stat(real.c_str(), &info) != 0 || !safeOwnership(info)) return false;
    if (!withParent) return true;
    const size_t slash = real.find_last_of('/');
    const std::string parent = slash == 0 ? "/" : real.substr(0, slash);
    return stat(parent.c_str(), &info) == 0 && safeOwnership(info);
}

void refuse(const char* what, const std::string& path) {
    std::cerr << what << " refused, not owned by root or writable by group or others: " << path
              << std::endl;
}

void loadFile(const std::string& path) {
    // Plug-ins stay loaded for the life of the process.
    void* plugin = dlopen(path.c_str(), RTLD_NOW);
    if (plugin == nullptr) {
        const char* error = dlerror();
        std::cerr << "failed dlopen: " << path << ":" << std::endl
                  << (error ? error : "") << std::endl;
        return;
    }
    std::cerr << "plugin loaded: " << path << std::endl;
    auto autorun = reinterpret_cast<void (*)()>(dlsym(plugin, "autorun"));
    if (autorun != nullptr) {
        autorun();
    } else {
        std::cerr << "plugin " << path << " has no symbol autorun" << std::endl;
    }
}

void loadBelow(const std::string& dir, FileIds& seen) {
    if (dir.size() > MAX_DIRECTORY_PATH) {
        std::cerr << "Refusing to search for snmp plugins in following directory, because it's "
                     "path is longer than 128 characters (recursive symlink?):"
                  << std::endl
                  << dir << std::endl;
        return;
    }
    struct stat info;
    if (stat(dir.c_str(), &info) != 0 || !seen.emplace(info.st_dev, info.st_ino).second) return;
    if (!trusted(dir, false)) {
        refuse("plugin directory", dir);
        return;
    }
    DIR* directory = opendir(dir.c_str());
    if (directory == nullptr) return;

    while (dirent* entry = readdir(directory)) {
        std::string name = entry->d_name;
        if (name.empty() || name[0] == '.') continue;
        std::string path = dir + "/" + name;
        // A dangling link, or an entry removed meanwhile: the rest still counts.
        if (stat(path.c_str(), &info) != 0) continue;
        if (S_ISDIR(info.st_mode)) {
            loadBelow(path, seen);
            continue;
        }
        if (!S_ISREG(info.st_mode) || !isPluginName(name)) continue;
        if (!seen.emplace(info.st_dev, info.st_ino).second) continue;
        if (!trusted(path, true)) {
            refuse("plugin", path);
            continue;
        }
        loadFile(path);
    }
    closedir(directory);
}

}  // namespace

void loadPlugins(const std::string& dir) {
    FileIds seen;
    loadBelow(dir, seen);
}
