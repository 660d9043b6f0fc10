#include "platform/gtk/gtk_application.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "platform/gtk/glib_handles.h"
#include "tests/platform/x11/host_on_x11.h"
#include "tests/support/recording_delegate.h"

namespace lumivane {
namespace {

using platform::EventType;
using platform::gtk::GtkHostApplication;
using test_support::RecordingDelegate;
using test_support::X11DesktopTest;

using Log = std::vector<std::string>;

class X11ApplicationTest : public X11DesktopTest {
 protected:
  GtkHostApplication& application() { return desktop.application(); }
  std::shared_ptr<RecordingDelegate> delegate = std::make_shared<RecordingDelegate>();
};

// The loop runs until terminate(); the delegate hears of the launch once, on
// the loop's first turn; it hears once that the application will terminate,
// before the termination hooks, which run inside the loop, before it stops;
// a hook whose registration is gone does not run.
TEST_F(X11ApplicationTest, LaunchesOnceRunsUntilTerminatedAndRunsHooksBeforeTheLoopStops) {
  Log log;
  application().setDelegate(delegate);
  auto hook = application().addTerminationHook([&] {
    log.push_back(g_main_depth() > 0 ? "hook inside the loop" : "hook outside the loop");
  });
  {
    auto dropped = application().addTerminationHook([&] { log.push_back("dropped hook"); });
  }
  platform::gtk::GSourcePtr later;
  delegate->onWillTerminate = [&] { log.push_back("will terminate"); };
  delegate->onLaunch = [&] {
    log.push_back("launched");
    // The loop goes on after launching, until something ends it.
    later = platform::gtk::addMainTimeout(20, [&] {
      log.push_back("later");
      application().terminate();
      application().terminate();  // A second call changes nothing.
      return false;
    });
  };
  EXPECT_EQ(application().run(), 0);
  EXPECT_EQ(log, (Log{"launched", "later", "will terminate", "hook inside the loop"}));
  EXPECT_EQ(delegate->launches.size(), 1u);
  EXPECT_EQ(delegate->terminations,
            std::vector<std::string>{platform::NSApplicationWillTerminateNotification});
  EXPECT_TRUE(application().isTerminating());
}

TEST_F(X11ApplicationTest, TerminatedBeforeRunningNeverLaunches) {
  application().setDelegate(delegate);
  int hooks = 0;
  auto hook = application().addTerminationHook([&] { ++hooks; });
  application().terminate();
  EXPECT_EQ(hooks, 1);
  EXPECT_EQ(application().run(), 0);
  EXPECT_EQ(delegate->launches.size(), 0u);
  EXPECT_EQ(hooks, 1);
}

// The delegate is held weakly: once its owner lets it go, the application
// runs without one.
TEST_F(X11ApplicationTest, AReleasedDelegateIsNotLaunched) {
  application().setDelegate(delegate);
  delegate.reset();
  EXPECT_EQ(application().delegate(), nullptr);
  auto stop = platform::gtk::addMainTimeout(0, [&] {
    application().terminate();
    return false;
  });
  EXPECT_EQ(application().run(), 0);
}

// Events the backend synthesizes (the status icon's clicks) are the current
// event while they are handled, innermost first; outside any, there is none.
TEST_F(X11ApplicationTest, SynthesizedEventsAreCurrentWhileHandled) {
  EXPECT_FALSE(application().currentEvent());
  {
    GtkHostApplication::HandlingEvent outer(application(),
                                            platform::Event{EventType::rightMouseUp, 0, {}, 0});
    {
      GtkHostApplication::HandlingEvent inner(application(),
                                              platform::Event{EventType::leftMouseUp, 0, {}, 0});
      EXPECT_EQ(application().currentEvent()->type, EventType::leftMouseUp);
    }
    EXPECT_EQ(application().currentEvent()->type, EventType::rightMouseUp);
  }
  EXPECT_FALSE(application().currentEvent());
}

}  // namespace
}  // namespace lumivane
