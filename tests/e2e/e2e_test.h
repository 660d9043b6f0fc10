#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "tests/e2e/e2e_desktop.h"

namespace lumivane::e2e {

// A test on a desktop of its own. Whatever the test does, the host must end
// cleanly when the session ends it (SIGTERM, as at logout) and must not have
// reported a sanitizer error; a failing test shows what the host printed.
class E2eTest : public ::testing::Test {
 protected:
  virtual XSession::Options sessionOptions() const { return {}; }

  void SetUp() override {
    desktop_ = std::make_unique<Desktop>(sessionOptions());
    ASSERT_TRUE(desktop_->ready()) << desktop_->failure();
  }

  void TearDown() override {
    HostProcess* host = desktop_ ? desktop_->host() : nullptr;
    if (!host)
      return;
    if (host->process().running()) {
      EXPECT_EQ(host->terminate(), 0) << "the host did not end cleanly on SIGTERM";
    }
    host->readAvailable();
    const std::string errors = host->standardError();
    for (const char* report :
         {"ThreadSanitizer", "AddressSanitizer", "LeakSanitizer", "runtime error:"}) {
      EXPECT_EQ(errors.find(report), std::string::npos) << "the host reported:\n" << errors;
    }
    if (HasFailure()) {
      std::string events;
      for (const auto& event : host->events())
        events += event.dump() + "\n";
      ADD_FAILURE() << "the host's console:\n"
                    << events << "its standard error:\n"
                    << errors.substr(errors.size() > 20000 ? errors.size() - 20000 : 0);
    }
  }

  Desktop& desktop() { return *desktop_; }

 private:
  std::unique_ptr<Desktop> desktop_;
};

// The user's clipboard before the host touches it: text, a web page's
// markup and a 1 MiB image, as a browser or an image editor offers them.
inline std::vector<ClipboardTarget> richClipboard() {
  return {{"text/plain", "the user's own words"},
          {"text/html", "<p>the user's <b>own</b> words</p>"},
          {"image/png", noise(std::size_t{1} << 20, 7)}};
}

inline std::string editorName(const ::testing::TestParamInfo<EditorKind>& info) {
  return info.param.name;
}

}  // namespace lumivane::e2e
