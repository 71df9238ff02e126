// The plug-in loader over a directory tree of real and fake plug-ins.
#include "agent/plugin_loader.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "tests/fixture.h"

namespace fs = std::filesystem;

namespace {

class PluginLoader : public ::testing::Test {
  protected:
    std::string load(const std::string& dir) {
        testing::internal::CaptureStderr();
        loadPlugins(dir);
        return testing::internal::GetCapturedStderr();
    }

    fixture::TempDir dir_;
    const std::string root_ = dir_.path;
};

// Regular *.so files below, depth first, with autorun if they have it; a line
// for each that does not load. Dangling links are passed over, and whatever
// the directory's order, the rest of the folder is searched.
TEST_F(PluginLoader, LoadsSharedObjectsBelowWithALineForEachThatFails) {
    for (const char* name : {".hidden.so", "x.so.1", "so", "notes.txt"})
        fs::copy_file(ANNOUNCE_PLUGIN, root_ + "/" + name);
    fs::create_directories(root_ + "/b.so/deeper");
    fs::copy_file(ANNOUNCE_PLUGIN, root_ + "/b.so/deeper/c.so");
    fs::copy_file(SILENT_PLUGIN, root_ + "/quiet.so");
    std::ofstream(root_ + "/broken.so") << "not an ELF file";
    for (const char* name : {"a", "m", "z"})
        fs::create_symlink(root_ + "/nowhere", root_ + "/" + name + ".so");
    const std::string err = load(root_);
    const std::string quiet = root_ + "/quiet.so";
    for (const std::string& lines :
         {"plugin loaded: " + root_ + "/b.so/deeper/c.so\nautorun ran\n",
          "plugin loaded: " + quiet + "\nplugin " + quiet + " has no symbol autorun\n",
          "failed dlopen: " + root_ + "/broken.so:\n"})
        EXPECT_NE(err.find(lines), std::string::npos) << err;
    EXPECT_EQ(std::count(err.begin(), err.end(), '\n'), 6) << err;  // dlopen's reason: one line
}

TEST_F(PluginLoader, PathLongerThan128CharactersOrALinkToAnAncestorIsRefused) {
    std::string dir = "/" + std::string(128, 'x');
    EXPECT_EQ(load(dir),
              "Refusing to search for snmp plugins in following directory, because it's path "
              "is longer than 128 characters (recursive symlink?):\n" +
                  dir + "\n");
    EXPECT_EQ(load("/" + std::string(127, 'x')), "");  // 128 characters: searched (absent)
    // A link to an ancestor ends there.
    fs::create_directory_symlink(root_, root_ + "/loop");
    EXPECT_NE(load(root_).find("Refusing to search"), std::string::npos);
}

}  // namespace
