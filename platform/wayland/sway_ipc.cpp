#include "platform/wayland/sway_ipc.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <nlohmann/json.hpp>

namespace lumivane::platform::wayland {
namespace {

using Clock = std::chrono::steady_clock;
using nlohmann::json;

constexpr char kMagic[] = {'i', '3', '-', 'i', 'p', 'c'};
constexpr std::size_t kHeaderSize = sizeof kMagic + 8;
// A reply larger than this is not sway's (a tree of thousands of windows is
// a few megabytes).
constexpr std::uint32_t kLargestPayload = 64u << 20;

int openSocket(const std::string& path) {
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  if (path.empty() || path.size() >= sizeof address.sun_path)
    return -1;
  std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
  const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
  if (fd < 0)
    return -1;
  // A local socket connects at once or not at all.
  if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
    ::close(fd);
    return -1;
  }
  return fd;
}

// Waits until `fd` is ready for `events` or `deadline` passes.
bool waitFor(int fd, short events, Clock::time_point deadline) {
  for (;;) {
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now());
    if (left.count() <= 0)
      return false;
    pollfd ready{fd, events, 0};
    const int result = ::poll(&ready, 1, static_cast<int>(left.count()));
    if (result > 0)
      return (ready.revents & events) != 0 || (ready.revents & (POLLHUP | POLLERR)) != 0;
    if (result < 0 && errno != EINTR)
      return false;
  }
}

bool writeAll(int fd, const std::string& bytes, Clock::time_point deadline) {
  std::size_t written = 0;
  while (written < bytes.size()) {
    const ssize_t n = ::send(fd, bytes.data() + written, bytes.size() - written, MSG_NOSIGNAL);
    if (n > 0) {
      written += static_cast<std::size_t>(n);
    } else if (n < 0 && errno == EINTR) {
      continue;
    } else if (n < 0 && errno == EAGAIN) {
      if (!waitFor(fd, POLLOUT, deadline))
        return false;
    } else {
      return false;
    }
  }
  return true;
}

bool readExactly(int fd, char* into, std::size_t size, Clock::time_point deadline) {
  std::size_t got = 0;
  while (got < size) {
    const ssize_t n = ::recv(fd, into + got, size - got, 0);
    if (n > 0) {
      got += static_cast<std::size_t>(n);
    } else if (n < 0 && errno == EINTR) {
      continue;
    } else if (n < 0 && errno == EAGAIN) {
      if (!waitFor(fd, POLLIN, deadline))
        return false;
    } else {
      return false;
    }
  }
  return true;
}

std::string frame(std::uint32_t type, const std::string& payload) {
  std::string message(kMagic, sizeof kMagic);
  const auto length = static_cast<std::uint32_t>(payload.size());
  message.append(reinterpret_cast<const char*>(&length), sizeof length);
  message.append(reinterpret_cast<const char*>(&type), sizeof type);
  return message + payload;
}

struct Received {
  std::uint32_t type = 0;
  std::string payload;
};

std::optional<Received> receive(int fd, Clock::time_point deadline) {
  char header[kHeaderSize];
  if (!readExactly(fd, header, sizeof header, deadline) ||
      std::memcmp(header, kMagic, sizeof kMagic) != 0) {
    return std::nullopt;
  }
  std::uint32_t length = 0;
  Received received;
  std::memcpy(&length, header + sizeof kMagic, sizeof length);
  std::memcpy(&received.type, header + sizeof kMagic + 4, sizeof received.type);
  if (length > kLargestPayload)
    return std::nullopt;
  received.payload.resize(length);
  if (!readExactly(fd, received.payload.data(), length, deadline))
    return std::nullopt;
  return received;
}

std::string stringAt(const json& node, const char* key) {
  auto it = node.find(key);
  return it != node.end() && it->is_string() ? it->get<std::string>() : std::string();
}

bool boolAt(const json& node, const char* key) {
  auto it = node.find(key);
  return it != node.end() && it->is_boolean() && it->get<bool>();
}

template <typename T>
T numberAt(const json& node, const char* key) {
  auto it = node.find(key);
  return it != node.end() && it->is_number_integer() ? it->get<T>() : T{};
}

// The windows under `root`: nodes with a pid, which only views (windows) have.
std::vector<SwayWindow> windowsIn(const json& root) {
  std::vector<SwayWindow> windows;
  std::vector<const json*> pending{&root};
  while (!pending.empty()) {
    const json& node = *pending.back();
    pending.pop_back();
    if (!node.is_object())
      continue;
    if (numberAt<pid_t>(node, "pid") > 0) {
      SwayWindow window;
      window.id = numberAt<std::int64_t>(node, "id");
      window.pid = numberAt<pid_t>(node, "pid");
      window.appId = stringAt(node, "app_id");
      window.title = stringAt(node, "name");
      window.focused = boolAt(node, "focused");
      if (auto x = node.find("window_properties"); x != node.end() && x->is_object()) {
        window.xClass = stringAt(*x, "class");
        window.xInstance = stringAt(*x, "instance");
      }
      windows.push_back(std::move(window));
    }
    for (const char* children : {"nodes", "floating_nodes"}) {
      auto it = node.find(children);
      if (it == node.end() || !it->is_array())
        continue;
      for (const json& child : *it)
        pending.push_back(&child);
    }
  }
  return windows;
}

}  // namespace

std::unique_ptr<SwayIpc> SwayIpc::fromEnvironment() {
  const char* path = std::getenv("SWAYSOCK");
  if (!path || !*path)
    return nullptr;
  return connect(path);
}

std::unique_ptr<SwayIpc> SwayIpc::connect(const std::string& path) {
  auto ipc = std::make_unique<SwayIpc>(path);
  std::lock_guard lock(ipc->mutex_);
  if (!ipc->connectLocked())
    return nullptr;
  return ipc;
}

SwayIpc::SwayIpc(std::string path) : path_(std::move(path)) {}

SwayIpc::~SwayIpc() {
  closeLocked();
}

bool SwayIpc::connectLocked() {
  if (fd_ < 0)
    fd_ = openSocket(path_);
  return fd_ >= 0;
}

void SwayIpc::closeLocked() {
  if (fd_ >= 0)
    ::close(fd_);
  fd_ = -1;
}

std::optional<std::string> SwayIpc::exchange(Message type, const std::string& payload) {
  std::lock_guard lock(mutex_);
  if (!connectLocked())
    return std::nullopt;
  const auto deadline = Clock::now() + kExchangeBound;
  const auto code = static_cast<std::uint32_t>(type);
  std::optional<Received> reply;
  if (writeAll(fd_, frame(code, payload), deadline))
    reply = receive(fd_, deadline);
  if (!reply || reply->type != code) {
    // Half a message may be left on the socket: the next exchange starts
    // on a fresh one.
    closeLocked();
    return std::nullopt;
  }
  return std::move(reply->payload);
}

std::optional<std::vector<SwayCommandResult>> SwayIpc::runCommand(const std::string& commands) {
  auto reply = exchange(Message::runCommand, commands);
  if (!reply)
    return std::nullopt;
  const json results = json::parse(*reply, nullptr, /*allow_exceptions=*/false);
  if (!results.is_array())
    return std::nullopt;
  std::vector<SwayCommandResult> outcomes;
  for (const json& result : results) {
    if (!result.is_object())
      continue;
    outcomes.push_back({boolAt(result, "success"), stringAt(result, "error")});
  }
  return outcomes;
}

std::optional<std::vector<SwayWindow>> SwayIpc::windows() {
  auto reply = exchange(Message::getTree, "");
  if (!reply)
    return std::nullopt;
  const json tree = json::parse(*reply, nullptr, /*allow_exceptions=*/false);
  if (!tree.is_object())
    return std::nullopt;
  return windowsIn(tree);
}

std::optional<std::string> SwayIpc::configuration() {
  auto reply = exchange(Message::getConfig, "");
  if (!reply)
    return std::nullopt;
  const json config = json::parse(*reply, nullptr, /*allow_exceptions=*/false);
  if (!config.is_object() || !config.contains("config") || !config["config"].is_string())
    return std::nullopt;
  return stringAt(config, "config");
}

// --- Events ---

std::unique_ptr<SwayIpcEvents> SwayIpcEvents::subscribe(const std::string& path,
                                                        const std::vector<std::string>& events) {
  const int fd = openSocket(path);
  if (fd < 0)
    return nullptr;
  std::unique_ptr<SwayIpcEvents> subscription(new SwayIpcEvents(fd));
  const auto deadline = Clock::now() + SwayIpc::kExchangeBound;
  const auto code = static_cast<std::uint32_t>(SwayIpc::Message::subscribe);
  if (!writeAll(fd, frame(code, json(events).dump()), deadline))
    return nullptr;
  const auto reply = receive(fd, deadline);
  if (!reply || reply->type != code)
    return nullptr;
  const json outcome = json::parse(reply->payload, nullptr, /*allow_exceptions=*/false);
  if (!outcome.is_object() || !boolAt(outcome, "success"))
    return nullptr;
  return subscription;
}

SwayIpcEvents::~SwayIpcEvents() {
  if (fd_ >= 0)
    ::close(fd_);
}

std::optional<std::string> SwayIpcEvents::read() {
  if (fd_ < 0)
    return std::nullopt;
  // The rest of an event follows its first bytes at once.
  auto event = receive(fd_, Clock::now() + SwayIpc::kExchangeBound);
  if (!event) {
    ::close(fd_);
    fd_ = -1;
    return std::nullopt;
  }
  return std::move(event->payload);
}

bool announcesReload(const std::string& event) {
  const json parsed = json::parse(event, nullptr, /*allow_exceptions=*/false);
  return parsed.is_object() && stringAt(parsed, "change") == "reload";
}

}  // namespace lumivane::platform::wayland
