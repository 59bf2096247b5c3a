#include "platform/thread_group.h"

#include <gtest/gtest.h>

#include <atomic>
#include <future>
#include <memory>
#include <thread>

namespace lcx {
namespace {

TEST(ThreadGroup, CountsItsThreadsAndWaitsForThem) {
  ThreadGroup group;
  std::promise<void> gate;
  std::shared_future<void> open = gate.get_future().share();
  std::atomic<int> ran{0};
  auto marker = std::make_shared<int>(0);
  for (int i = 0; i < 3; ++i) {
    ASSERT_TRUE(group.Start([open, marker, &ran] {
      open.wait();
      ++ran;
    }));
  }
  EXPECT_EQ(group.Live(), 3);
  EXPECT_FALSE(group.WaitIdleFor(20));
  gate.set_value();
  group.WaitIdle();
  EXPECT_EQ(group.Live(), 0);
  EXPECT_EQ(ran.load(), 3);
  EXPECT_EQ(marker.use_count(), 1) << "what a thread captured is gone once it no longer counts";
}

TEST(ThreadGroup, DestructionWaitsForRunningThreads) {
  auto group = std::make_unique<ThreadGroup>();
  std::promise<void> gate;
  std::shared_future<void> open = gate.get_future().share();
  std::atomic<bool> finished{false}, destroying{false};
  group->Start([open, &finished] {
    open.wait();
    finished = true;
  });
  bool finished_before_destroyed = false;
  std::thread destroyer([&] {
    destroying = true;
    group.reset();
    finished_before_destroyed = finished.load();
  });
  while (!destroying.load()) std::this_thread::yield();
  gate.set_value();
  destroyer.join();
  EXPECT_TRUE(finished_before_destroyed);
}

}  // namespace
}  // namespace lcx
