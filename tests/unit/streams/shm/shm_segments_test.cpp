// Segment files and the attach registry.
#include "streams/shm/shm_segments.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <string>

#include "shm_test_support.h"
#include "streams/shm/shm_mem.h"

namespace {

using vq::shm::test::FileExists;
using vq::shm::test::IsMapped;
using vq::shm::test::ScopedShmRoot;
using vq::shm::testing::SetNextSegmentId;
using vq::shm::testing::ShMemHolders;

class ShmSegmentsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    name_ = StrmCurSharedEngineAppName();
    page_ = ShmPageSize();
  }
  std::string IdPath(std::uint32_t id) const {
    char path[kShmPathBytes];
    GetEngineSharedMemoryPath(name_.c_str(), id, path, sizeof path);
    return path;
  }
  ScopedShmRoot root_;
  std::string name_;
  std::uint32_t page_ = 0;
};

TEST_F(ShmSegmentsTest, IdCounterSkipsTheReservedIds) {
  struct Case {
    std::uint32_t next;
    std::uint32_t first;
    std::uint32_t second;
  };
  const Case cases[] = {
      {0x0FFFFFFE, 0x0FFFFFFE, 0x10000000},  // 0x0FFFFFFF names the "sems" file
      {0xFFFFFFFF, 0xFFFFFFFF, 1},           // 0 means "no segment"
      {0, 1, 2},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.next);
    SetNextSegmentId(c.next);
    const std::uint32_t first = CreateSharedEngineMemory(name_.c_str(), 100);
    const std::uint32_t second = CreateSharedEngineMemory(name_.c_str(), 0);
    EXPECT_EQ(first, c.first);
    EXPECT_EQ(second, c.second);
    EXPECT_TRUE(DeleteSharedEngineMemory(name_.c_str(), first));
    EXPECT_TRUE(DeleteSharedEngineMemory(name_.c_str(), second));
  }
  EXPECT_FALSE(FileExists(root_.dir(name_, "sems")));
}

TEST_F(ShmSegmentsTest, ExistingFilesAreSkippedAndTheyEndTheTries) {
  SetNextSegmentId(50);
  ASSERT_TRUE(CreateSharedEngineMemoryEx(name_.c_str(), 10, 50));
  EXPECT_FALSE(CreateSharedEngineMemoryEx(name_.c_str(), 10, 50)) << "exclusive creation";
  EXPECT_EQ(CreateSharedEngineMemory(name_.c_str(), 10), 51u);
  // A name whose directory does not exist: every try fails, and after 100 it gives up.
  SetNextSegmentId(1000);
  EXPECT_EQ(CreateSharedEngineMemory("no_such_owner", 10), 0u);
  EXPECT_EQ(CreateSharedEngineMemory(name_.c_str(), 10), 1100u);
}

TEST_F(ShmSegmentsTest, SizeResizeAndNamedFiles) {
  const std::uint32_t id = CreateSharedEngineMemory(name_.c_str(), 3 * page_);
  std::uint32_t size = 1;
  ASSERT_TRUE(SizeSharedEngineMemory(name_.c_str(), id, &size));
  EXPECT_EQ(size, 3 * page_);
  ASSERT_TRUE(ResizeSharedEngineMemory(name_.c_str(), id, 5 * page_));
  ASSERT_TRUE(SizeSharedEngineMemory(name_.c_str(), id, &size));
  EXPECT_EQ(size, 5 * page_);
  EXPECT_FALSE(SizeSharedEngineMemory(name_.c_str(), id + 1000, &size));
  EXPECT_EQ(size, 0u);

  ASSERT_TRUE(CreateSharedEngineNMemory(name_.c_str(), page_, "named"));
  EXPECT_TRUE(FileExists(root_.dir(name_, "shmem/_named")));
  EXPECT_FALSE(CreateSharedEngineNMemory(name_.c_str(), page_, "named"));
  ASSERT_TRUE(SizeSharedEngineNMemory(name_.c_str(), "named", &size));
  EXPECT_EQ(size, page_);
  EXPECT_TRUE(DeleteSharedEngineNMemory(name_.c_str(), "named"));
  EXPECT_FALSE(FileExists(root_.dir(name_, "shmem/_named")));
}

TEST_F(ShmSegmentsTest, NoDeleteWhileOperationsAreDisallowed) {
  const std::uint32_t id = CreateSharedEngineMemory(name_.c_str(), page_);
  ASSERT_TRUE(CreateSharedEngineNMemory(name_.c_str(), page_, "kept"));
  SetSharedMemoryOpsAllowed(0);
  EXPECT_TRUE(DeleteSharedEngineMemory(name_.c_str(), id)) << "reported as done";
  EXPECT_TRUE(DeleteSharedEngineNMemory(name_.c_str(), "kept"));
  EXPECT_TRUE(FileExists(IdPath(id)));
  EXPECT_TRUE(FileExists(root_.dir(name_, "shmem/_kept")));
  SetSharedMemoryOpsAllowed(1);
  EXPECT_TRUE(DeleteSharedEngineMemory(name_.c_str(), id));
  EXPECT_FALSE(FileExists(IdPath(id)));
}

TEST_F(ShmSegmentsTest, SameRangeMappedTwiceIsOneCountedMapping) {
  const std::uint32_t id = CreateSharedEngineMemory(name_.c_str(), 2 * page_);
  const std::uint32_t pid = static_cast<std::uint32_t>(getpid());
  void* first = AttachToSharedMem(pid, name_.c_str(), id, nullptr, 0, 2 * page_, 1);
  ASSERT_NE(first, nullptr);
  void* second = AttachToSharedMem(pid, name_.c_str(), id, nullptr, 0, 2 * page_, 1);
  EXPECT_EQ(second, first);
  EXPECT_EQ(ShMemHolders(first), 2);
  // A smaller request fits in the mapping; a different owner pid is another entry.
  void* smaller = AttachToSharedMem(pid, name_.c_str(), id, nullptr, 0, page_, 1);
  EXPECT_EQ(smaller, first);
  void* other_owner = AttachToSharedMem(pid + 1, name_.c_str(), id, nullptr, 0, page_, 1);
  EXPECT_NE(other_owner, first);
  EXPECT_TRUE(DetachFromSharedMem(other_owner));

  static_cast<char*>(first)[0] = 'x';
  EXPECT_TRUE(DetachFromSharedMem(first));
  EXPECT_TRUE(DetachFromSharedMem(first));
  EXPECT_TRUE(IsMapped(first, page_)) << "one holder is left";
  EXPECT_EQ(static_cast<char*>(first)[0], 'x');
  EXPECT_TRUE(DetachFromSharedMem(first));
  EXPECT_EQ(ShMemHolders(first), 0);
  EXPECT_FALSE(IsMapped(first, page_)) << "the last holder unmaps";
}

TEST_F(ShmSegmentsTest, UncountedMappingIsNeverUnmapped) {
  const std::uint32_t id = CreateSharedEngineMemory(name_.c_str(), page_);
  const std::uint32_t pid = static_cast<std::uint32_t>(getpid());
  void* address = AttachToSharedMem(pid, name_.c_str(), id, nullptr, 0, page_, 0);
  ASSERT_NE(address, nullptr);
  EXPECT_EQ(ShMemHolders(address), -1);
  EXPECT_EQ(AttachToSharedMem(pid, name_.c_str(), id, nullptr, 0, page_, 1), address);
  EXPECT_EQ(ShMemHolders(address), -1) << "an uncounted entry takes no count";
  for (int i = 0; i < 3; ++i) EXPECT_TRUE(DetachFromSharedMem(address));
  EXPECT_TRUE(IsMapped(address, page_));
  EXPECT_EQ(ShMemHolders(address), -1);
}

TEST_F(ShmSegmentsTest, DetachOfAnUnknownAddressFails) {
  int local = 0;
  ::testing::internal::CaptureStderr();
  EXPECT_FALSE(DetachFromSharedMem(&local));
  const std::string said = ::testing::internal::GetCapturedStderr();
  EXPECT_NE(said.find("[unixshm] DetachFromSharedMem mem="), std::string::npos) << said;
  EXPECT_NE(said.find("FAILED to find"), std::string::npos) << said;
}

// Owner names, ids, offsets and sizes arrive from the peer in buffer references and
// descriptors. A range past the end of the file would fault when touched.
TEST_F(ShmSegmentsTest, RangesAndNamesFromAPeerAreChecked) {
  const std::uint32_t id = CreateSharedEngineMemory(name_.c_str(), 2 * page_);
  const std::uint32_t pid = static_cast<std::uint32_t>(getpid());
  struct Case {
    const char* what;
    const char* owner;
    std::uint32_t offset;
    std::uint32_t size;
  };
  const Case cases[] = {
      {"range past the end", name_.c_str(), page_, 2 * page_},
      {"offset past the end", name_.c_str(), 4 * page_, page_},
      {"offset near 4 GiB wraps in 32 bits", name_.c_str(), 0xFFFFF000u & ~(page_ - 1),
       2 * page_},
      {"offset not on a page", name_.c_str(), 100, page_},
      {"empty range", name_.c_str(), 0, 0},
      {"owner climbs out of the tree", "..", 0, page_},
      {"owner is a path", "/etc", 0, page_},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    ::testing::internal::CaptureStderr();
    EXPECT_EQ(AttachToSharedMem(pid, c.owner, id, nullptr, c.offset, c.size, 1), nullptr);
    const std::string said = ::testing::internal::GetCapturedStderr();
    EXPECT_NE(said.find("[unixshm] AttachToSharedMem p="), std::string::npos) << said;
  }
  // A longer request for a range mapped before gets a mapping of its own that covers it.
  ASSERT_TRUE(ResizeSharedEngineMemory(name_.c_str(), id, 4 * page_));
  void* small = AttachToSharedMem(pid, name_.c_str(), id, nullptr, 0, page_, 1);
  void* large = AttachToSharedMem(pid, name_.c_str(), id, nullptr, 0, 4 * page_, 1);
  ASSERT_NE(small, nullptr);
  ASSERT_NE(large, nullptr);
  EXPECT_NE(large, small);
  EXPECT_TRUE(IsMapped(static_cast<char*>(large) + 3 * page_, page_));
  EXPECT_TRUE(DetachFromSharedMem(small));
  EXPECT_TRUE(DetachFromSharedMem(large));
}

TEST_F(ShmSegmentsTest, DescriptorsCreateMapAndDestroy) {
  c_strm_shm_mem by_id{};
  ASSERT_EQ(by_id.Create(nullptr, 100), 1);
  EXPECT_EQ(by_id.creator_pid, static_cast<std::uint32_t>(getpid()));
  EXPECT_STREQ(by_id.segment_name, name_.c_str());
  EXPECT_NE(by_id.segment_id, 0u);
  std::uint32_t mapped = 0;
  void* address = by_id.Map(&mapped);
  ASSERT_NE(address, nullptr);
  EXPECT_EQ(mapped, page_) << "rounded up to whole pages";
  const std::string path = IdPath(by_id.segment_id);
  c_strm_shm_mem copy = by_id;
  copy.Destroy();
  EXPECT_TRUE(copy.IsNull());
  EXPECT_FALSE(FileExists(path));
  EXPECT_TRUE(IsMapped(address, page_)) << "mappings outlive the file";
  EXPECT_TRUE(DetachFromSharedMem(address));

  // Name-named in the default server directory, opened by name by the peer.
  ASSERT_TRUE(CreateEngineResourceTree(nullptr));
  c_strm_shm_mem named{};
  ASSERT_EQ(named.Create("pageX", page_ + 1), 1);
  EXPECT_STREQ(named.segment_name, "");
  EXPECT_TRUE(FileExists(root_.dir(kDefaultServerName, "shmem/_pageX")));
  c_strm_shm_mem opened{};
  ASSERT_EQ(opened.Open("pageX"), 1);
  EXPECT_EQ(opened.creator_pid, 0xFFFFFFFFu);
  address = opened.Map(&mapped);
  ASSERT_NE(address, nullptr);
  EXPECT_EQ(mapped, 2 * page_);
  EXPECT_TRUE(DetachFromSharedMem(address));
  named.Destroy();

  // Descriptors from a peer whose names would leave the tree map nothing.
  c_strm_shm_mem bad = by_id;
  std::strcpy(bad.segment_name, "..");
  EXPECT_EQ(bad.Map(), nullptr);
  ASSERT_EQ(opened.Open("ok", "../../etc/passwd"), 1);
  EXPECT_EQ(opened.Map(), nullptr);
  std::memset(bad.segment_name, 'a', sizeof bad.segment_name);  // no terminator
  bad.segment_name[5] = '/';
  EXPECT_EQ(bad.Map(), nullptr);
  RemoveEngineResourceTree(nullptr);
}

}  // namespace
