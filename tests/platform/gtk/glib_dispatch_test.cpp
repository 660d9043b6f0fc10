#include "platform/gtk/glib_dispatch.h"

#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <memory>

#include "platform/gtk/glib_handles.h"
#include "tests/support/main_loop.h"

namespace lumivane::platform::gtk {
namespace {

// Bounds the loop only so a broken build fails instead of hanging.
constexpr double kHangGuardSeconds = 60.0;

struct FreedCounter {
  explicit FreedCounter(std::atomic<int>& freed) : freed(freed) {}
  ~FreedCounter() { ++freed; }
  FreedCounter(const FreedCounter&) = delete;
  FreedCounter& operator=(const FreedCounter&) = delete;
  std::atomic<int>& freed;
};

// The dispatch contract covers order, delays and threads; a null block is
// this dispatch's own case: ignored, where running it would throw from inside
// GLib's loop.
TEST(X11DispatchMainQueue, NullBlocksAreIgnored) {
  GLibDispatch dispatch(1);
  bool ran = false;
  dispatch.mainQueue().async(nullptr);
  dispatch.mainQueue().asyncAfter(0, nullptr);
  dispatch.mainQueue().async([&] { ran = true; });
  EXPECT_TRUE(test_support::pumpUntil([&] { return ran; }, kHangGuardSeconds));
}

// The loop the application runs sleeps until something happens: a block from
// a worker must wake it (nothing else would here but the guard).
TEST(X11DispatchMainQueue, ABlockFromAWorkerWakesASleepingLoop) {
  GLibDispatch dispatch(1);
  std::unique_ptr<GMainLoop, decltype(&g_main_loop_unref)> loop(g_main_loop_new(nullptr, FALSE),
                                                                &g_main_loop_unref);
  bool ranOnMain = false;
  bool guardFired = false;
  auto guard = addMainTimeout(static_cast<guint>(kHangGuardSeconds * 1000), [&] {
    guardFired = true;
    g_main_loop_quit(loop.get());
    return false;
  });
  auto start = addMainTimeout(0, [&] {
    dispatch.globalQueue(QoSClass::userInitiated).asyncAfter(0.02, [&] {
      dispatch.mainQueue().async([&] {
        ranOnMain = dispatch.isMainThread();
        g_main_loop_quit(loop.get());
      });
    });
    return false;
  });
  g_main_loop_run(loop.get());
  EXPECT_TRUE(ranOnMain);
  EXPECT_FALSE(guardFired);
}

// A block that keeps resubmitting itself must not starve the desktop's own
// events and timers, which share the loop.
TEST(X11DispatchMainQueue, BlocksShareTheLoopWithTheDesktopsOwnSources) {
  GLibDispatch dispatch(1);
  bool stop = false;
  int spins = 0;
  std::function<void()> spin = [&] {
    ++spins;
    if (!stop) {
      dispatch.mainQueue().async(spin);
    }
  };
  dispatch.mainQueue().async(spin);
  bool timerFired = false;
  auto timer = addMainTimeout(5, [&] {
    timerFired = true;
    return false;
  });
  EXPECT_TRUE(test_support::pumpUntil([&] { return timerFired; }, kHangGuardSeconds));
  EXPECT_GT(spins, 0);
  stop = true;
}

// A capture's destructor posting its last word while the dispatch frees it
// must not deadlock, and what it posts is freed by the same teardown.
TEST(X11DispatchLifetime, BlocksPostedWhileTheDispatchFreesOthersAreFreedToo) {
  std::atomic<int> freed{0};
  struct PostsWhenFreed {
    PostsWhenFreed(GLibDispatch& d, std::atomic<int>& f) : dispatch(d), freed(f) {}
    ~PostsWhenFreed() {
      auto counter = std::make_shared<FreedCounter>(freed);
      dispatch.mainQueue().async([counter] {});
      dispatch.globalQueue(QoSClass::utility).async([counter] {});
    }
    GLibDispatch& dispatch;
    std::atomic<int>& freed;
  };
  {
    GLibDispatch dispatch(2);
    dispatch.mainQueue().async([p = std::make_shared<PostsWhenFreed>(dispatch, freed)] {});
    dispatch.globalQueue(QoSClass::background)
        .asyncAfter(1000, [p = std::make_shared<PostsWhenFreed>(dispatch, freed)] {});
  }
  EXPECT_EQ(freed.load(), 2);
  // The source is gone with the dispatch: the loop turns without it.
  g_main_context_iteration(nullptr, FALSE);
}

}  // namespace
}  // namespace lumivane::platform::gtk
