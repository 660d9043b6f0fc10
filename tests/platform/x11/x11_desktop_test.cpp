#include "platform/x11/x11_desktop.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <string>
#include <thread>

#include "tests/platform/x11/gtk_session.h"
#include "tests/support/recording_delegate.h"
#include "tests/support/wait_until.h"

namespace lumivane {
namespace {

using platform::QoSClass;
using test_support::RecordingDelegate;
using test_support::waitUntil;

// A block still running on a global queue when the host is told to end (a
// capture waiting for its copy) finishes before the application stops, while
// every service it may use is still there; a block submitted once the host is
// ending never runs.
TEST(X11DesktopTest, WorkerBlocksFinishBeforeTheHostEnds) {
  ASSERT_TRUE(test_support::gtkTestSession());
  std::string error;
  auto desktop = platform::x11::openX11Desktop(&error);
  ASSERT_NE(desktop, nullptr) << error;
  auto& dispatch = desktop->dispatch();
  std::atomic<bool> ending = false;
  std::atomic<bool> finished = false;
  std::atomic<bool> late = false;
  auto delegate = std::make_shared<RecordingDelegate>();
  delegate->onLaunch = [&] {
    dispatch.globalQueue(QoSClass::userInitiated).async([&] {
      // Under way: the host is told to end now.
      dispatch.mainQueue().async([&] { desktop->application().terminate(); });
      waitUntil([&] { return ending.load(); });
      // Work that takes a moment yet, with a service at the end of it.
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
      desktop->generalPasteboard().changeCount();
      finished = true;
    });
  };
  delegate->onWillTerminate = [&] { ending = true; };
  desktop->application().setDelegate(delegate);

  EXPECT_EQ(desktop->application().run(), 0);
  ASSERT_EQ(delegate->launches.size(), 1u);
  EXPECT_TRUE(finished) << "the host ended while a worker block was running";
  dispatch.globalQueue(QoSClass::userInitiated).async([&] { late = true; });
  desktop.reset();
  EXPECT_FALSE(late);
}

}  // namespace
}  // namespace lumivane
