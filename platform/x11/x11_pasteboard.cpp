#include "platform/x11/x11_pasteboard.h"

#include <signal.h>
#include <sys/eventfd.h>
#include <xcb/xfixes.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <functional>
#include <thread>

#include "platform/utf8.h"
#include "platform/x11/x11_clipboard_keeper.h"

namespace lumivane::platform::x11 {
namespace {

constexpr char kSeparator = '\x1f';
constexpr const char* kUtf8String = "UTF8_STRING";
constexpr const char* kUtf8Plain = "text/plain;charset=utf-8";
constexpr const char* kLatin1String = "STRING";
constexpr const char* kText = "TEXT";
// Where text is looked for, in order of preference.
constexpr std::array<const char*, 3> kTextTargets = {kUtf8String, kUtf8Plain, kLatin1String};

bool isText(const std::string& type) {
  return type == NSPasteboardTypeString;
}

// The text in Latin-1 when every character is in it.
std::optional<Bytes> toLatin1(const std::string& utf8) {
  Bytes latin1;
  latin1.reserve(utf8.size());
  for (std::size_t i = 0; i < utf8.size(); ++i) {
    const auto byte = static_cast<std::uint8_t>(utf8[i]);
    if (byte < 0x80) {
      latin1.push_back(byte);
    } else if ((byte == 0xC2 || byte == 0xC3) && i + 1 < utf8.size()) {
      latin1.push_back(static_cast<std::uint8_t>(((byte & 0x03) << 6) |
                                                 (static_cast<std::uint8_t>(utf8[++i]) & 0x3F)));
    } else {
      return std::nullopt;
    }
  }
  return latin1;
}

std::string fromLatin1(const Bytes& latin1) {
  std::string utf8;
  utf8.reserve(latin1.size() + latin1.size() / 8);
  for (std::uint8_t byte : latin1) {
    if (byte < 0x80) {
      utf8.push_back(static_cast<char>(byte));
    } else {
      utf8.push_back(static_cast<char>(0xC0 | (byte >> 6)));
      utf8.push_back(static_cast<char>(0x80 | (byte & 0x3F)));
    }
  }
  return utf8;
}

// Text from bytes a text target came in: STRING is Latin-1, the rest must be
// UTF-8.
std::optional<std::string> textFrom(const std::string& type,
                                    std::uint8_t format,
                                    const Bytes& data) {
  if (format != 8)
    return std::nullopt;
  if (type == kLatin1String)
    return fromLatin1(data);
  if (!isValidUtf8(data.data(), data.size()))
    return std::nullopt;
  return std::string(data.begin(), data.end());
}

// The targets text is offered under.
std::vector<NamedTarget> textTargets(const std::string& utf8) {
  auto bytes = std::make_shared<const Bytes>(utf8.begin(), utf8.end());
  std::vector<NamedTarget> targets = {{kUtf8String, kUtf8String, 8, bytes},
                                      {kUtf8Plain, kUtf8Plain, 8, bytes}};
  if (auto latin1 = toLatin1(utf8)) {
    auto shared = std::make_shared<const Bytes>(std::move(*latin1));
    targets.push_back({kLatin1String, kLatin1String, 8, shared});
    targets.push_back({kText, kLatin1String, 8, shared});
  } else {
    targets.push_back({kText, kUtf8String, 8, bytes});
  }
  return targets;
}

// What a type string with `data` offers; absent when it cannot be offered.
std::optional<std::vector<NamedTarget>> targetsFor(const std::string& type,
                                                   const std::shared_ptr<const Bytes>& data) {
  if (isText(type)) {
    if (!isValidUtf8(data->data(), data->size()))
      return std::nullopt;
    return textTargets(std::string(data->begin(), data->end()));
  }
  auto parsed = parseTypeString(type);
  if (!parsed || isMetaTarget(parsed->target) || !fitsFormat(data->size(), parsed->format))
    return std::nullopt;
  return std::vector<NamedTarget>{{parsed->target, parsed->type, parsed->format, data}};
}

}  // namespace

std::string typeString(const std::string& target, const std::string& type, std::uint8_t format) {
  if (type == target && format == 8)
    return target;
  return target + kSeparator + type + kSeparator + std::to_string(format);
}

std::optional<TargetSpec> parseTypeString(const std::string& typeString) {
  if (typeString.empty())
    return std::nullopt;
  const auto first = typeString.find(kSeparator);
  const auto second =
      first == std::string::npos ? std::string::npos : typeString.find(kSeparator, first + 1);
  if (second != std::string::npos && typeString.find(kSeparator, second + 1) == std::string::npos) {
    TargetSpec parsed{typeString.substr(0, first), typeString.substr(first + 1, second - first - 1),
                      0};
    const std::string format = typeString.substr(second + 1);
    if (format == "8" || format == "16" || format == "32")
      parsed.format = static_cast<std::uint8_t>(std::stoi(format));
    if (parsed.format != 0 && !parsed.target.empty() && !parsed.type.empty())
      return parsed;
  }
  return TargetSpec{typeString, typeString, 8};
}

namespace detail {

// The pasteboard's thread and everything it alone touches: the connection,
// the window, the clipboard's owner and reader, and the contents the host
// has written. The seam's calls reach it through call().
class PasteboardCore {
 public:
  struct ListResult {
    enum class Kind { nobody, ours, theirs } kind = Kind::nobody;
    Listing listing;
  };
  struct TargetRead {
    Converted::Outcome outcome = Converted::Outcome::failed;
    std::string type;
    std::uint8_t format = 0;
    Bytes data;
  };
  struct HandOffState {
    enum class Kind { notOwner, saved, owner } kind = Kind::notOwner;
    std::vector<NamedTarget> targets;
    bool managerRuns = false;
    std::uint64_t generation = 0;
  };

  PasteboardCore(std::unique_ptr<SelectionWindow> window,
                 const X11Pasteboard::Bounds& bounds,
                 std::uint8_t ownerChangeEvent);
  ~PasteboardCore();
  PasteboardCore(const PasteboardCore&) = delete;
  PasteboardCore& operator=(const PasteboardCore&) = delete;

  bool start();
  void stop();

  // Blocking operations, for any thread but the loop's.
  std::optional<ListResult> list();
  TargetRead readTarget(const std::string& target, xcb_timestamp_t time, std::int64_t count);
  std::optional<std::string> readText(std::optional<Listing> context);
  std::optional<std::string> readTargetText(const std::string& target);
  std::int64_t clear();
  bool write(std::vector<std::vector<NamedTarget>> items);
  // Puts `targets` in the first item in place of those named `replaced`.
  bool setString(std::vector<NamedTarget> targets, std::vector<std::string> replaced);
  std::int64_t changeCount();
  HandOffState handOffState();
  bool askManagerToSave(std::uint64_t generation);
  bool ownsClipboard();

 private:
  using Task = std::function<void(bool alive)>;
  template <typename T>
  using Complete = std::function<void(T)>;

  // Runs `begin` on the loop and waits until it (or what it started) calls
  // its completion; `fallback` when the loop has stopped.
  template <typename T>
  T call(T fallback, std::function<void(Complete<T>)> begin);
  bool post(Task task);
  void run();
  bool runTasks();
  void dispatch(const xcb_generic_event_t& event);
  void ownerChanged(const xcb_generic_event_t& event);

  // Loop thread only, from here on.
  // Handles everything the server has sent until now.
  void catchUp();
  bool weOwn() const { return owner_.owns(); }
  // Whether another client owns the clipboard now.
  bool anotherOwns();
  std::string nameOf(xcb_atom_t atom);
  std::vector<NamedTarget> named(const OfferedTargets& offered);
  // Asks the server for the names of those `atoms` not known yet.
  void learnNames(const std::vector<xcb_atom_t>& atoms);
  std::optional<OfferedTargets> resolve(const std::vector<NamedTarget>& targets);
  bool claimWith(std::vector<OfferedTargets> items);
  void publish() { published_.store(changeCount_, std::memory_order_release); }
  std::optional<std::string> ownText(const std::vector<std::string>& candidates, bool anyType);
  void readOne(xcb_atom_t target, xcb_timestamp_t time, Complete<TargetRead> complete);
  void tryText(std::size_t index,
               xcb_timestamp_t time,
               Complete<std::optional<std::string>> complete);

  std::unique_ptr<SelectionWindow> window_;
  X11Pasteboard::Bounds bounds_;
  const std::uint8_t ownerChangeEvent_;
  xcb_atom_t clipboard_, manager_, saveTargets_, targetsAtom_;
  SelectionOwner owner_;
  SelectionReader reader_;
  UniqueFd wake_;
  std::thread thread_;
  // The loop's thread, kept apart from thread_, which stop() changes while
  // other threads may still ask.
  std::thread::id loopThread_;
  std::atomic<bool> stopping_{false};
  std::atomic<std::int64_t> published_{0};

  std::mutex tasksMutex_;
  std::deque<Task> tasks_;
  bool accepting_ = true;

  std::int64_t changeCount_ = 0;
  // Claims of ours whose owner-change reports are still to come; those
  // reports are not changes the count has missed.
  std::deque<xcb_timestamp_t> ownClaims_;
  std::vector<OfferedTargets> written_;
  std::uint64_t generation_ = 0;
  std::optional<std::uint64_t> savedGeneration_;
  std::map<xcb_atom_t, std::string> names_;
};

PasteboardCore::PasteboardCore(std::unique_ptr<SelectionWindow> window,
                               const X11Pasteboard::Bounds& bounds,
                               std::uint8_t ownerChangeEvent)
    : window_(std::move(window)),
      bounds_(bounds),
      ownerChangeEvent_(ownerChangeEvent),
      clipboard_(window_->connection().atom("CLIPBOARD")),
      manager_(window_->connection().atom("CLIPBOARD_MANAGER")),
      saveTargets_(window_->connection().atom("SAVE_TARGETS")),
      targetsAtom_(window_->connection().atom("TARGETS")),
      owner_(*window_, clipboard_, bounds.serving),
      reader_(*window_, bounds.reading),
      wake_(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {}

PasteboardCore::~PasteboardCore() {
  stop();
}

bool PasteboardCore::start() {
  if (!wake_)
    return false;
  thread_ = std::thread([this] { run(); });
  loopThread_ = thread_.get_id();
  return true;
}

void PasteboardCore::stop() {
  if (!thread_.joinable())
    return;
  stopping_.store(true);
  const std::uint64_t one = 1;
  [[maybe_unused]] const ssize_t written = ::write(wake_.get(), &one, sizeof one);
  thread_.join();
}

template <typename T>
T PasteboardCore::call(T fallback, std::function<void(Complete<T>)> begin) {
  struct Waiter {
    std::mutex mutex;
    std::condition_variable done;
    std::optional<T> value;
  };
  if (std::this_thread::get_id() == loopThread_)
    return fallback;  // It would wait for itself.
  auto waiter = std::make_shared<Waiter>();
  Complete<T> complete = [waiter](T value) {
    std::lock_guard lock(waiter->mutex);
    if (waiter->value)
      return;
    waiter->value.emplace(std::move(value));
    waiter->done.notify_all();
  };
  const bool posted = post([begin = std::move(begin), complete, fallback](bool alive) mutable {
    if (alive)
      begin(complete);
    else
      complete(std::move(fallback));
  });
  if (!posted)
    return fallback;
  std::unique_lock lock(waiter->mutex);
  waiter->done.wait(lock, [&] { return waiter->value.has_value(); });
  return std::move(*waiter->value);
}

bool PasteboardCore::post(Task task) {
  {
    std::lock_guard lock(tasksMutex_);
    if (!accepting_)
      return false;
    tasks_.push_back(std::move(task));
  }
  const std::uint64_t one = 1;
  [[maybe_unused]] const ssize_t written = ::write(wake_.get(), &one, sizeof one);
  return true;
}

bool PasteboardCore::runTasks() {
  std::deque<Task> tasks;
  {
    std::lock_guard lock(tasksMutex_);
    tasks.swap(tasks_);
  }
  for (auto& task : tasks)
    task(true);
  return !tasks.empty();
}

void PasteboardCore::run() {
  // A server that goes away must end this loop, not the host: with SIGPIPE
  // blocked here, writing to its closed socket fails instead.
  sigset_t pipeSignal;
  sigemptyset(&pipeSignal);
  sigaddset(&pipeSignal, SIGPIPE);
  pthread_sigmask(SIG_BLOCK, &pipeSignal, nullptr);

  while (!stopping_.load()) {
    bool busy = runTasks();
    while (auto event = window_->nextEvent()) {
      dispatch(*event);
      busy = true;
    }
    const auto now = SteadyClock::now();
    reader_.expire(now);
    owner_.expire(now);
    if (!window_->alive())
      break;
    if (busy)
      continue;
    std::optional<SteadyClock::time_point> next = reader_.nextDeadline();
    if (auto due = owner_.nextDeadline(); due && (!next || *due < *next))
      next = due;
    window_->wait(next, wake_.get());
    std::uint64_t count = 0;
    [[maybe_unused]] const ssize_t read = ::read(wake_.get(), &count, sizeof count);
  }
  reader_.failAll();
  std::deque<Task> left;
  {
    std::lock_guard lock(tasksMutex_);
    accepting_ = false;
    left.swap(tasks_);
  }
  for (auto& task : left)
    task(false);
}

void PasteboardCore::dispatch(const xcb_generic_event_t& event) {
  if (eventKind(event) == ownerChangeEvent_) {
    ownerChanged(event);
    return;
  }
  if (!owner_.handle(event))
    reader_.handle(event);
}

void PasteboardCore::ownerChanged(const xcb_generic_event_t& event) {
  const auto& change = reinterpret_cast<const xcb_xfixes_selection_notify_event_t&>(event);
  if (change.selection != clipboard_)
    return;
  if (change.subtype == XCB_XFIXES_SELECTION_EVENT_SET_SELECTION_OWNER &&
      change.owner == window_->window()) {
    auto it = std::find(ownClaims_.begin(), ownClaims_.end(), change.selection_timestamp);
    if (it != ownClaims_.end()) {
      ownClaims_.erase(it);
      return;
    }
  }
  ++changeCount_;
  publish();
}

void PasteboardCore::catchUp() {
  if (!window_->sync())
    return;
  while (auto event = window_->nextEvent())
    dispatch(*event);
}

bool PasteboardCore::anotherOwns() {
  const xcb_window_t owner = window_->ownerOf(clipboard_);
  return owner != XCB_WINDOW_NONE && !(owner == window_->window() && weOwn());
}

std::string PasteboardCore::nameOf(xcb_atom_t atom) {
  if (auto it = names_.find(atom); it != names_.end())
    return it->second;
  std::string name = window_->connection().atomName(atom);
  if (!name.empty())
    names_.emplace(atom, name);
  return name;
}

void PasteboardCore::learnNames(const std::vector<xcb_atom_t>& atoms) {
  std::vector<xcb_atom_t> unknown;
  for (xcb_atom_t atom : atoms) {
    if (!names_.count(atom))
      unknown.push_back(atom);
  }
  // One round trip for all of them.
  const auto names = window_->connection().atomNames(unknown);
  for (std::size_t i = 0; i < unknown.size(); ++i) {
    if (!names[i].empty())
      names_.emplace(unknown[i], names[i]);
  }
}

std::vector<NamedTarget> PasteboardCore::named(const OfferedTargets& offered) {
  std::vector<xcb_atom_t> atoms;
  for (const auto& target : offered) {
    atoms.push_back(target.target);
    atoms.push_back(target.type);
  }
  learnNames(atoms);
  std::vector<NamedTarget> result;
  for (const auto& target : offered)
    result.push_back({nameOf(target.target), nameOf(target.type), target.format, target.data});
  return result;
}

std::optional<OfferedTargets> PasteboardCore::resolve(const std::vector<NamedTarget>& targets) {
  std::vector<std::string> names;
  for (const auto& target : targets) {
    names.push_back(target.target);
    names.push_back(target.type);
  }
  const auto atoms = window_->connection().atoms(names);
  OfferedTargets resolved;
  for (std::size_t i = 0; i < targets.size(); ++i) {
    if (atoms[2 * i] == XCB_ATOM_NONE || atoms[2 * i + 1] == XCB_ATOM_NONE)
      return std::nullopt;
    resolved.push_back({atoms[2 * i], atoms[2 * i + 1], targets[i].format, targets[i].data});
  }
  return resolved;
}

bool PasteboardCore::claimWith(std::vector<OfferedTargets> items) {
  // X has one item: the first item's targets, then what later items add.
  auto offered = std::make_shared<OfferedTargets>();
  for (const auto& item : items) {
    for (const auto& target : item) {
      const bool known = std::any_of(offered->begin(), offered->end(), [&](const OfferedTarget& t) {
        return t.target == target.target;
      });
      if (!known)
        offered->push_back(target);
    }
  }
  const auto time = window_->serverTime();
  if (!time || !owner_.claim(std::move(offered), *time))
    return false;
  written_ = std::move(items);
  ++generation_;
  ownClaims_.push_back(*time);
  if (ownClaims_.size() > 32)
    ownClaims_.pop_front();
  ++changeCount_;
  publish();
  return true;
}

std::optional<std::string> PasteboardCore::ownText(const std::vector<std::string>& candidates,
                                                   bool anyType) {
  const auto& offered = owner_.offered();
  if (!offered)
    return std::nullopt;
  for (const auto& candidate : candidates) {
    const xcb_atom_t atom = window_->connection().atom(candidate);
    for (const auto& target : *offered) {
      if (target.target != atom || !target.data)
        continue;
      const std::string type = nameOf(target.type);
      auto text = anyType
                      ? (target.format == 8 && isValidUtf8(target.data->data(), target.data->size())
                             ? std::optional<std::string>(
                                   std::string(target.data->begin(), target.data->end()))
                             : std::nullopt)
                      : textFrom(type, target.format, *target.data);
      if (text)
        return text;
    }
  }
  return std::nullopt;
}

void PasteboardCore::readOne(xcb_atom_t target,
                             xcb_timestamp_t time,
                             Complete<TargetRead> complete) {
  reader_.convert(clipboard_, target, time, [this, complete](Converted converted) {
    TargetRead read;
    read.outcome = converted.outcome;
    if (converted.outcome == Converted::Outcome::data && converted.format != 0) {
      read.type = nameOf(converted.type);
      read.format = converted.format;
      read.data = std::move(converted.data);
    } else if (converted.outcome == Converted::Outcome::data) {
      read.outcome = Converted::Outcome::failed;  // Said it converted, put nothing there.
    }
    complete(std::move(read));
  });
}

void PasteboardCore::tryText(std::size_t index,
                             xcb_timestamp_t time,
                             Complete<std::optional<std::string>> complete) {
  const xcb_atom_t target = window_->connection().atom(kTextTargets[index]);
  readOne(target, time, [this, index, time, complete](TargetRead read) {
    if (read.outcome == Converted::Outcome::data) {
      if (auto text = textFrom(read.type, read.format, read.data)) {
        complete(std::move(text));
        return;
      }
    }
    // An owner that has stopped answering is not asked again.
    if (read.outcome == Converted::Outcome::timedOut || index + 1 == kTextTargets.size()) {
      complete(std::nullopt);
      return;
    }
    tryText(index + 1, time, complete);
  });
}

// --- Operations ---

std::optional<PasteboardCore::ListResult> PasteboardCore::list() {
  return call<std::optional<ListResult>>(std::nullopt, [this](auto complete) {
    catchUp();
    const xcb_window_t owner = window_->ownerOf(clipboard_);
    if (owner == XCB_WINDOW_NONE) {
      complete(ListResult{});
      return;
    }
    if (owner == window_->window() && weOwn()) {
      ListResult result{ListResult::Kind::ours, {}};
      result.listing.served = named(*owner_.offered());
      result.listing.changeCount = changeCount_;
      complete(std::move(result));
      return;
    }
    const auto time = window_->serverTime();
    if (!time) {
      complete(std::nullopt);
      return;
    }
    const std::int64_t count = changeCount_;
    reader_.convert(clipboard_, targetsAtom_, *time, [this, complete, time, count](Converted c) {
      // Some owners type the list TARGETS instead of ATOM.
      if (c.outcome != Converted::Outcome::data || c.format != 32 ||
          (c.type != XCB_ATOM_ATOM && c.type != targetsAtom_)) {
        complete(std::nullopt);
        return;
      }
      std::vector<xcb_atom_t> atoms(c.data.size() / 4);
      std::memcpy(atoms.data(), c.data.data(), atoms.size() * 4);
      atoms.erase(std::remove(atoms.begin(), atoms.end(), XCB_ATOM_NONE), atoms.end());
      learnNames(atoms);
      ListResult result{ListResult::Kind::theirs, {}};
      result.listing.time = *time;
      result.listing.changeCount = count;
      for (xcb_atom_t atom : atoms) {
        auto it = names_.find(atom);
        if (it == names_.end() || isMetaTarget(it->second))
          continue;
        auto& targets = result.listing.targets;
        if (std::find(targets.begin(), targets.end(), it->second) == targets.end())
          targets.push_back(it->second);
      }
      complete(std::move(result));
    });
  });
}

PasteboardCore::TargetRead PasteboardCore::readTarget(const std::string& target,
                                                      xcb_timestamp_t time,
                                                      std::int64_t count) {
  return call<TargetRead>(TargetRead{}, [this, target, time, count](auto complete) {
    catchUp();
    // Once the clipboard has changed, this listing's data is gone.
    if (changeCount_ != count) {
      complete(TargetRead{});
      return;
    }
    // The owner asked is the one that listed the target: a later owner
    // would only get requests made after it took the clipboard.
    readOne(window_->connection().atom(target), time, complete);
  });
}

std::optional<std::string> PasteboardCore::readText(std::optional<Listing> context) {
  return call<std::optional<std::string>>(std::nullopt, [this, context](auto complete) {
    catchUp();
    if (context && changeCount_ != context->changeCount) {
      complete(std::nullopt);
      return;
    }
    const xcb_window_t owner = window_->ownerOf(clipboard_);
    if (owner == XCB_WINDOW_NONE) {
      complete(std::nullopt);
      return;
    }
    if (owner == window_->window() && weOwn()) {
      complete(ownText({kTextTargets.begin(), kTextTargets.end()}, /*anyType=*/false));
      return;
    }
    const auto time =
        context ? std::optional<xcb_timestamp_t>(context->time) : window_->serverTime();
    if (!time) {
      complete(std::nullopt);
      return;
    }
    tryText(0, *time, complete);
  });
}

std::optional<std::string> PasteboardCore::readTargetText(const std::string& target) {
  return call<std::optional<std::string>>(std::nullopt, [this, target](auto complete) {
    catchUp();
    const xcb_window_t owner = window_->ownerOf(clipboard_);
    if (owner == XCB_WINDOW_NONE) {
      complete(std::nullopt);
      return;
    }
    if (owner == window_->window() && weOwn()) {
      complete(ownText({target}, /*anyType=*/true));
      return;
    }
    const auto time = window_->serverTime();
    if (!time) {
      complete(std::nullopt);
      return;
    }
    readOne(window_->connection().atom(target), *time, [complete](TargetRead read) {
      if (read.outcome != Converted::Outcome::data || read.format != 8 ||
          !isValidUtf8(read.data.data(), read.data.size())) {
        complete(std::nullopt);
        return;
      }
      complete(std::string(read.data.begin(), read.data.end()));
    });
  });
}

std::int64_t PasteboardCore::clear() {
  return call<std::int64_t>(published_.load(), [this](auto complete) {
    catchUp();
    claimWith({});
    complete(changeCount_);
  });
}

bool PasteboardCore::write(std::vector<std::vector<NamedTarget>> items) {
  return call<bool>(false, [this, items = std::move(items)](auto complete) {
    catchUp();
    // Another client's clipboard the host has not cleared stays as it is.
    if (anotherOwns()) {
      complete(false);
      return;
    }
    std::vector<OfferedTargets> all = weOwn() ? written_ : std::vector<OfferedTargets>{};
    for (const auto& item : items) {
      auto resolved = resolve(item);
      if (!resolved) {
        complete(false);
        return;
      }
      all.push_back(std::move(*resolved));
    }
    complete(claimWith(std::move(all)));
  });
}

bool PasteboardCore::setString(std::vector<NamedTarget> targets,
                               std::vector<std::string> replaced) {
  return call<bool>(false, [this, targets = std::move(targets),
                            replaced = std::move(replaced)](auto complete) {
    catchUp();
    if (anotherOwns()) {
      complete(false);
      return;
    }
    auto resolved = resolve(targets);
    const auto gone = window_->connection().atoms(replaced);
    if (!resolved) {
      complete(false);
      return;
    }
    // Into the first item, as setString:forType: does, in place of what the
    // same type put there before.
    std::vector<OfferedTargets> all = weOwn() ? written_ : std::vector<OfferedTargets>{};
    if (all.empty())
      all.emplace_back();
    auto& first = all.front();
    first.erase(std::remove_if(first.begin(), first.end(),
                               [&](const OfferedTarget& t) {
                                 return std::find(gone.begin(), gone.end(), t.target) != gone.end();
                               }),
                first.end());
    for (auto& target : *resolved)
      first.push_back(std::move(target));
    complete(claimWith(std::move(all)));
  });
}

std::int64_t PasteboardCore::changeCount() {
  return call<std::int64_t>(published_.load(), [this](auto complete) {
    catchUp();
    complete(changeCount_);
  });
}

PasteboardCore::HandOffState PasteboardCore::handOffState() {
  return call<HandOffState>(HandOffState{}, [this](auto complete) {
    catchUp();
    HandOffState state;
    if (!weOwn() || !owner_.offered() || owner_.offered()->empty()) {
      complete(std::move(state));
      return;
    }
    if (savedGeneration_ == generation_) {
      state.kind = HandOffState::Kind::saved;
      complete(std::move(state));
      return;
    }
    state.kind = HandOffState::Kind::owner;
    state.targets = named(*owner_.offered());
    state.managerRuns = window_->ownerOf(manager_) != XCB_WINDOW_NONE;
    state.generation = generation_;
    complete(std::move(state));
  });
}

bool PasteboardCore::askManagerToSave(std::uint64_t generation) {
  return call<bool>(false, [this, generation](auto complete) {
    const auto time = window_->serverTime();
    if (!time || !weOwn() || generation != generation_) {
      complete(false);
      return;
    }
    // The manager is told which targets to save; it then reads them from us
    // and answers once it has them.
    XProperty wanted;
    wanted.type = XCB_ATOM_ATOM;
    wanted.format = 32;
    for (const auto& target : *owner_.offered()) {
      const auto* bytes = reinterpret_cast<const std::uint8_t*>(&target.target);
      wanted.data.insert(wanted.data.end(), bytes, bytes + sizeof target.target);
    }
    reader_.convert(
        manager_, saveTargets_, *time,
        [this, generation, complete](Converted converted) {
          const bool saved = converted.outcome == Converted::Outcome::data;
          if (saved)
            savedGeneration_ = generation;
          complete(saved);
        },
        &wanted, bounds_.clipboardManager);
  });
}

bool PasteboardCore::ownsClipboard() {
  return call<bool>(false, [this](auto complete) {
    catchUp();
    complete(weOwn());
  });
}

}  // namespace detail

// --- X11PasteboardItem ---

X11PasteboardItem::X11PasteboardItem(std::shared_ptr<detail::PasteboardCore> core)
    : core_(std::move(core)), fromClipboard_(false) {}

X11PasteboardItem::X11PasteboardItem(std::shared_ptr<detail::PasteboardCore> core,
                                     detail::Listing listing)
    : core_(std::move(core)), fromClipboard_(true), listing_(std::move(listing)) {
  // The host's own contents are known whole.
  for (const auto& served : listing_.served) {
    Read read;
    read.type = served.type;
    read.format = served.format;
    read.shared = served.data;
    read_.emplace(served.target, std::move(read));
  }
  if (!listing_.served.empty())
    allRead_ = true;
}

bool X11PasteboardItem::readLocked(const std::string& target) const {
  auto read = core_->readTarget(target, listing_.time, listing_.changeCount);
  Read entry;
  if (read.outcome == Converted::Outcome::data) {
    entry.type = std::move(read.type);
    entry.format = read.format;
    entry.owned = std::move(read.data);
  } else {
    entry.unreadable = true;
  }
  read_.insert_or_assign(target, std::move(entry));
  return read.outcome != Converted::Outcome::timedOut;
}

std::vector<std::string> X11PasteboardItem::types() const {
  std::vector<std::string> types;
  if (!fromClipboard_) {
    std::lock_guard lock(mutex_);
    for (const auto& [type, data] : written_)
      types.push_back(type);
    return types;
  }
  std::lock_guard lock(mutex_);
  if (!allRead_) {
    bool answering = true;
    for (const auto& target : listing_.targets) {
      if (read_.count(target))
        continue;
      if (answering)
        answering = readLocked(target);
      else
        read_[target].unreadable = true;
    }
    allRead_ = true;
  }
  auto list = [&](const std::string& target) {
    auto it = read_.find(target);
    if (it == read_.end() || it->second.unreadable)
      types.push_back(target);
    else
      types.push_back(typeString(target, it->second.type, it->second.format));
  };
  for (const auto& target : listing_.targets)
    list(target);
  for (const auto& served : listing_.served)
    list(served.target);
  return types;
}

std::optional<Bytes> X11PasteboardItem::dataForType(const std::string& type) const {
  if (!fromClipboard_) {
    std::lock_guard lock(mutex_);
    for (const auto& [written, data] : written_) {
      if (written == type)
        return *data;
    }
    return std::nullopt;
  }
  if (isText(type)) {
    std::optional<std::string> text;
    if (!listing_.served.empty()) {
      for (const char* candidate : kTextTargets) {
        auto it = std::find_if(listing_.served.begin(), listing_.served.end(),
                               [&](const NamedTarget& t) { return t.target == candidate; });
        if (it != listing_.served.end() && (text = textFrom(it->type, it->format, *it->data)))
          break;
      }
    } else {
      text = core_->readText(listing_);
    }
    if (!text)
      return std::nullopt;
    return Bytes(text->begin(), text->end());
  }
  const auto parsed = parseTypeString(type);
  if (!parsed)
    return std::nullopt;
  const bool listed = std::find(listing_.targets.begin(), listing_.targets.end(), parsed->target) !=
                          listing_.targets.end() ||
                      std::any_of(listing_.served.begin(), listing_.served.end(),
                                  [&](const NamedTarget& t) { return t.target == parsed->target; });
  if (!listed)
    return std::nullopt;
  std::lock_guard lock(mutex_);
  auto it = read_.find(parsed->target);
  // Read when first asked for, and again once handed over.
  if (it == read_.end() || (!it->second.unreadable && !it->second.shared && !it->second.owned)) {
    readLocked(parsed->target);
    it = read_.find(parsed->target);
  }
  Read& read = it->second;
  if (read.unreadable)
    return std::nullopt;
  if (read.shared)
    return *read.shared;
  Bytes data = std::move(*read.owned);
  read.owned.reset();
  return data;
}

bool X11PasteboardItem::setDataForType(Bytes data, const std::string& type) {
  if (fromClipboard_)
    return false;
  auto shared = std::make_shared<const Bytes>(std::move(data));
  if (!targetsFor(type, shared))
    return false;
  std::lock_guard lock(mutex_);
  auto it = std::find_if(written_.begin(), written_.end(),
                         [&](const auto& entry) { return entry.first == type; });
  if (it != written_.end())
    it->second = std::move(shared);
  else
    written_.emplace_back(type, std::move(shared));
  return true;
}

std::optional<std::vector<std::pair<std::string, std::shared_ptr<const Bytes>>>>
X11PasteboardItem::written() const {
  if (fromClipboard_)
    return std::nullopt;
  std::lock_guard lock(mutex_);
  return written_;
}

// --- X11Pasteboard ---

std::unique_ptr<X11Pasteboard> X11Pasteboard::open(Options options, std::string* error) {
  auto window = SelectionWindow::open(options.displayName, error);
  if (!window)
    return nullptr;
  const auto ownerChange = window->watchOwner(window->connection().atom("CLIPBOARD"));
  if (!ownerChange) {
    if (error)
      *error = "the X server cannot report clipboard changes (no XFixes)";
    return nullptr;
  }
  auto core =
      std::make_shared<detail::PasteboardCore>(std::move(window), options.bounds, *ownerChange);
  if (!core->start()) {
    if (error)
      *error = "cannot start the clipboard's thread";
    return nullptr;
  }
  return std::make_unique<X11Pasteboard>(std::move(options), std::move(core));
}

X11Pasteboard::X11Pasteboard(Options options, std::shared_ptr<detail::PasteboardCore> core)
    : options_(std::move(options)), core_(std::move(core)) {}

X11Pasteboard::~X11Pasteboard() {
  if (options_.handOffWhenDestroyed)
    handOffBeforeExit();
  core_->stop();
}

std::optional<std::vector<std::shared_ptr<PasteboardItem>>> X11Pasteboard::pasteboardItems() {
  auto result = core_->list();
  if (!result)
    return std::nullopt;
  std::vector<std::shared_ptr<PasteboardItem>> items;
  if (!result->listing.targets.empty() || !result->listing.served.empty())
    items.push_back(std::make_shared<X11PasteboardItem>(core_, std::move(result->listing)));
  return items;
}

std::int64_t X11Pasteboard::clearContents() {
  return core_->clear();
}

bool X11Pasteboard::writeObjects(const std::vector<std::shared_ptr<PasteboardItem>>& items) {
  std::vector<std::vector<NamedTarget>> contents;
  for (const auto& item : items) {
    // Only new items of this kind can be written, as on macOS.
    const auto* ours = dynamic_cast<const X11PasteboardItem*>(item.get());
    const auto written = ours ? ours->written() : std::nullopt;
    if (!written)
      return false;
    std::vector<NamedTarget> targets;
    for (const auto& [type, data] : *written) {
      auto offered = targetsFor(type, data);
      if (!offered)
        return false;
      for (auto& target : *offered) {
        const bool known = std::any_of(targets.begin(), targets.end(), [&](const NamedTarget& t) {
          return t.target == target.target;
        });
        if (!known)
          targets.push_back(std::move(target));
      }
    }
    if (!targets.empty())
      contents.push_back(std::move(targets));
  }
  if (contents.empty())
    return true;
  return core_->write(std::move(contents));
}

std::optional<std::string> X11Pasteboard::stringForType(const std::string& type) {
  if (isText(type))
    return core_->readText(std::nullopt);
  auto parsed = parseTypeString(type);
  if (!parsed)
    return std::nullopt;
  return core_->readTargetText(parsed->target);
}

bool X11Pasteboard::setStringForType(const std::string& string, const std::string& type) {
  if (!isValidUtf8(string))
    return false;
  auto targets = targetsFor(type, std::make_shared<const Bytes>(string.begin(), string.end()));
  if (!targets)
    return false;
  std::vector<std::string> replaced;
  if (isText(type)) {
    replaced = {kUtf8String, kUtf8Plain, kLatin1String, kText};
  } else {
    for (const auto& target : *targets)
      replaced.push_back(target.target);
  }
  return core_->setString(std::move(*targets), std::move(replaced));
}

std::int64_t X11Pasteboard::changeCount() {
  return core_->changeCount();
}

std::shared_ptr<PasteboardItem> X11Pasteboard::makeItem() {
  return std::make_shared<X11PasteboardItem>(core_);
}

X11Pasteboard::HandOffResult X11Pasteboard::handOffBeforeExit() {
  using Kind = detail::PasteboardCore::HandOffState::Kind;
  auto state = core_->handOffState();
  if (state.kind == Kind::notOwner)
    return {HandOff::notOwner};
  if (state.kind == Kind::saved)
    return {HandOff::savedByManager};
  if (state.managerRuns) {
    if (core_->askManagerToSave(state.generation))
      return {HandOff::savedByManager};
    if (!core_->ownsClipboard())
      return {HandOff::notOwner};
  }
  if (options_.keeperPath.empty())
    return {HandOff::lost};
  const auto pid = startClipboardKeeper(options_.keeperPath, options_.displayName, state.targets,
                                        options_.bounds.keeper);
  // The keeper reports once the server has named it the owner; the notice of
  // that reaches this connection after the report at the latest.
  if (!pid || core_->ownsClipboard())
    return {HandOff::lost};
  return {HandOff::keptByKeeper, *pid};
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

}  // namespace lumivane::platform::x11
