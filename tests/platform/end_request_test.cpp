// A polite end turned into a flag: the process goes on, and each request is taken once.

#include "platform/end_request.h"

#include <gtest/gtest.h>

#include <csignal>

TEST(TakeEndRequest, EachSigtermIsTakenOnceAndTheProcessGoesOn) {
  WatchEndRequests();
  EXPECT_FALSE(TakeEndRequest());
  ASSERT_EQ(std::raise(SIGTERM), 0);
  EXPECT_TRUE(TakeEndRequest());
  EXPECT_FALSE(TakeEndRequest());
  // Two before a look count as one: the window closes once.
  ASSERT_EQ(std::raise(SIGTERM), 0);
  ASSERT_EQ(std::raise(SIGTERM), 0);
  EXPECT_TRUE(TakeEndRequest());
  EXPECT_FALSE(TakeEndRequest());
  std::signal(SIGTERM, SIG_DFL);
}
