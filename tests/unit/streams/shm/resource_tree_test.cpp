// The resource tree: root, names in paths, the creation mask, the tree's life cycle,
// the pid file, and the default-server link.
#include "streams/shm/resource_tree.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utime.h>

#include <cstring>
#include <fstream>
#include <string>

#include "shm_test_support.h"

namespace {

using vq::shm::test::FileExists;
using vq::shm::test::ScopedShmRoot;
using vq::testing::ScopedEnvironment;

std::string Root() { return GetUnixResourceRoot(); }

class RootCache {
 public:
  RootCache() { vq::shm::testing::ResetResourceRootCache(); }
  ~RootCache() { vq::shm::testing::ResetResourceRootCache(); }
};

TEST(ResourceRoot, ComesFromTheEnvironment) {
  const std::string seventy = "/t" + std::string(68, 'x');
  struct Case {
    const char* what;
    const char* vctmp;  // null: unset
    const char* tmp;
    std::string want;
  };
  const Case cases[] = {
      {"VCTMP as given", "/var/vq", nullptr, "/var/vq"},
      {"one trailing slash removed", "/var/vq/", nullptr, "/var/vq"},
      {"only one of two", "/var/vq//", nullptr, "/var/vq/"},
      {"a lone slash stays", "/", nullptr, "/"},
      {"cut to 67 characters", seventy.c_str(), nullptr, seventy.substr(0, 67)},
      {"the temporary directory next", nullptr, "/var/tmpdir", "/var/tmpdir"},
      {"an empty VCTMP counts as unset", "", "/var/tmpdir", "/var/tmpdir"},
      {"the fallback last", nullptr, nullptr, "/tmp/.Vellumcrest"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    ScopedEnvironment env({"VCTMP", "TMP", "TMPDIR", "TEMP"});
    if (c.vctmp != nullptr) env.Set("VCTMP", c.vctmp);
    if (c.tmp != nullptr) env.Set("TMPDIR", c.tmp);
    RootCache cache;
    EXPECT_EQ(Root(), c.want);
  }
}

TEST(ResourceRoot, IsComputedOnce) {
  ScopedEnvironment env({"VCTMP"});
  RootCache cache;
  env.Set("VCTMP", "/first");
  EXPECT_EQ(Root(), "/first");
  env.Set("VCTMP", "/second");
  EXPECT_EQ(Root(), "/first");
}

TEST(ResourcePaths, NamesAreCutAndDefaulted) {
  ScopedEnvironment env({"VCTMP"});
  env.Set("VCTMP", "/r");
  RootCache cache;
  const std::string forty(40, 'n');
  const std::string cut = forty.substr(0, 31);
  char out[kShmPathBytes];
  struct Case {
    const char* what;
    bool (*fn)(const char*, char*, std::size_t);
    const char* name;
    std::string want;
  };
  const Case cases[] = {
      {"directory", GetEngineResourceRoot, forty.c_str(), "/r/" + cut},
      {"default for empty", GetEngineResourceRoot, "", "/r/__Vellum__"},
      {"default for null", GetEngineResourceRoot, nullptr, "/r/__Vellum__"},
      {"shmem", GetEngineSharedMemoryRoot, forty.c_str(), "/r/" + cut + "/shmem"},
      {"lock", GetEngineLockPath, forty.c_str(), "/r/" + cut + "/lock"},
      {"pid", GetEnginePidPath, "s", "/r/s/pid"},
      {"fifos", GetEngineFifoRoot, "s", "/r/s/fifos"},
      {"tmp", GetEngineTempRoot, "s", "/r/s/tmp"},
      {"socket", GetEngineSocketPath, forty.c_str(), "/r/" + cut + "/rdv_socket"},
      {"domain socket", GetEngineDomainSocketPath, "s", "/r/s/ud_socket"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    ASSERT_TRUE(c.fn(c.name, out, sizeof out));
    EXPECT_EQ(std::string(out), c.want);
  }
  ASSERT_TRUE(GetEngineSharedMemoryPath(forty.c_str(), 0xAB, out, sizeof out));
  EXPECT_EQ(std::string(out), "/r/" + cut + "/shmem/shm_000000ab");
  ASSERT_TRUE(GetEngineSharedMemoryPath("s", kSemsFileId, out, sizeof out));
  EXPECT_EQ(std::string(out), "/r/s/sems");
  ASSERT_TRUE(GetEngineSharedNMemoryPath("", "seg", out, sizeof out));
  EXPECT_EQ(std::string(out), "/r/__Vellum__/shmem/_seg");
  ASSERT_TRUE(GetEngineFifoPath("s", 0x1F, out, sizeof out));
  EXPECT_EQ(std::string(out), "/r/s/fifos/fifo_0000001f");
  ASSERT_TRUE(GetEnginePnumPath("s", true, out, sizeof out));
  EXPECT_EQ(std::string(out), "/r/s/p." + std::to_string(getpid()));
  EXPECT_FALSE(GetEngineLockPath("s", out, 8)) << "a path that does not fit";
  EXPECT_STREQ(out, "");
}

// Names arrive from peers (segment references, descriptors, the default-server link):
// none may lead out of the tree.
TEST(ResourcePaths, NamesThatLeaveTheTreeAreRefused) {
  ScopedEnvironment env({"VCTMP"});
  env.Set("VCTMP", "/r");
  RootCache cache;
  const std::string slash_after_cut = std::string(31, 'a') + "/../../etc";
  struct Case {
    const char* name;
    bool safe;
  };
  const Case cases[] = {
      {"..", false},
      {".", false},
      {"../etc", false},
      {"a/b", false},
      {"/", false},
      {"/etc", false},
      {"..a", true},
      {"a..", true},
      {"__VellumCli__1_2", true},
      {slash_after_cut.c_str(), true},  // cut before the slash
  };
  char out[kShmPathBytes];
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(vq::shm::IsSafeResourceName(c.name), c.safe);
    EXPECT_EQ(GetEngineResourceRoot(c.name, out, sizeof out), c.safe);
    EXPECT_EQ(GetEngineSharedMemoryPath(c.name, 1, out, sizeof out), c.safe);
    if (!c.safe) {
      EXPECT_STREQ(out, "");
    } else {
      EXPECT_EQ(std::string(out).find("/../"), std::string::npos);
    }
  }
  EXPECT_FALSE(GetEngineSharedNMemoryPath("s", "../../x", out, sizeof out));
  EXPECT_FALSE(GetEngineSharedNMemoryPath("s", nullptr, out, sizeof out));
  // A name field of a shared record that fills all 32 bytes without a terminator.
  char field[kShmNameBytes];
  std::memset(field, 'z', sizeof field);
  char copy[kShmNameBytes + 1];
  EXPECT_TRUE(vq::shm::CopySharedName(field, copy));
  EXPECT_EQ(std::strlen(copy), kShmNameBytes);
  std::memcpy(field, "..", 3);
  EXPECT_FALSE(vq::shm::CopySharedName(field, copy));
}

TEST(ResourceTreeMask, FollowsTheOwnerBitsOfVctmpAndItsAncestors) {
  struct Case {
    const char* what;
    mode_t parent_mode;
    mode_t dir_mode;
    mode_t want;
  };
  const Case cases[] = {
      {"private directory", 0755, 0700, 077},
      {"group may enter", 0755, 0750, 007},
      {"everyone may enter", 0755, 0755, 0},
      {"a private ancestor counts too", 0700, 0755, 077},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    ScopedShmRoot outer(c.parent_mode);
    const std::string dir = outer.path() + "/inner";
    ASSERT_EQ(mkdir(dir.c_str(), c.dir_mode), 0);
    ASSERT_EQ(chmod(dir.c_str(), c.dir_mode), 0);
    ScopedEnvironment env;
    env.Set("VCTMP", dir);
    RootCache cache;
    EXPECT_EQ(GetResourceTreeFileCreationMask(), c.want);
    // Every directory and file of the tree is made under the mask.
    ASSERT_TRUE(CreateEngineResourceTree("srv"));
    struct stat st;
    ASSERT_EQ(stat((dir + "/srv/shmem").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0777 & ~c.want);
  }
}

TEST(ResourceTreeMask, IsZeroForUnsetOrSharedTemporaryDirectories) {
  ScopedEnvironment env({"VCTMP", "TMP", "TMPDIR", "TEMP"});
  {
    RootCache cache;
    EXPECT_EQ(GetResourceTreeFileCreationMask(), 0u);
  }
  ScopedShmRoot private_dir(0700);
  const std::string link = private_dir.path() + "/tmp-link";
  ASSERT_EQ(symlink("/tmp", link.c_str()), 0);
  for (const std::string& value : {std::string("/tmp"), std::string("/tmp/"), link}) {
    SCOPED_TRACE(value);
    env.Set("VCTMP", value);
    RootCache cache;
    EXPECT_EQ(GetResourceTreeFileCreationMask(), 0u);
  }
  // The private directory itself, named as TMPDIR: a shared temporary directory.
  env.Set("VCTMP", private_dir.path());
  env.Set("TMPDIR", private_dir.path());
  RootCache cache;
  EXPECT_EQ(GetResourceTreeFileCreationMask(), 0u);
}

class ResourceTreeTest : public ::testing::Test {
 protected:
  static void Write(const std::string& path, const std::string& text) {
    std::ofstream(path) << text;
  }
  static time_t MTime(const std::string& path) {
    struct stat st;
    return lstat(path.c_str(), &st) == 0 ? st.st_mtime : -1;
  }
  static void MakeOld(const std::string& path) {
    struct utimbuf old = {1000, 1000};
    utime(path.c_str(), &old);
  }
  ScopedShmRoot root_;
};

TEST_F(ResourceTreeTest, CreateRefreshCleanRemove) {
  EXPECT_FALSE(EngineResourceRootExist("srv"));
  ASSERT_TRUE(CreateEngineResourceTree("srv"));
  EXPECT_TRUE(EngineResourceRootExist("srv"));
  for (const char* sub : {"shmem", "fifos", "tmp"}) {
    EXPECT_TRUE(FileExists(root_.dir("srv", sub))) << sub;
  }
  const std::string files[] = {"shmem/shm_00000001",
                               "fifos/fifo_00000002",
                               "tmp/deep/x",
                               "sems",
                               "rdv_socket",
                               "pid",
                               "lock"};
  ASSERT_EQ(mkdir(root_.dir("srv", "tmp/deep").c_str(), 0777), 0);
  for (const std::string& f : files) Write(root_.dir("srv", f), "7\n");
  Write(root_.dir("srv", "p.7"), "");
  // A link inside the tree that points outside it: walks must not follow it.
  Write(root_.path() + "/outside", "keep");
  ASSERT_EQ(symlink((root_.path() + "/outside").c_str(), root_.dir("srv", "tmp/link").c_str()),
            0);
  for (const std::string& f : files) MakeOld(root_.dir("srv", f));
  MakeOld(root_.dir("srv", "p.7"));
  MakeOld(root_.path() + "/outside");

  EXPECT_TRUE(RefreshEngineResourceTree("srv", -1));
  for (const std::string& f : files) EXPECT_GT(MTime(root_.dir("srv", f)), 1000) << f;
  EXPECT_GT(MTime(root_.dir("srv", "p.7")), 1000) << "named after the pid in the pid file";
  EXPECT_EQ(MTime(root_.path() + "/outside"), 1000) << "the link's target is not touched";

  EXPECT_TRUE(CleanEngineResourceTree("srv"));
  for (const char* gone : {"shmem/shm_00000001", "fifos/fifo_00000002", "tmp/deep", "tmp/link",
                           "sems", "rdv_socket"}) {
    EXPECT_FALSE(FileExists(root_.dir("srv", gone))) << gone;
  }
  for (const char* kept : {"shmem", "fifos", "tmp", "pid", "lock"}) {
    EXPECT_TRUE(FileExists(root_.dir("srv", kept))) << kept;
  }
  EXPECT_TRUE(RemoveEngineResourceTree("srv"));
  EXPECT_FALSE(FileExists(root_.dir("srv")));
  EXPECT_TRUE(FileExists(root_.path() + "/outside"));
}

TEST_F(ResourceTreeTest, RefreshWithTheLockDescriptorWritesIntoTheLockFile) {
  ASSERT_TRUE(CreateEngineResourceTree("srv"));
  int fd = -1;
  ASSERT_TRUE(SetEngineIsAlive("srv", &fd));
  const std::string pnum = root_.dir("srv", "p." + std::to_string(getpid()));
  MakeOld(root_.dir("srv", "lock"));
  MakeOld(pnum);
  EXPECT_TRUE(RefreshEngineResourceTree("srv", fd));
  EXPECT_GT(MTime(root_.dir("srv", "lock")), 1000);
  EXPECT_GT(MTime(pnum), 1000);
  struct stat st;
  ASSERT_EQ(stat(root_.dir("srv", "lock").c_str(), &st), 0);
  EXPECT_EQ(st.st_size, 1);
  close(fd);
}

TEST_F(ResourceTreeTest, PidFileIsReadStrictly) {
  ASSERT_TRUE(CreateEngineResourceTree("srv"));
  struct Case {
    const char* text;  // null: no file
    int want;
  };
  const Case cases[] = {
      {"1234\n", 1234}, {"1234", 1234}, {"1234\r\n", 1234},   {"12a4\n", 0},
      {"", 0},          {"\n12", 0},    {"99999999999\n", 0}, {nullptr, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text != nullptr ? c.text : "<missing>");
    unlink(root_.dir("srv", "pid").c_str());
    if (c.text != nullptr) Write(root_.dir("srv", "pid"), c.text);
    EXPECT_EQ(GetEnginePid("srv"), c.want);
  }
}

TEST_F(ResourceTreeTest, DefaultServerLinkNamesItsTarget) {
  char name[64];
  EXPECT_FALSE(StatEngineResourceTree(kDefaultServerName, name, sizeof name));
  ASSERT_TRUE(CreateEngineResourceTree("server_one"));
  ASSERT_TRUE(LinkEngineResourceTree(kDefaultServerName, "server_one"));
  ASSERT_TRUE(StatEngineResourceTree(kDefaultServerName, name, sizeof name));
  EXPECT_STREQ(name, "server_one");
  EXPECT_TRUE(UnlinkEngineResourceTree(kDefaultServerName));
  EXPECT_FALSE(StatEngineResourceTree(kDefaultServerName, name, sizeof name));
  EXPECT_TRUE(FileExists(root_.dir("server_one")));

  // Anyone who may write into the root can plant the link: a target whose last
  // component is not a usable name is refused.
  for (const char* target : {"/somewhere/..", "/somewhere/.", "/"}) {
    SCOPED_TRACE(target);
    ASSERT_EQ(symlink(target, root_.dir(kDefaultServerName).c_str()), 0);
    EXPECT_FALSE(StatEngineResourceTree(kDefaultServerName, name, sizeof name));
    unlink(root_.dir(kDefaultServerName).c_str());
  }
  ASSERT_EQ(symlink("/elsewhere/srv2/", root_.dir(kDefaultServerName).c_str()), 0);
  ASSERT_TRUE(StatEngineResourceTree(kDefaultServerName, name, sizeof name));
  EXPECT_STREQ(name, "srv2");
}

TEST_F(ResourceTreeTest, RootCreationAndItsPrecondition) {
  ScopedEnvironment env;
  env.Set("VCTMP", root_.path() + "/a/b/c");
  vq::shm::testing::ResetResourceRootCache();
  EXPECT_TRUE(CanCreateUnixResourceRoot());
  EXPECT_TRUE(CreateUnixResourceRoot());
  EXPECT_TRUE(FileExists(root_.path() + "/a/b/c"));
  // Through a file where a directory should be.
  Write(root_.path() + "/file", "");
  env.Set("VCTMP", root_.path() + "/file/x");
  vq::shm::testing::ResetResourceRootCache();
  EXPECT_FALSE(CanCreateUnixResourceRoot());
  EXPECT_FALSE(CreateUnixResourceRoot());
  vq::shm::testing::ResetResourceRootCache();
}

TEST(ValidPid, RefusesGroupsAndGonePids) {
  EXPECT_TRUE(ValidPid(getpid()));
  EXPECT_FALSE(ValidPid(0)) << "kill(0) would address our own process group";
  EXPECT_FALSE(ValidPid(-1)) << "kill(-1) would address every process";
  EXPECT_FALSE(ValidPid(0x7FFFFFFF));
  EXPECT_GE(GetMaxHandles(), 1);
}

}  // namespace
