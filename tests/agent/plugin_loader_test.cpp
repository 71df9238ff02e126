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
    void write(const std::string& path, const std::string& text) {
        std::ofstream(root_ + "/" + path) << text;
    }

    fixture::TempDir dir_;
    const std::string root_ = dir_.path;
};

TEST_F(PluginLoader, LoadsRegularSharedObjectsDepthFirstAndCallsAutorun) {
    for (const char* name : {".hidden.so", "x.so.1", "so", "notes.txt"}) {
        fs::copy_file(ANNOUNCE_PLUGIN, root_ + "/" + name);
    }
    fs::create_directories(root_ + "/b.so/deeper");
    fs::copy_file(ANNOUNCE_PLUGIN, root_ + "/b.so/deeper/c.so");
    EXPECT_EQ(load(root_), "plugin loaded: " + root_ + "/b.so/deeper/c.so\nautorun ran\n");
}

TEST_F(PluginLoader, PluginWithoutAutorunStaysLoadedWithALine) {
    fs::copy_file(SILENT_PLUGIN, root_ + "/quiet.so");
    std::string path = root_ + "/quiet.so";
    EXPECT_EQ(load(root_),
              "plugin loaded: " + path + "\nplugin " + path + " has no symbol autorun\n");
}

TEST_F(PluginLoader, FileThatIsNoSharedObjectGivesTwoLines) {
    write("broken.so", "not an ELF file");
    std::string err = load(root_);
    std::string head = "failed dlopen: " + root_ + "/broken.so:\n";
    ASSERT_EQ(err.compare(0, head.size(), head), 0) << err;
    EXPECT_EQ(std::count(err.begin(), err.end(), '\n'), 2);
}

// Whatever the directory's order, the rest of the folder is searched.
TEST_F(PluginLoader, DanglingLinkIsSkipped) {
    fs::create_directories(root_ + "/d");
    for (const char* name : {"a", "m", "z"})
        fs::create_symlink(root_ + "/nowhere", root_ + "/d/" + name + ".so");
    fs::copy_file(ANNOUNCE_PLUGIN, root_ + "/d/k.so");
    EXPECT_EQ(load(root_), "plugin loaded: " + root_ + "/d/k.so\nautorun ran\n");
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
