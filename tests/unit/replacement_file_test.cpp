// SPDX-License-Identifier: MIT
// Replacing a saved file: only a complete new content replaces it, through
// symbolic links, with the old file's mode and owner.
#include "replacement_file.h"

#include <dirent.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <set>
#include <sstream>
#include <string>

namespace {

class Replacement : public testing::Test {
  protected:
    void SetUp() override {
        dir_ = make_directory();
        storage_ = make_directory();
    }
    void TearDown() override {
        for (const std::string& dir : {dir_, storage_}) {
            for (const std::string& name : names(dir)) {
                unlink((dir + "/" + name).c_str());
            }
            rmdir(dir.c_str());
        }
    }

    static std::string make_directory() {
        char name[] = "/tmp/replacement_XXXXXX";
        return mkdtemp(name) != nullptr ? name : "";
    }

    // readdir64: a 32-bit build's plain readdir fails on a 64-bit host's
    // directory offsets (under qemu-arm).
    static std::set<std::string> names(const std::string& dir) {
        std::set<std::string> out;
        DIR* d = opendir(dir.c_str());
        while (dirent64* e = d != nullptr ? readdir64(d) : nullptr) {
            if (e->d_name[0] != '.') {
                out.insert(e->d_name);
            }
        }
        if (d != nullptr) {
            closedir(d);
        }
        return out;
    }

    static std::string content(const std::string& path) {
        std::ifstream in(path);
        std::stringstream text;
        text << in.rdbuf();
        return text.str();
    }

    static void put(const std::string& path, const char* text) { std::ofstream(path) << text; }

    static bool replace(const std::string& path, const char* text) {
        ReplacementFile r(path.c_str());
        return r.file() != nullptr && std::fputs(text, r.file()) >= 0 && r.commit();
    }

    std::string dir_;
    std::string storage_;
};

TEST_F(Replacement, OnlyACommittedContentReplacesTheFile) {
    const std::string path = dir_ + "/pixim.conf";
    put(path, "old\n");
    {
        ReplacementFile r(path.c_str());
        ASSERT_NE(r.file(), nullptr);
        std::fputs("half\n", r.file());
    }
    EXPECT_EQ(content(path), "old\n");
    EXPECT_EQ(names(dir_), std::set<std::string>{"pixim.conf"});
    EXPECT_TRUE(replace(path, "new\n"));
    EXPECT_EQ(content(path), "new\n");
    EXPECT_EQ(names(dir_), std::set<std::string>{"pixim.conf"});
}

TEST_F(Replacement, ModeAndOwnerOfTheOldFileAreKept) {
    const std::string path = dir_ + "/pixim.conf";
    put(path, "old\n");
    ASSERT_EQ(chmod(path.c_str(), 0604), 0);
    const bool root = geteuid() == 0;
    if (root) {
        ASSERT_EQ(chown(path.c_str(), 1234, 5678), 0);
    }
    ASSERT_TRUE(replace(path, "new\n"));
    struct stat st {};
    ASSERT_EQ(stat(path.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0604u);
    if (root) {
        EXPECT_EQ(st.st_uid, 1234u);
        EXPECT_EQ(st.st_gid, 5678u);
    }
}

TEST_F(Replacement, ANewFileGetsTheModeOfTheUmask) {
    const std::string path = dir_ + "/pixim.conf";
    const mode_t old_mask = umask(027);
    const bool replaced = replace(path, "new\n");
    umask(old_mask);
    ASSERT_TRUE(replaced);
    struct stat st {};
    ASSERT_EQ(stat(path.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0640u);
}

TEST_F(Replacement, LinksAreFollowedAndKept) {
    const std::string target = storage_ + "/pixim.conf";
    const std::string link = dir_ + "/pixim.conf";
    ASSERT_EQ(symlink((storage_ + "/middle").c_str(), link.c_str()), 0);
    ASSERT_EQ(symlink("pixim.conf", (storage_ + "/middle").c_str()), 0);  // relative
    put(target, "old\n");
    std::string resolved;
    ASSERT_TRUE(resolveLinks(link.c_str(), &resolved));
    EXPECT_EQ(resolved, target);
    ASSERT_TRUE(replace(link, "new\n"));
    EXPECT_EQ(content(target), "new\n");
    char text[256] = {};
    EXPECT_GT(readlink(link.c_str(), text, sizeof text - 1), 0);
    EXPECT_EQ(std::string(text), storage_ + "/middle");
    EXPECT_EQ(names(storage_), (std::set<std::string>{"middle", "pixim.conf"}));
}

TEST_F(Replacement, ADanglingLinkGetsItsTarget) {
    const std::string link = dir_ + "/pixim.conf";
    ASSERT_EQ(symlink((storage_ + "/pixim.conf").c_str(), link.c_str()), 0);
    ASSERT_TRUE(replace(link, "new\n"));
    EXPECT_EQ(content(storage_ + "/pixim.conf"), "new\n");
    struct stat st {};
    ASSERT_EQ(lstat(link.c_str(), &st), 0);
    EXPECT_TRUE(S_ISLNK(st.st_mode));
}

TEST_F(Replacement, ALoopOfLinksOrAMissingDirectoryCannotBeOpened) {
    const std::string link = dir_ + "/pixim.conf";
    ASSERT_EQ(symlink("pixim.loop", link.c_str()), 0);
    ASSERT_EQ(symlink("pixim.conf", (dir_ + "/pixim.loop").c_str()), 0);
    std::string resolved;
    EXPECT_FALSE(resolveLinks(link.c_str(), &resolved));
    EXPECT_EQ(ReplacementFile(link.c_str()).file(), nullptr);
    EXPECT_EQ(ReplacementFile((dir_ + "/none/pixim.conf").c_str()).file(), nullptr);
    EXPECT_EQ(names(dir_), (std::set<std::string>{"pixim.conf", "pixim.loop"}));
}

}  // namespace
