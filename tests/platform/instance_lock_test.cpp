#include "platform/instance_lock.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>

#include "tests/support/temp_dir.h"

namespace {

// Every test takes its locks in a folder of its own.
class InstanceLockTest : public ::testing::Test {
 protected:
  void SetUp() override { setenv("XDG_RUNTIME_DIR", dir_.folder().c_str(), 1); }
  TempDir dir_;
};

}  // namespace

TEST_F(InstanceLockTest, AHeldLockIsHandedOverThroughItsDescriptor) {
  InstanceLock first;
  ASSERT_EQ(first.Acquire("Quorvix 9.9"), LockResult::Acquired);
  ASSERT_TRUE(first.KeepAcrossExec());
  EXPECT_EQ(fcntl(first.HeldDescriptor(), F_GETFD) & FD_CLOEXEC, 0);

  // The taker holds the same open file: still locked against everyone else.
  const int inherited = dup(first.HeldDescriptor());
  InstanceLock taker;
  ASSERT_TRUE(taker.Adopt(inherited, "Quorvix 9.9"));
  EXPECT_NE(fcntl(taker.HeldDescriptor(), F_GETFD) & FD_CLOEXEC, 0);
  first.Release();
  InstanceLock other;
  EXPECT_EQ(other.Acquire("Quorvix 9.9"), LockResult::HeldElsewhere);
  taker.Release();
  EXPECT_EQ(other.Acquire("Quorvix 9.9"), LockResult::Acquired);
}

TEST_F(InstanceLockTest, AForeignDescriptorIsNotAdopted) {
  InstanceLock holder;
  ASSERT_EQ(holder.Acquire("Quorvix 9.9"), LockResult::Acquired);
  InstanceLock taker;
  // Another file, another title's lock file, a closed number, a second open of the held file.
  const int other_file = open(dir_.file("other").c_str(), O_RDWR | O_CREAT, 0600);
  EXPECT_FALSE(taker.Adopt(other_file, "Quorvix 9.9"));
  EXPECT_FALSE(taker.Adopt(holder.HeldDescriptor(), "Quorvix 1.0"));
  EXPECT_FALSE(taker.Adopt(987, "Quorvix 9.9"));
  EXPECT_FALSE(taker.Adopt(-1, "Quorvix 9.9"));
  const int reopened = open((dir_.folder() + InstanceLockName("Quorvix 9.9")).c_str(), O_RDWR);
  EXPECT_FALSE(taker.Adopt(reopened, "Quorvix 9.9"));
  EXPECT_FALSE(taker.Held());
  close(other_file);
  close(reopened);
}
