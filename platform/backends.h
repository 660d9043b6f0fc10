#pragma once

#include <functional>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "platform/desktop.h"

namespace lumivane::platform {

// One desktop backend built into this program.
struct Backend {
  // What `--desktop NAME` asks for: "x11", "sim".
  const char* name;
  // One line for the help text.
  const char* description;
  // A real desktop, opened by default when available. The simulated desktop
  // is not: it runs only when asked for, or for the demo.
  bool real;
  // Empty when the backend can open here; otherwise why it cannot, in words a
  // user can act on ("no X display is set (DISPLAY is empty)").
  std::function<std::string()> unavailableReason;
  // Opens the backend's desktop on the calling thread, which becomes the
  // application's main thread. Null with `*error` saying why when it cannot.
  std::function<std::unique_ptr<Desktop>(std::string* error)> open;
  // Whether this session has the backend's display at all (its variable is
  // set); none: never. A backend the session has but that cannot open is
  // worth a word to the user when another opens in its place.
  std::function<bool()> inSession = nullptr;
};

// Every backend built in, real ones first, in the order they are tried.
std::vector<Backend> builtInBackends();

// The backend called `name` among `backends`; null when there is none.
const Backend* findBackend(std::span<const Backend> backends, std::string_view name);

// "x11, sim": the names, for messages.
std::string backendNames(std::span<const Backend> backends);

// Asks the host already running in this session to act as if its hot key
// had been pressed (`lumivane --capture`, for a shortcut of the desktop's own
// to run where the host cannot bind one itself). False with `*error` saying
// why when no host runs or none can be reached from this build.
bool pressHotKeyOfRunningHost(std::string* error);

}  // namespace lumivane::platform
