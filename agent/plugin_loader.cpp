#include "agent/plugin_loader.h"

#include <dirent.h>
#include <dlfcn.h>
#include <sys/stat.h>

#include <iostream>

namespace {

// Bounds the recursion too: a symbolic link to an ancestor lengthens the
// path at every level until this stops it.
constexpr size_t MAX_DIRECTORY_PATH = 128;

bool isPluginName(const std::string& name) {
    return name.size() > 3 && name.compare(name.size() - 3, 3, ".so") == 0;
}

}  // namespace

void loadPlugins(const std::string& dir) {
    if (dir.size() > MAX_DIRECTORY_PATH) {
        std::cerr << "Refusing to search for snmp plugins in following directory, because it's "
                     "path is longer than 128 characters (recursive symlink?):"
                  << std::endl
                  << dir << std::endl;
        return;
    }
    DIR* directory = opendir(dir.c_str());
    if (directory == nullptr) return;

    while (dirent* entry = readdir(directory)) {
        std::string name = entry->d_name;
        if (name.empty() || name[0] == '.') continue;
        std::string path = dir + "/" + name;
        struct stat info;
        // A dangling link, or an entry removed meanwhile: the rest still counts.
        if (stat(path.c_str(), &info) != 0) continue;
        if (S_ISDIR(info.st_mode)) {
            loadPlugins(path);
            continue;
        }
        if (!S_ISREG(info.st_mode) || !isPluginName(name)) continue;

        // Plug-ins stay loaded for the life of the process.
        void* plugin = dlopen(path.c_str(), RTLD_NOW);
        if (plugin == nullptr) {
            const char* error = dlerror();
            std::cerr << "failed dlopen: " << path << ":" << std::endl
                      << (error ? error : "") << std::endl;
            continue;
        }
        std::cerr << "plugin loaded: " << path << std::endl;
        auto autorun = reinterpret_cast<void (*)()>(dlsym(plugin, "autorun"));
        if (autorun != nullptr) {
            autorun();
        } else {
            std::cerr << "plugin " << path << " has no symbol autorun" << std::endl;
        }
    }
    closedir(directory);
}
