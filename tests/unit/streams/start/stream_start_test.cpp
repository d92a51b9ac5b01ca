// The counted start and stop of the stream library: the links are registered while it
// is started and only then.
#include <gtest/gtest.h>

#include "../shm/shm_test_support.h"
#include "streams/buffer_pool.h"
#include "streams/port_layer.h"
#include "streams/stream_api.h"

namespace {

// Whether the port layer can make a link of the type now (16: no maker registered).
an_int_strm_error AddPort(a_port_type type) {
  c_strm_frlist_controller controller(2048);
  c_strm_port_layer layer(nullptr, controller.default_pool);
  return layer.add_port(type, "", nullptr, nullptr);
}

TEST(StreamStart, TwoStartsNeedTwoStops) {
  vq::shm::test::ScopedShmRoot root;
  ASSERT_EQ(StrmInitCount(), 0);
  EXPECT_EQ(AddPort(STRM_PORT_SHARED_MEMORY), STRM_UNKNOWN_LINK);
  EXPECT_EQ(StrmInit(), 0) << "the first start";
  EXPECT_EQ(StrmInit(), 1) << "later starts answer the count before them";
  EXPECT_EQ(StrmFini(), 1);
  EXPECT_EQ(StrmInitCount(), 1) << "still started";
  EXPECT_NE(AddPort(STRM_PORT_SHARED_MEMORY), STRM_UNKNOWN_LINK) << "the link is registered";
  EXPECT_EQ(StrmFini(), 0);
  EXPECT_EQ(StrmInitCount(), 0);
  EXPECT_EQ(AddPort(STRM_PORT_SHARED_MEMORY), STRM_UNKNOWN_LINK) << "and gone again";
  EXPECT_EQ(StrmFini(), 0) << "a stop without a start changes nothing";
  EXPECT_EQ(StrmInitCount(), 0);
}

}  // namespace
