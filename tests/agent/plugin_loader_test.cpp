// The plug-in loader over a directory tree of real and fake plug-ins.
#include "agent/plugin_loader.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>
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

TEST_F(PluginLoader, PathLongerThan128CharactersIsRefused) {
    std::string dir = "/" + std::string(128, 'x');
    EXPECT_EQ(load(dir),
              "Refusing to search for snmp plugins in following directory, because it's path "
              "is longer than 128 characters (recursive symlink?):\n" +
                  dir + "\n");
    EXPECT_EQ(load("/" + std::string(127, 'x')), "");  // 128 characters: searched (absent)
}

size_t count(const std::string& text, const std::string& part) {
    size_t found = 0;
    for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1))
        ++found;
    return found;
}

// Links to an ancestor, to a sibling directory or to a plug-in already seen
// lead to nothing loaded twice.
TEST_F(PluginLoader, EachDirectorySearchedAndEachFileLoadedOnce) {
    fs::create_directory(root_ + "/sub");
    fs::copy_file(ANNOUNCE_PLUGIN, root_ + "/sub/a.so");
    fs::create_directory_symlink(root_, root_ + "/sub/loop");
    fs::create_directory_symlink(root_ + "/sub", root_ + "/again");
    fs::create_symlink(root_ + "/sub/a.so", root_ + "/alias.so");
    const std::string err = load(root_);
    EXPECT_EQ(count(err, "autorun ran"), 1u) << err;
    EXPECT_EQ(count(err, "Refusing"), 0u) << err;
}

// Code that someone other than root could have written is not run: the
// file, or the directory that holds it (also after a link), writable by
// group or others or owned by another user. One line each; the rest loads.
TEST_F(PluginLoader, FilesAndDirectoriesOthersCouldWriteAreRefused) {
    const fs::perms othersWrite = fs::perms::group_write | fs::perms::others_write;
    fs::copy_file(ANNOUNCE_PLUGIN, root_ + "/good.so");
    fs::copy_file(ANNOUNCE_PLUGIN, root_ + "/open.so");
    fs::permissions(root_ + "/open.so", othersWrite, fs::perm_options::add);
    fs::copy_file(ANNOUNCE_PLUGIN, root_ + "/foreign.so");
    ASSERT_EQ(chown((root_ + "/foreign.so").c_str(), 65534, 65534), 0);
    fs::create_directory(root_ + "/shared");
    fs::copy_file(ANNOUNCE_PLUGIN, root_ + "/shared/inside.so");
    fs::permissions(root_ + "/shared", othersWrite, fs::perm_options::add);
    fixture::TempDir outside;
    fs::permissions(outside.path, fs::perms::all);
    fs::copy_file(ANNOUNCE_PLUGIN, outside.path + "/linked.so");
    fs::create_symlink(outside.path + "/linked.so", root_ + "/linked.so");

    const std::string err = load(root_);
    EXPECT_NE(err.find("plugin loaded: " + root_ + "/good.so\n"), std::string::npos) << err;
    EXPECT_EQ(count(err, "autorun ran"), 1u) << err;
    for (const char* refused : {"/open.so", "/foreign.so", "/shared", "/linked.so"})
        EXPECT_EQ(count(err, "refused, not owned by root or writable by group or others: " +
                                 root_ + refused + "\n"),
                  1u)
            << refused << "\n"
            << err;
    EXPECT_EQ(std::count(err.begin(), err.end(), '\n'), 6) << err;
}

}  // namespace
