#pragma once

// Harnesses of the contract suites for what the Linux desktops share: launch
// at login by an XDG autostart entry, and dispatch on GLib's main loop.

#include <stdlib.h>
#include <sys/fsuid.h>
#include <unistd.h>

#include <filesystem>
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>

#include "platform/gtk/glib_dispatch.h"
#include "platform/gtk/xdg_autostart.h"
#include "tests/support/main_loop.h"

namespace lumivane::contract {

namespace fs = std::filesystem;

// Autostart folders in a temporary folder; the program the entry starts is
// this test executable.
class XdgLoginItemsHarness {
 public:
  // The user may not write to the autostart folder.
  static constexpr bool kCanRefuse = true;

  XdgLoginItemsHarness() {
    std::string pattern = (fs::temp_directory_path() / "lumivane-contract-XXXXXX").string();
    if (!::mkdtemp(pattern.data()))
      throw std::runtime_error("the login-items harness has no temporary folder");
    root_ = pattern;
    // Open to every user, for the refusal below.
    fs::permissions(root_, fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec |
                               fs::perms::others_read | fs::perms::others_exec);
    platform::gtk::XdgAutostartLoginItems::Options options;
    options.executable = fs::read_symlink("/proc/self/exe");
    options.folders = platform::gtk::AutostartFolders{root_ / "config" / "autostart",
                                                      {root_ / "xdg" / "autostart"}};
    loginItems_ = std::make_unique<platform::gtk::XdgAutostartLoginItems>(std::move(options));
  }

  ~XdgLoginItemsHarness() {
    if (dropped_)
      ::setfsuid(0);
    std::error_code ignored;
    fs::permissions(root_ / "config" / "autostart", fs::perms::owner_all, fs::perm_options::add,
                    ignored);
    fs::remove_all(root_, ignored);
  }

  platform::LoginItems& loginItems() { return *loginItems_; }

  // The folder becomes read-only. Root may write there all the same, so when
  // the tests run as root this thread takes the file-system identity of
  // `nobody` until the harness goes; the kernel checks only this thread's
  // file access against it.
  void refuseChanges() {
    const fs::path folder = root_ / "config" / "autostart";
    fs::create_directories(folder);
    const auto readOnly = fs::perms::owner_read | fs::perms::owner_exec | fs::perms::group_read |
                          fs::perms::group_exec | fs::perms::others_read | fs::perms::others_exec;
    fs::permissions(root_ / "config", readOnly | fs::perms::owner_write);
    fs::permissions(folder, readOnly);
    if (::geteuid() == 0) {
      constexpr uid_t kNobody = 65534;
      ::setfsuid(kNobody);
      dropped_ = true;
      // setfsuid answers with the identity it had, whether or not it changed.
      ASSERT_EQ(static_cast<uid_t>(::setfsuid(kNobody)), kNobody);
    }
  }

 private:
  fs::path root_;
  std::unique_ptr<platform::gtk::XdgAutostartLoginItems> loginItems_;
  bool dropped_ = false;
};

// The main queue on GLib's main loop, run by this thread.
class GLibDispatchHarness {
 public:
  platform::Dispatch& dispatch() { return dispatch_; }
  void runFor(double seconds) {
    test_support::pumpUntil([] { return false; }, seconds);
  }
  bool runUntil(const std::function<bool()>& done, double seconds) {
    return test_support::pumpUntil(done, seconds);
  }

 private:
  platform::gtk::GLibDispatch dispatch_;
};

}  // namespace lumivane::contract
