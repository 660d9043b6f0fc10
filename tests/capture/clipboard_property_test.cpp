// Random mixes of what the user and the interface do at once (hot-key
// presses, status-item clicks, "getSelection" and "pasteText", switching
// applications, applications that copy slowly or not at all, a permission
// revoked, key events that cannot be made) on the simulated desktop. Whatever the mix, the user's
// clipboard comes back, a capture delivers only what an application copied, a paste pastes host
// text and never the user's, and triggers never pile up.
//
// Hostile schedules add what the host cannot prevent: the delegate released
// while work is pending, the target quitting mid-capture, the hot key and the
// permission changing between steps, floods of hot-key presses, and other
// applications writing to the pasteboard at any moment.

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <iostream>
#include <map>
#include <memory>
#include <random>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "bridge/channel_handlers.h"
#include "platform/flutter/interface_peer.h"
#include "platform/sim/sim_desktop.h"
#include "shell/application_main.h"

namespace lumivane {
namespace {

using platform::EncodableMap;
using platform::EncodableValue;
using platform::kVK_ANSI_C;
using platform::kVK_ANSI_V;
using platform::PeerReply;
using platform::sim::AppProfile;
using platform::sim::CopyBehaviour;
using platform::sim::HotKeyChord;
using platform::sim::SimDesktop;
using platform::sim::SimPasteboardEntry;
using platform::sim::SimPasteboardItemContents;
using platform::sim::SimRunningApplication;

// Raise for a longer soak; each schedule is independent and seeded by its
// index, so a failure names the one seed needed to replay it. Sanitizer
// builds run each schedule many times slower, so they check fewer.
#ifdef LUMIVANE_SANITIZER_BUILD
constexpr int kSchedules = 800;
constexpr int kHostileSchedules = 200;
#else
constexpr int kSchedules = 8000;
constexpr int kHostileSchedules = 2000;
#endif
constexpr std::uint64_t kFirstSeed = 1;

// Chords the interface may ask for as the hot key; the first is the default.
constexpr HotKeyChord kChords[] = {{17, 0x300}, {49, 0x900}, {37, 0x900},
                                   {49, 0x100}, {8, 0x1100}, {0, 0}};
// A flood: this many presses of the hot key within one second.
constexpr int kFloodPresses = 2000;
// How far back from a paste chord another application's write may have
// changed what the chord found: the paste may wait behind a running and a
// waiting capture before its own delay.
constexpr double kPasteWindow = 2 * 1.1 + 0.3 + 0.5;

// What the user had on the clipboard before the first operation.
enum class UserClipboard { rich, imageOnly, empty, noItemList };

// The longest the host may go on touching the pasteboard after the last
// thing anybody did: the capture under way (1 s), then at most one waiting
// capture (1 s), each followed by the pastes that waited for it (0.8 s).
constexpr double kLongestTail = 2 * (1.0 + 0.8) + 0.1;

class Schedule {
 public:
  Schedule(std::uint64_t seed, bool hostile) : rng_(seed), hostile_(hostile) {}

  // Runs the schedule and returns every broken promise, empty when none.
  std::vector<std::string> run() {
    setUp();
    const int actions = 6 + pick(19);
    for (int i = 0; i < actions; ++i) {
      if (hostile_ && pick(100) < 35)
        actHostile();
      else
        act();
      lastActionTime_ = desktop_.now();
      desktop_.advance(kGaps[pick(std::size(kGaps))]);
    }
    if (!desktop_.clock().advanceUntilEmpty(hostile_ ? 120 : 60))
      fail("the host's work never ran out");
    check();
    tearDown();
    return failures_;
  }

  std::string log() const {
    std::ostringstream out;
    for (const auto& line : log_)
      out << "  " << line << "\n";
    return out.str();
  }

 private:
  static constexpr double kGaps[] = {0, 0, 0.01, 0.05, 0.1, 0.15, 0.2, 0.3, 0.5, 0.8, 1.0, 1.5};

  std::size_t pick(std::size_t n) { return static_cast<std::size_t>(rng_() % n); }
  double copyDelay() { return 0.05 * static_cast<double>(pick(20)); }  // 0 .. 0.95 s

  void note(const std::string& what) {
    std::ostringstream line;
    line.precision(3);
    line << std::fixed << desktop_.now() << " " << what;
    log_.push_back(line.str());
  }

  void setUp() {
    // One schedule in five also revokes the permission or makes key events
    // fail now and then.
    faulty_ = pick(5) == 0;
    desktop_.accessibility().setTrusted(true);
    for (int i = 0; i < 3; ++i) {
      const std::string name(1, static_cast<char>('A' + i));
      apps_.push_back(desktop_.addApplication(
          AppProfile{name, "com.example." + name, 201 + i, "sel-" + name, copyDelay()}));
      alive_.push_back(apps_.back());
      selections_.insert("sel-" + name);
    }
    desktop_.bringToFront(apps_[0]);
    desktop_.runUntilIdle();

    mode_ = static_cast<UserClipboard>(pick(4));
    auto& pasteboard = desktop_.generalPasteboard();
    switch (mode_) {
      case UserClipboard::rich:
      case UserClipboard::noItemList:
        userClipboard_ = {{SimPasteboardEntry::text("{\\rtf1 user}", platform::NSPasteboardTypeRTF),
                           SimPasteboardEntry::text("user's clipboard")},
                          {{platform::NSPasteboardTypePNG, platform::sim::samplePngBytes()}}};
        break;
      case UserClipboard::imageOnly:
        userClipboard_ = {{{platform::NSPasteboardTypePNG, platform::sim::samplePngBytes()}}};
        break;
      case UserClipboard::empty:
        break;
    }
    pasteboard.setContents(userClipboard_);
    pasteboard.setReportsNoItemList(mode_ == UserClipboard::noItemList);
    note("user clipboard mode " + std::to_string(static_cast<int>(mode_)));

    ui_ = loadMainInterface(desktop_);
    desktop_.application().run();
    peer_ = std::make_unique<platform::InterfacePeer>(
        ui_.delegate->viewController()->engine().interfaceMessenger());
    peer_->listen(kSelectionChannelName);
    peer_->listen(kSystemChannelName);
  }

  // Every call is answered exactly once; once the delegate is gone nothing
  // handles the channels any more, and "not implemented" is the right answer.
  void checkReply(const std::string& what, const PeerReply& reply) {
    if (reply.kind == PeerReply::Kind::unanswered)
      fail(what + " was never answered");
    else if (reply.kind == PeerReply::Kind::malformed)
      fail(what + " was answered with a malformed reply");
    else if (reply.kind == PeerReply::Kind::notImplemented && !released_)
      fail(what + " was answered not implemented while the host was alive");
  }

  PeerReply getSelection() {
    note("getSelection");
    auto reply = peer_->invoke(kSelectionChannelName, "getSelection");
    checkReply("getSelection", reply);
    if (const auto* text = std::get_if<std::string>(&reply.value)) {
      answers_.push_back(*text);
      note("  -> " + *text);
    }
    return reply;
  }

  PeerReply pasteText() {
    const std::string text = "paste-" + std::to_string(pastes_);
    note("pasteText " + text);
    auto reply = peer_->invoke(kSelectionChannelName, "pasteText", EncodableValue(text));
    checkReply("pasteText " + text, reply);
    if (reply.value == EncodableValue(true)) {
      pasteTexts_.push_back(text);
      ++pastes_;
    } else if (trusted_ && !hostile_) {
      // Hostile schedules quit the recorded application, which leaves a
      // paste nowhere to go.
      fail("pasteText " + text + " was refused");
    }
    return reply;
  }

  void pressHotKey() {
    note("hot key");
    desktop_.hotKeys().pressKey(hotKey_.keyCode, hotKey_.modifiers);
  }

  std::size_t copyChordsAfter(double time) {
    std::size_t count = 0;
    for (const auto& event : desktop_.keyboardEvents().posted()) {
      count += event.keyCode == kVK_ANSI_C && event.keyDown && event.time > time;
    }
    return count;
  }

  void actHostile() {
    const std::size_t r = pick(100);
    if (r < 6 && !released_) {
      // Something is under way: a capture or a paste.
      if (pick(2) == 0)
        pressHotKey();
      else
        pasteText();
      desktop_.advance(copyDelay());
      note("the delegate is released");
      released_ = true;
      ui_.delegate.reset();
    } else if (r < 16 && alive_.size() > 1) {
      if (pick(3) != 0) {
        pressHotKey();
        desktop_.advance(copyDelay() / 2);
      }
      const auto front = desktop_.workspace().frontmostApplication();
      auto app =
          std::find_if(alive_.begin(), alive_.end(), [&](const auto& a) { return a == front; });
      if (app == alive_.end())
        app = alive_.begin() + static_cast<std::ptrdiff_t>(pick(alive_.size()));
      note((*app)->localizedName() + " quits");
      desktop_.quit(*app);
      alive_.erase(app);
    } else if (r < 40) {
      const HotKeyChord chord = kChords[pick(std::size(kChords))];
      if (pick(3) == 0 && chord != hotKey_ && !taken_.count(chord)) {
        note("another application takes " + std::to_string(chord.keyCode) + "/" +
             std::to_string(chord.modifiers));
        desktop_.hotKeys().takeHotKey(chord.keyCode, chord.modifiers);
        taken_.insert(chord);
      }
      const std::string what = "setGlobalHotKey " + std::to_string(chord.keyCode) + "/" +
                               std::to_string(chord.modifiers);
      note(what);
      auto reply = peer_->invoke(
          kSystemChannelName, "setGlobalHotKey",
          EncodableValue(EncodableMap{
              {EncodableValue("keyCode"), EncodableValue(std::int64_t{chord.keyCode})},
              {EncodableValue("modifiers"), EncodableValue(std::int64_t{chord.modifiers})}}));
      checkReply(what, reply);
      if (reply.kind == PeerReply::Kind::success) {
        if (taken_.count(chord))
          fail(what + " succeeded though another application holds it");
        hotKey_ = chord;
      }
    } else if (r < 58) {
      trusted_ = pick(3) != 0;
      note(trusted_ ? "permission granted" : "permission revoked");
      desktop_.accessibility().setTrusted(trusted_);
    } else if (r < 64 && !flooded_) {
      flooded_ = true;
      note("a flood of hot-key presses");
      for (int i = 0; i < kFloodPresses; ++i) {
        desktop_.hotKeys().pressKey(hotKey_.keyCode, hotKey_.modifiers);
        desktop_.advance(1.0 / kFloodPresses);
      }
      // At most one capture may have waited behind the one running when the
      // flood ended.
      const double end = desktop_.now();
      desktop_.advance(kLongestTail);
      const std::size_t late = copyChordsAfter(end);
      if (late > 1)
        fail(std::to_string(late) + " captures started after a flood had ended");
    } else {
      const std::string text = "ext-" + std::to_string(externalTimes_.size());
      const double at = desktop_.now() + copyDelay();
      note("another application writes " + text + " at " + std::to_string(at));
      desktop_.generalPasteboard().setString(text, at);
      externalTimes_.push_back(at);
      selections_.insert(text);
      externals_.insert(text);
    }
  }

  void act() {
    const std::size_t r = pick(100);
    if (r < 25) {
      pressHotKey();
    } else if (r < 35) {
      note("status item left click");
      desktop_.statusBar().clickStatusItem(platform::EventType::leftMouseUp);
    } else if (r < 50) {
      getSelection();
    } else if (r < 72) {
      pasteText();
    } else if (r < 86 || (r >= 95 && !faulty_)) {
      auto& app = alive_[pick(alive_.size())];
      note("user brings " + app->localizedName() + " to the front");
      desktop_.bringToFront(app);
    } else if (r < 95) {
      auto& app = alive_[pick(alive_.size())];
      const double delay = copyDelay();
      const std::size_t kind = pick(10);
      const CopyBehaviour copies = kind < 8   ? CopyBehaviour::text
                                   : kind < 9 ? CopyBehaviour::nothing
                                              : CopyBehaviour::image;
      note(app->localizedName() + " now copies kind " + std::to_string(static_cast<int>(copies)) +
           " after " + std::to_string(delay));
      app->setCopyDelay(delay);
      app->setCopyBehaviour(copies);
    } else if (pick(2) == 0) {
      trusted_ = !trusted_;
      note(trusted_ ? "user grants the permission" : "user revokes the permission");
      desktop_.accessibility().setTrusted(trusted_);
    } else {
      keysRefused_ = !keysRefused_;
      note(keysRefused_ ? "key events cannot be made" : "key events can be made again");
      desktop_.keyboardEvents().setRefusesKeyUpCreation(keysRefused_);
    }
  }

  void fail(const std::string& what) { failures_.push_back(what); }

  void check() {
    if (!hostile_ || (!released_ && externals_.empty()))
      checkClipboard();
    checkCaptures();
    if (hostile_)
      checkHostilePastes();
    else
      checkPastes();
    checkBacklog();
    if (peer_->duplicateReplyCount() != 0)
      fail(std::to_string(peer_->duplicateReplyCount()) + " calls were answered twice");
  }

  // (3, hostile) Chords may be lost with the delegate or the target, so they
  // cannot be matched to pastes; what a chord pasted is still host text,
  // unless another application wrote in the meantime.
  void checkHostilePastes() {
    std::map<platform::pid_t, std::size_t> insertionsSeen;
    for (const auto& event : desktop_.keyboardEvents().posted()) {
      if (event.keyCode != kVK_ANSI_V || !event.keyDown || !event.deliveredTo)
        continue;
      const auto app = std::find_if(apps_.begin(), apps_.end(), [&](const auto& a) {
        return a->processIdentifier() == *event.deliveredTo;
      });
      if (app == apps_.end())
        continue;
      const auto insertions = (*app)->insertions();
      const std::size_t seen = insertionsSeen[*event.deliveredTo]++;
      if (seen >= insertions.size())
        continue;
      const std::string text = insertions[seen].text.value_or("(nothing)");
      if (std::find(pasteTexts_.begin(), pasteTexts_.end(), text) != pasteTexts_.end())
        continue;
      const bool overwritten = std::any_of(
          externalTimes_.begin(), externalTimes_.end(),
          [&](double at) { return at <= event.time && at >= event.time - kPasteWindow; });
      if (!overwritten)
        fail("a paste chord at " + std::to_string(event.time) + " pasted " + text);
    }
  }

  // (1) The user's clipboard is back, unless there was nothing the host could
  // save; then only text the host or an application wrote may be left.
  void checkClipboard() {
    auto& pasteboard = desktop_.generalPasteboard();
    if (mode_ == UserClipboard::rich || mode_ == UserClipboard::imageOnly) {
      if (pasteboard.contents() != userClipboard_) {
        fail("the user's clipboard was not restored; plain text now: " +
             pasteboard.plainText().value_or("(none)"));
      }
      return;
    }
    const auto text = pasteboard.plainText();
    if (text && *text != "user's clipboard" && !selections_.count(*text) &&
        std::find(pasteTexts_.begin(), pasteTexts_.end(), *text) == pasteTexts_.end()) {
      fail("the clipboard ended with text nobody wrote: " + *text);
    }
  }

  // (2) What reaches the interface was copied by an application: never the
  // host's paste text, never the user's clipboard.
  void checkCaptures() {
    std::vector<std::string> delivered = answers_;
    for (const auto& call : peer_->receivedCalls()) {
      if (call.method != "updateSelection")
        continue;
      const auto* text = std::get_if<std::string>(&call.arguments);
      delivered.push_back(text ? *text : "(not a string)");
    }
    for (const auto& text : delivered) {
      if (!selections_.count(text))
        fail("a capture delivered " + text);
    }
  }

  // (3) Each paste's chord goes out once, and whatever receives it pastes
  // that paste's text or a later overlapping one's.
  void checkPastes() {
    if (faulty_) {
      // Chords that could not be built, or were dropped while untrusted, leave
      // no way to tell which paste a chord belongs to; what was pasted must
      // still be host text.
      for (const auto& app : apps_) {
        for (const auto& insertion : app->insertions()) {
          const std::string text = insertion.text.value_or("(nothing)");
          if (std::find(pasteTexts_.begin(), pasteTexts_.end(), text) == pasteTexts_.end()) {
            fail(app->localizedName() + " was made to paste " + text);
          }
        }
      }
      return;
    }
    std::map<platform::pid_t, std::size_t> insertionsSeen;
    std::size_t chord = 0;
    for (const auto& event : desktop_.keyboardEvents().posted()) {
      if (event.keyCode != kVK_ANSI_V || !event.keyDown)
        continue;
      const std::size_t index = chord++;
      if (!event.deliveredTo)
        continue;
      auto app = desktop_.workspace().applicationWithPid(*event.deliveredTo);
      if (!app || app == desktop_.hostApplication())
        continue;
      const auto insertions = app->insertions();
      const std::size_t seen = insertionsSeen[*event.deliveredTo]++;
      if (seen >= insertions.size()) {
        fail("paste " + std::to_string(index) + " reached " + app->localizedName() +
             " but nothing was pasted");
        continue;
      }
      const auto& text = insertions[seen].text;
      const auto later = std::find(
          pasteTexts_.begin() + static_cast<std::ptrdiff_t>(std::min(index, pasteTexts_.size())),
          pasteTexts_.end(), text.value_or(""));
      if (!text || later == pasteTexts_.end()) {
        fail("paste-" + std::to_string(index) + "'s chord pasted " + text.value_or("(nothing)"));
      }
    }
    if (chord != pasteTexts_.size()) {
      fail(std::to_string(pasteTexts_.size()) + " pastes sent " + std::to_string(chord) +
           " chords");
    }
  }

  // (4) Captures never overlap, and a burst of triggers leaves at most one
  // capture waiting: the host is done soon after the last action.
  void checkBacklog() {
    if (desktop_.clock().peakWorkerBlocks() > 1)
      fail("two captures ran at once");
    double lastHostWork = 0;
    for (const auto& op : desktop_.generalPasteboard().operations()) {
      if (op.by == "host")
        lastHostWork = std::max(lastHostWork, op.time);
    }
    for (const auto& event : desktop_.keyboardEvents().posted()) {
      lastHostWork = std::max(lastHostWork, event.time);
    }
    if (lastHostWork > lastActionTime_ + kLongestTail) {
      fail("the host was still at work " + std::to_string(lastHostWork - lastActionTime_) +
           " s after the last action");
    }
  }

  void tearDown() {
    peer_.reset();
    ui_ = {};
    desktop_.clock().advanceUntilEmpty(60);
    if (!desktop_.liveObjects().none()) {
      fail("platform objects left alive: " + desktop_.liveObjects().describe());
    }
    for (const auto& entry : desktop_.misuse())
      fail("platform misuse: " + entry);
  }

  std::mt19937_64 rng_;
  bool hostile_ = false;
  SimDesktop desktop_;
  std::vector<std::shared_ptr<SimRunningApplication>> apps_;
  // Those that have not quit.
  std::vector<std::shared_ptr<SimRunningApplication>> alive_;
  HotKeyChord hotKey_ = kChords[0];
  std::set<HotKeyChord> taken_;
  bool released_ = false;
  bool flooded_ = false;
  std::vector<double> externalTimes_;
  std::set<std::string> externals_;
  std::set<std::string> selections_;
  UserClipboard mode_ = UserClipboard::rich;
  bool faulty_ = false;
  bool trusted_ = true;
  bool keysRefused_ = false;
  std::vector<SimPasteboardItemContents> userClipboard_;
  MainInterface ui_;
  std::unique_ptr<platform::InterfacePeer> peer_;

  int pastes_ = 0;
  std::vector<std::string> pasteTexts_;
  std::vector<std::string> answers_;
  double lastActionTime_ = 0;
  std::vector<std::string> log_;
  std::vector<std::string> failures_;
};

// Runs `count` schedules from kFirstSeed, stopping at the first that fails;
// returns how many were checked.
int runSchedules(int count, bool hostile) {
  const auto started = std::chrono::steady_clock::now();
  int checked = 0;
  for (std::uint64_t seed = kFirstSeed; seed < kFirstSeed + count; ++seed) {
    Schedule schedule(seed, hostile);
    const auto failures = schedule.run();
    ++checked;
    if (failures.empty())
      continue;
    std::ostringstream message;
    message << (hostile ? "hostile " : "") << "seed " << seed
            << " (replay with kFirstSeed = " << seed << " and one schedule):\n";
    for (const auto& failure : failures)
      message << "  " << failure << "\n";
    message << "schedule:\n" << schedule.log();
    ADD_FAILURE() << message.str();
    break;
  }
  const std::chrono::duration<double> took = std::chrono::steady_clock::now() - started;
  ::testing::Test::RecordProperty("schedules", checked);
  std::cout << "checked " << checked << (hostile ? " hostile" : "") << " schedules in "
            << took.count() << " s\n";
  return checked;
}

TEST(ClipboardPropertyTest, RandomInterleavingsKeepTheClipboardPromises) {
  runSchedules(kSchedules, /*hostile=*/false);
}

TEST(ClipboardPropertyTest, HostileInterleavingsKeepTheClipboardPromises) {
  runSchedules(kHostileSchedules, /*hostile=*/true);
}

}  // namespace
}  // namespace lumivane
