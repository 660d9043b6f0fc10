#pragma once

#include <gdk/gdk.h>
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <utility>

#include "platform/x11/x11_application.h"
#include "tests/support/x_session.h"

namespace lumivane::test_support {

// The private desktop a GTK test executable runs on. GTK opens one display
// per process, so the executable's tests share it: it starts before the first
// test and ends after the last.
class GtkSessionEnvironment : public ::testing::Environment {
 public:
  explicit GtkSessionEnvironment(std::unique_ptr<XSession>* slot) : slot_(slot) {}

  void SetUp() override {
    *slot_ = std::make_unique<XSession>();
    XSession& session = **slot_;
    ASSERT_TRUE(session.ready()) << session.failure();
    session.exportToThisProcess();
    std::string error;
    ASSERT_TRUE(platform::x11::initializeGtk(&error)) << error;
  }

  void TearDown() override {
    // GTK's display is left open: nothing reads it once the tests are done,
    // and closing it makes GTK complain about its own teardown.
    slot_->reset();
  }

 private:
  std::unique_ptr<XSession>* slot_;
};

// The executable's session; set up before its first test.
inline std::unique_ptr<XSession>& gtkTestSession() {
  static std::unique_ptr<XSession> session;
  return session;
}

// gtest owns registered environments.
inline ::testing::Environment* const kGtkSessionEnvironment =
    ::testing::AddGlobalTestEnvironment(new GtkSessionEnvironment(&gtkTestSession()));

}  // namespace lumivane::test_support
