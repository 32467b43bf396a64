// GoogleTest's Notification for the win32 thread model, which has no
// std::mutex or std::condition_variable for GoogleTest's own. Forced into
// every C++ source of the cross build's tests with GTEST_HAS_NOTIFICATION_
// (GoogleTest's customisation point for it). GoogleTest uses it only to
// start its own helper threads; the tests here start none.
#pragma once

#include <atomic>

namespace testing::internal {

class Notification {
 public:
  Notification() = default;
  Notification(const Notification&) = delete;
  Notification& operator=(const Notification&) = delete;

  void Notify() { notified_.store(true, std::memory_order_release); }
  void WaitForNotification() {
    while (!notified_.load(std::memory_order_acquire)) {
    }
  }

 private:
  std::atomic<bool> notified_{false};
};

}  // namespace testing::internal
