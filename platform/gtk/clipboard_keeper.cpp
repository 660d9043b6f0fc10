#include "platform/gtk/clipboard_keeper.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <set>
#include <string_view>

#include "platform/gtk/unique_fd.h"

namespace lumivane::platform::gtk {
namespace {

using SteadyClock = std::chrono::steady_clock;

constexpr char kMagic[8] = {'L', 'V', 'C', 'L', 'I', 'P', '\0', '\1'};
constexpr std::uint32_t kMaxTargets = 4096;
constexpr std::uint32_t kMaxNameBytes = 4096;

bool writeAll(int fd, const void* data, std::size_t size) {
  const auto* bytes = static_cast<const std::uint8_t*>(data);
  while (size > 0) {
    const ssize_t n = ::write(fd, bytes, size);
    if (n < 0 && errno == EINTR)
      continue;
    if (n <= 0)
      return false;
    bytes += n;
    size -= static_cast<std::size_t>(n);
  }
  return true;
}

template <typename Int>
void putInt(std::string& out, Int value) {
  for (std::size_t i = 0; i < sizeof(Int); ++i)
    out.push_back(static_cast<char>((static_cast<std::uint64_t>(value) >> (8 * i)) & 0xff));
}

bool validName(std::string_view name) {
  return !name.empty() && name.size() <= kMaxNameBytes && name.find('\0') == std::string_view::npos;
}

// Reads exactly what is asked for, never trusting a claimed length beyond
// what is left of the input.
class InputReader {
 public:
  InputReader(int fd, std::uint64_t maxBytes) : fd_(fd), left_(maxBytes) {
    struct stat info {};
    if (::fstat(fd, &info) == 0 && S_ISREG(info.st_mode)) {
      const off_t at = ::lseek(fd, 0, SEEK_CUR);
      if (at >= 0 && info.st_size >= at) {
        left_ = std::min<std::uint64_t>(left_, static_cast<std::uint64_t>(info.st_size - at));
        sizeKnown_ = true;
      }
    }
  }

  bool read(void* into, std::size_t size) {
    if (size > left_)
      return false;
    auto* bytes = static_cast<std::uint8_t*>(into);
    while (size > 0) {
      const ssize_t n = ::read(fd_, bytes, size);
      if (n < 0 && errno == EINTR)
        continue;
      if (n <= 0)
        return false;
      bytes += n;
      size -= static_cast<std::size_t>(n);
      left_ -= static_cast<std::uint64_t>(n);
    }
    return true;
  }

  template <typename Int>
  std::optional<Int> integer() {
    std::uint8_t bytes[sizeof(Int)];
    if (!read(bytes, sizeof bytes))
      return std::nullopt;
    std::uint64_t value = 0;
    for (std::size_t i = 0; i < sizeof(Int); ++i)
      value |= static_cast<std::uint64_t>(bytes[i]) << (8 * i);
    return static_cast<Int>(value);
  }

  std::optional<std::string> name() {
    auto length = integer<std::uint32_t>();
    if (!length || *length == 0 || *length > kMaxNameBytes)
      return std::nullopt;
    std::string name(*length, '\0');
    if (!read(name.data(), name.size()) || !validName(name))
      return std::nullopt;
    return name;
  }

  // Data of a claimed length: in steps for a pipe, so that a false claim
  // costs no more memory than the bytes that really come.
  std::optional<Bytes> data(std::uint64_t length) {
    if (length > left_)
      return std::nullopt;
    Bytes data;
    constexpr std::size_t kStep = 16 << 20;
    while (data.size() < length) {
      const std::size_t at = data.size();
      const std::size_t step = static_cast<std::size_t>(
          sizeKnown_ ? length - at : std::min<std::uint64_t>(length - at, kStep));
      data.resize(at + step);
      if (!read(data.data() + at, step))
        return std::nullopt;
    }
    return data;
  }

  // True at the end of the input (nothing more can be read).
  bool atEnd() {
    std::uint8_t extra = 0;
    for (;;) {
      const ssize_t n = ::read(fd_, &extra, 1);
      if (n < 0 && errno == EINTR)
        continue;
      return n == 0;
    }
  }

 private:
  int fd_;
  std::uint64_t left_;
  bool sizeKnown_ = false;
};

std::optional<std::string> readStatusLine(int fd, SteadyClock::time_point deadline) {
  std::string line;
  for (;;) {
    const auto left =
        std::chrono::ceil<std::chrono::milliseconds>(deadline - SteadyClock::now()).count();
    if (left <= 0)
      return std::nullopt;
    pollfd p{fd, POLLIN, 0};
    const int ready = ::poll(&p, 1, static_cast<int>(std::min<std::int64_t>(left, 60'000)));
    if (ready < 0 && errno == EINTR)
      continue;
    if (ready <= 0)
      continue;  // Timed out: the loop sees the deadline.
    char c = 0;
    const ssize_t n = ::read(fd, &c, 1);
    if (n < 0 && errno == EINTR)
      continue;
    if (n <= 0)
      return std::nullopt;  // The keeper ended without owning the clipboard.
    if (c == '\n')
      return line;
    if (line.size() > 64)
      return std::nullopt;
    line.push_back(c);
  }
}

}  // namespace

bool writeKeeperInput(int fd, const std::vector<NamedTarget>& targets) {
  if (targets.empty() || targets.size() > kMaxTargets)
    return false;
  std::string header(kMagic, sizeof kMagic);
  putInt<std::uint32_t>(header, static_cast<std::uint32_t>(targets.size()));
  if (!writeAll(fd, header.data(), header.size()))
    return false;
  for (const auto& target : targets) {
    if (!validName(target.target) || !validName(target.type) || !target.data ||
        !fitsFormat(target.data->size(), target.format)) {
      return false;
    }
    std::string fields;
    putInt<std::uint32_t>(fields, static_cast<std::uint32_t>(target.target.size()));
    fields += target.target;
    putInt<std::uint32_t>(fields, static_cast<std::uint32_t>(target.type.size()));
    fields += target.type;
    putInt<std::uint8_t>(fields, target.format);
    putInt<std::uint64_t>(fields, target.data->size());
    if (!writeAll(fd, fields.data(), fields.size()) ||
        !writeAll(fd, target.data->data(), target.data->size())) {
      return false;
    }
  }
  return true;
}

std::optional<std::vector<NamedTarget>> readKeeperInput(int fd, std::uint64_t maxBytes) {
  InputReader input(fd, maxBytes);
  char magic[sizeof kMagic];
  if (!input.read(magic, sizeof magic) || std::memcmp(magic, kMagic, sizeof kMagic) != 0)
    return std::nullopt;
  auto count = input.integer<std::uint32_t>();
  if (!count || *count == 0 || *count > kMaxTargets)
    return std::nullopt;
  std::vector<NamedTarget> targets;
  std::set<std::string, std::less<>> seen;
  for (std::uint32_t i = 0; i < *count; ++i) {
    NamedTarget target;
    auto name = input.name();
    auto type = input.name();
    auto format = input.integer<std::uint8_t>();
    auto length = input.integer<std::uint64_t>();
    if (!name || !type || !format || !length || isMetaTarget(*name) || !seen.insert(*name).second ||
        !fitsFormat(*length, *format)) {
      return std::nullopt;
    }
    auto data = input.data(*length);
    if (!data)
      return std::nullopt;
    target.target = std::move(*name);
    target.type = std::move(*type);
    target.format = *format;
    target.data = std::make_shared<const Bytes>(std::move(*data));
    targets.push_back(std::move(target));
  }
  if (!input.atEnd())
    return std::nullopt;
  return targets;
}

std::optional<pid_t> startClipboardKeeper(const std::filesystem::path& keeperPath,
                                          const std::vector<std::string>& arguments,
                                          const std::vector<NamedTarget>& targets,
                                          std::chrono::milliseconds bound) {
  const auto deadline = SteadyClock::now() + bound;
  UniqueFd input(::memfd_create("lumivane-clipboard", MFD_CLOEXEC));
  if (!input || !writeKeeperInput(input.get(), targets) || ::lseek(input.get(), 0, SEEK_SET) != 0)
    return std::nullopt;
  int ends[2];
  if (::pipe2(ends, O_CLOEXEC) != 0)
    return std::nullopt;
  UniqueFd statusRead(ends[0]);
  UniqueFd statusWrite(ends[1]);
  UniqueFd devNull(::open("/dev/null", O_RDWR | O_CLOEXEC));
  if (!devNull)
    return std::nullopt;

  // Everything the new process needs is made before fork: after it, this is
  // a copy of a threaded process and may only make async-signal-safe calls.
  std::vector<std::string> args = {keeperPath.string()};
  args.insert(args.end(), arguments.begin(), arguments.end());
  std::vector<char*> argv;
  for (auto& arg : args)
    argv.push_back(arg.data());
  argv.push_back(nullptr);
  sigset_t noSignals;
  sigemptyset(&noSignals);

  // Forked twice, the keeper belongs to nobody here: it outlives the host
  // and never waits as a zombie for the host to collect it.
  const pid_t child = ::fork();
  if (child < 0)
    return std::nullopt;
  if (child == 0) {
    ::setsid();
    const pid_t keeper = ::fork();
    if (keeper == 0) {
      ::dup2(input.get(), 0);
      ::dup2(statusWrite.get(), 1);
      ::dup2(devNull.get(), 2);
      ::close_range(3, ~0U, 0);
      ::sigprocmask(SIG_SETMASK, &noSignals, nullptr);
      if (::chdir("/") != 0) {
        // Staying in the host's folder keeps it busy, no more.
      }
      ::execve(argv[0], argv.data(), environ);
      ::_exit(127);
    }
    ::_exit(keeper < 0 ? 1 : 0);
  }
  int status = 0;
  while (::waitpid(child, &status, 0) < 0 && errno == EINTR) {
  }
  statusWrite.reset();
  input.reset();
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0)
    return std::nullopt;

  auto line = readStatusLine(statusRead.get(), deadline);
  constexpr std::string_view kOwned = "owned ";
  if (!line || line->rfind(kOwned, 0) != 0)
    return std::nullopt;
  const std::string pid = line->substr(kOwned.size());
  if (pid.empty() || pid.size() > 9 || pid.find_first_not_of("0123456789") != std::string::npos)
    return std::nullopt;
  return static_cast<pid_t>(std::stol(pid));
}

void reportKeeperOwns(int fd) {
  const std::string line = "owned " + std::to_string(::getpid()) + "\n";
  writeAll(fd, line.data(), line.size());
  const int devNull = ::open("/dev/null", O_WRONLY | O_CLOEXEC);
  if (devNull >= 0) {
    ::dup2(devNull, fd);
    ::close(devNull);
  } else {
    ::close(fd);
  }
}

std::optional<KeeperRequest> readKeeperRequest(int argc, char** argv, int inputFd) {
  KeeperRequest request;
  for (int i = 1; i < argc; ++i) {
    const std::string_view arg = argv[i];
    if (arg == "--display" && i + 1 < argc) {
      request.displayName = argv[++i];
    } else if (arg == "--wayland") {
      request.wayland = true;
    } else {
      return std::nullopt;
    }
  }
  auto targets = readKeeperInput(inputFd);
  if (!targets)
    return std::nullopt;
  request.targets = std::move(*targets);
  return request;
}

std::optional<std::filesystem::path> findClipboardKeeper(const std::filesystem::path& executable) {
  const auto folder = executable.parent_path();
  for (const auto& candidate :
       {folder / "lumivane-clipboard-keeper",
        folder / ".." / "libexec" / "lumivane" / "lumivane-clipboard-keeper"}) {
    std::error_code error;
    if (std::filesystem::is_regular_file(candidate, error))
      return candidate.lexically_normal();
  }
  return std::nullopt;
}

}  // namespace lumivane::platform::gtk
