#include "platform/x11/x11_pasteboard_core.h"

#include <xcb/xfixes.h>

#include <algorithm>
#include <cstring>

#include "platform/x11/x11_pasteboard_types.h"

namespace lumivane::platform::x11::detail {

PasteboardCore::PasteboardCore(std::unique_ptr<SelectionWindow> window,
                               xcb_atom_t selection,
                               const X11Pasteboard::Bounds& bounds,
                               std::uint8_t ownerChangeEvent)
    : window_(std::move(window)),
      bounds_(bounds),
      ownerChangeEvent_(ownerChangeEvent),
      selection_(selection),
      manager_(window_->connection().atom("CLIPBOARD_MANAGER")),
      saveTargets_(window_->connection().atom("SAVE_TARGETS")),
      targetsAtom_(window_->connection().atom("TARGETS")),
      owner_(*window_, selection_, bounds.serving),
      reader_(*window_, bounds.reading),
      thread_(*window_, *this) {}

PasteboardCore::~PasteboardCore() {
  stop();
}

void PasteboardCore::dispatch(const xcb_generic_event_t& event) {
  if (eventKind(event) == ownerChangeEvent_) {
    ownerChanged(event);
    return;
  }
  if (!owner_.handle(event)) {
    reader_.handle(event);
    return;
  }
  if (owner_.served() != served_.load(std::memory_order_relaxed)) {
    std::lock_guard lock(servedMutex_);
    served_.store(owner_.served(), std::memory_order_release);
    servedChanged_.notify_all();
  }
}

std::optional<SteadyClock::time_point> PasteboardCore::expire(SteadyClock::time_point now) {
  reader_.expire(now);
  owner_.expire(now);
  std::optional<SteadyClock::time_point> next = reader_.nextDeadline();
  if (auto due = owner_.nextDeadline(); due && (!next || *due < *next))
    next = due;
  return next;
}

void PasteboardCore::ending() {
  reader_.failAll();
  // Other clients may be waiting for answers from the host, which is about
  // to close its connection (some never ask a clipboard again when one goes
  // unanswered). A copy a clipboard manager has saved stays the host's for
  // the manager to take over as the host leaves.
  if (weOwn() && savedGeneration_ == generation_)
    catchUp();
  else
    answerAndLetGo();
  // The answers are handled by the server before the connection closes:
  // closing with events unread may cut off what was sent but not yet read.
  window_->sync();
}

void PasteboardCore::answerAndLetGo() {
  // What has come is answered while the selection is still the host's; what
  // comes until the server has seen it go is refused. From then on the
  // server answers for a selection nobody owns.
  catchUp();
  if (owner_.letGo())
    catchUp();
}

void PasteboardCore::ownerChanged(const xcb_generic_event_t& event) {
  const auto& change = reinterpret_cast<const xcb_xfixes_selection_notify_event_t&>(event);
  if (change.selection != selection_)
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

PasteboardCore::Holder PasteboardCore::holder() {
  catchUp();
  const xcb_window_t owner = window_->ownerOf(selection_);
  if (owner == XCB_WINDOW_NONE)
    return Holder::nobody;
  return owner == window_->window() && weOwn() ? Holder::host : Holder::another;
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
      auto text = anyType ? utf8From(target.format, *target.data)
                          : textFrom(nameOf(target.type), target.format, *target.data);
      if (text)
        return text;
    }
  }
  return std::nullopt;
}

void PasteboardCore::readOne(xcb_atom_t target,
                             xcb_timestamp_t time,
                             Complete<TargetRead> complete) {
  reader_.convert(selection_, target, time, [this, complete](Converted converted) {
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
  return thread_.call<std::optional<ListResult>>(std::nullopt, [this](auto complete) {
    const Holder holder = this->holder();
    if (holder == Holder::nobody) {
      complete(ListResult{});
      return;
    }
    if (holder == Holder::host) {
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
    reader_.convert(selection_, targetsAtom_, *time, [this, complete, time, count](Converted c) {
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
  return thread_.call<TargetRead>(TargetRead{}, [this, target, time, count](auto complete) {
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
  return thread_.call<std::optional<std::string>>(std::nullopt, [this, context](auto complete) {
    const Holder holder = this->holder();
    // Once the clipboard has changed, the listing's text is gone.
    if (holder == Holder::nobody || (context && changeCount_ != context->changeCount)) {
      complete(std::nullopt);
      return;
    }
    if (holder == Holder::host) {
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
  return thread_.call<std::optional<std::string>>(std::nullopt, [this, target](auto complete) {
    const Holder holder = this->holder();
    if (holder != Holder::another) {
      complete(holder == Holder::host ? ownText({target}, /*anyType=*/true) : std::nullopt);
      return;
    }
    const auto time = window_->serverTime();
    if (!time) {
      complete(std::nullopt);
      return;
    }
    readOne(window_->connection().atom(target), *time, [complete](TargetRead read) {
      complete(read.outcome == Converted::Outcome::data ? utf8From(read.format, read.data)
                                                        : std::nullopt);
    });
  });
}

std::int64_t PasteboardCore::clear() {
  return thread_.call<std::int64_t>(published_.load(), [this](auto complete) {
    catchUp();
    claimWith({});
    complete(changeCount_);
  });
}

bool PasteboardCore::write(std::vector<std::vector<NamedTarget>> items) {
  return thread_.call<bool>(false, [this, items = std::move(items)](auto complete) {
    // Another client's clipboard the host has not cleared stays as it is.
    if (holder() == Holder::another) {
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
  return thread_.call<bool>(false, [this, targets = std::move(targets),
                                    replaced = std::move(replaced)](auto complete) {
    if (holder() == Holder::another) {
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
  return thread_.call<std::int64_t>(published_.load(), [this](auto complete) {
    catchUp();
    complete(changeCount_);
  });
}

PasteboardCore::HandOffState PasteboardCore::handOffState() {
  return thread_.call<HandOffState>(HandOffState{}, [this](auto complete) {
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
  return thread_.call<bool>(false, [this, generation](auto complete) {
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

void PasteboardCore::letGo() {
  thread_.call<bool>(false, [this](auto complete) {
    answerAndLetGo();
    complete(true);
  });
}

bool PasteboardCore::waitForServed(std::uint64_t count, std::chrono::milliseconds bound) {
  std::unique_lock lock(servedMutex_);
  return servedChanged_.wait_for(lock, bound, [&] { return served_.load() > count; });
}

bool PasteboardCore::ownsClipboard() {
  return thread_.call<bool>(false, [this](auto complete) {
    catchUp();
    complete(weOwn());
  });
}

}  // namespace lumivane::platform::x11::detail
