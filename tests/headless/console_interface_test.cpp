#include "headless/console_interface.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <sstream>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "shell/application_main.h"
#include "tests/support/host_fixture.h"
#include "tests/support/wait_until.h"

namespace lumivane::headless {
namespace {

using Json = nlohmann::json;

// Every end-to-end test speaks to the host through this console (calls, their
// replies, the host's own calls, quit); what those never do is here. The
// console attached to a host on the simulated desktop, fed through a
// pipe as a terminal would feed it. Lines are read on the console's own
// thread and run on the main queue, so the test turns the simulated clock
// until what it expects has come out.
class ConsoleInterfaceTest : public test_support::HostTest {
 protected:
  void SetUp() override {
    HostTest::SetUp();
    int fds[2];
    ASSERT_EQ(::pipe2(fds, O_CLOEXEC), 0);
    input_ = fds[0];
    writer_ = fds[1];
    desktop.flutter().setInterfaceRunner([this](platform::FlutterViewController& vc) {
      return std::make_unique<ConsoleInterface>(desktop, vc.engine().interfaceMessenger(), input_,
                                                out_);
    });
    // Started as the process entry starts it, with the console as the only
    // interface on the channels.
    ui = loadMainInterface(desktop);
    desktop.application().run();
  }
  void TearDown() override {
    HostTest::TearDown();
    ::close(writer_);
    ::close(input_);
  }

  void type(const std::string& text) {
    ASSERT_EQ(::write(writer_, text.data(), text.size()), static_cast<ssize_t>(text.size()));
  }
  // The events so far, parsed.
  std::vector<Json> events() {
    std::vector<Json> parsed;
    std::istringstream lines(out_.str());
    for (std::string line; std::getline(lines, line);)
      parsed.push_back(Json::parse(line));
    return parsed;
  }
  // Runs what is due until `count` events named `name` have come out.
  std::vector<Json> waitFor(const std::string& name, std::size_t count = 1) {
    std::vector<Json> found;
    test_support::waitUntil([&] {
      desktop.runUntilIdle();
      found.clear();
      for (auto& event : events()) {
        if (event["event"] == name)
          found.push_back(event);
      }
      return found.size() >= count;
    });
    return found;
  }

  int input_ = -1;
  int writer_ = -1;
  std::ostringstream out_;
};

// A bad line is reported and skipped; what the console cannot do on a real
// desktop is refused in words; the lines after a wait run once it is over.
TEST_F(ConsoleInterfaceTest, BadLinesAreToldAndSkippedAndWaitsHoldTheLinesAfterThem) {
  type("call selection\nkey 17 0x300\n\n# a comment\nwait 0.5\nshow pasteboard\n");
  const auto errors = waitFor("error", 2);
  ASSERT_EQ(errors.size(), 2u);
  EXPECT_EQ(errors[0]["line"], 1);
  EXPECT_EQ(errors[1]["line"], 2);
  EXPECT_NE(errors[1]["message"].get<std::string>().find("only call, wait"), std::string::npos);
  desktop.advance(0.4);
  EXPECT_TRUE(waitFor("pasteboard", 0).empty());
  desktop.advance(0.1);
  const auto shown = waitFor("pasteboard");
  ASSERT_EQ(shown.size(), 1u);
  EXPECT_TRUE(shown[0]["items"].is_array());
}

// The host lives in the menu bar: a console that goes away ends nothing.
TEST_F(ConsoleInterfaceTest, TheEndOfInputEndsNothing) {
  type("call selection checkPermission");
  ::close(writer_);
  writer_ = ::open("/dev/null", O_WRONLY | O_CLOEXEC);
  ASSERT_EQ(waitFor("reply").size(), 1u) << "the last line needs no line break";
  desktop.advance(1);
  EXPECT_FALSE(desktop.application().isTerminating());
}

}  // namespace
}  // namespace lumivane::headless
