#pragma once

#include <map>
#include <memory>
#include <optional>
#include <string>
#include <variant>

namespace lumivane::platform {

class RunningApplication;

// A value in a notification's user info: the workspace puts running
// applications there; anything else arrives as a string or a number.
using UserInfoValue = std::variant<std::shared_ptr<RunningApplication>, std::string, std::int64_t>;

// An NSNotification. `userInfo` is absent when the sender attached none.
struct Notification {
  std::string name;
  std::optional<std::map<std::string, UserInfoValue>> userInfo;
};

// The launch notification's name.
inline constexpr const char* NSApplicationDidFinishLaunchingNotification =
    "NSApplicationDidFinishLaunchingNotification";
// The name of the notification that the application is about to end.
inline constexpr const char* NSApplicationWillTerminateNotification =
    "NSApplicationWillTerminateNotification";

}  // namespace lumivane::platform
