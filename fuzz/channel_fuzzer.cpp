// One channel of a started host, driven by the interface's side with arbitrary
// bytes and with well-formed calls carrying arbitrary arguments, while the
// user and other applications do what they may: press the hot key, click the
// status item, switch applications, revoke the permission. Each input gets a
// fresh simulated desktop, so nothing carries over between inputs.
//
// After every call: it was answered, with a reply envelope, and a call the
// host does not know was answered not implemented. At the end, once all
// deferred work has run: no call answered twice or late, no platform misuse,
// the user's clipboard back as it was, and nothing left alive once the host is
// released.
//
// Input layout (every read past the end yields zeros):
//   byte  desktop: bit 0 trusted, 1 an application in front, 2 it ignores key
//         events, 3 it has no bundle identifier, 4 nor has the host, 5 the OS
//         is older than 13.0, 6 another application holds the default hot
//         key, 7 status items have no button
//   byte  copy: behaviour (text, image, nothing) = b % 3, delay = (b / 3) % 64
//         * 15 ms, within the second the capture waits
//   byte  bit 0 the pasteboard reports no item list, 1 it refuses the host's
//         writes, 2 a second application is running, 3 no "textbox" symbol,
//         4-5 how login registration answers, 6-7 the login item's status
//   text  the front application's selection (length byte, bytes)
//   byte  number of clipboard items (% 4), each: a byte of entry count (% 4),
//         each entry: type byte (index % kTypes, bit 7 unreadable), text
//   then operations until the input ends, each an opcode byte and operands
//   (see Op).
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <iterator>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <variant>
#include <vector>

#include "bridge/channel_handlers.h"
#include "fuzz/fuzz_input.h"
#include "fuzz/round_trip.h"
#include "platform/flutter/interface_peer.h"
#include "platform/flutter/standard_codec.h"
#include "platform/sim/sim_desktop.h"
#include "shell/application_main.h"

namespace {

using lumivane::fuzz::anyValue;
using lumivane::fuzz::fail;
using lumivane::fuzz::Input;
using lumivane::platform::EncodableMap;
using lumivane::platform::EncodableValue;
using lumivane::platform::PeerReply;
using lumivane::platform::StandardMethodCodec;
namespace sim = lumivane::platform::sim;

#if defined(LUMIVANE_FUZZ_CHANNEL_selection)
constexpr const char* kChannel = lumivane::kSelectionChannelName;
const char* const kMethods[] = {"getSelection", "checkPermission", "requestPermission", "pasteText",
                                "startWindowDrag"};
#elif defined(LUMIVANE_FUZZ_CHANNEL_system)
constexpr const char* kChannel = lumivane::kSystemChannelName;
const char* const kMethods[] = {"setLaunchAtLogin", "getLaunchAtLogin", "setGlobalHotKey"};
#else
#error "define LUMIVANE_FUZZ_CHANNEL_selection or LUMIVANE_FUZZ_CHANNEL_system"
#endif

// Names the host must not take for its own: case variants, a trailing space
// or NUL, the other channel's methods, the host's own outgoing call, nothing.
const std::string kOtherMethods[] = {"",
                                     "getselection",
                                     "PasteText",
                                     "updateSelection",
                                     "getSelection ",
                                     "setGlobalHotkey",
                                     std::string("getLaunchAtLogin\0", 17),
                                     "getSelection",
                                     "setLaunchAtLogin"};

const char* const kTypes[] = {"public.utf8-plain-text", "public.html", "public.rtf", "public.png",
                              "com.example.private"};

// An integer as the interface might send a key code or modifier mask: small
// or huge, negative, of either width.
EncodableValue anyInteger(Input& in) {
  switch (in.byte() % 4) {
    case 0:
      return EncodableValue(static_cast<std::int32_t>(in.byte()));
    case 1:
      return EncodableValue(static_cast<std::int64_t>(in.scalar<std::uint16_t>()));
    case 2:
      return EncodableValue(in.scalar<std::int32_t>());
    default:
      return EncodableValue(in.scalar<std::int64_t>());
  }
}

// Arguments of the shape `method` takes, with arbitrary contents, or anything
// at all.
EncodableValue argumentsFor(const std::string& method, Input& in) {
  const std::uint8_t shape = in.byte();
  if (shape % 4 == 0) {
    return anyValue(in);
  }
  if (method == "pasteText") {
    return EncodableValue(in.text());
  }
  if (method == "setLaunchAtLogin") {
    return EncodableValue((shape & 0x10) != 0);
  }
  if (method == "setGlobalHotKey") {
    EncodableMap map;
    if (shape & 0x10) {
      map.insert_or_assign(EncodableValue("keyCode"), anyInteger(in));
    }
    if (shape & 0x20) {
      map.insert_or_assign(EncodableValue("modifiers"), anyInteger(in));
    }
    if (shape & 0x40) {
      map.insert_or_assign(anyValue(in), anyValue(in));
    }
    return EncodableValue(std::move(map));
  }
  return EncodableValue();
}

bool isKnownMethod(const std::string& name) {
  for (const char* method : kMethods) {
    if (name == method) {
      return true;
    }
  }
  return false;
}

// LUMIVANE_FUZZ_VERBOSE=1 tells each call and its answer, for reading what a
// crashing input did.
bool verbose() {
  static const bool on = std::getenv("LUMIVANE_FUZZ_VERBOSE") != nullptr;
  return on;
}

const char* kindName(PeerReply::Kind kind) {
  switch (kind) {
    case PeerReply::Kind::success:
      return "success";
    case PeerReply::Kind::error:
      return "error";
    case PeerReply::Kind::notImplemented:
      return "not implemented";
    case PeerReply::Kind::unanswered:
      return "unanswered";
    case PeerReply::Kind::malformed:
      return "malformed";
  }
  return "?";
}

// A pasteboard's contents as the host can save and restore them: readable
// types only, no order among an item's types, items with nothing readable
// left out. A type listed twice reads as its first listing, as the item's
// dataForType answers.
using Restorable = std::vector<std::map<std::string, lumivane::platform::Bytes>>;

Restorable restorable(const std::vector<sim::SimPasteboardItemContents>& items) {
  Restorable out;
  for (const auto& item : items) {
    std::map<std::string, lumivane::platform::Bytes> types;
    std::set<std::string> seen;
    for (const auto& entry : item) {
      if (seen.insert(entry.type).second && entry.data) {
        types.emplace(entry.type, *entry.data);
      }
    }
    if (!types.empty()) {
      out.push_back(std::move(types));
    }
  }
  return out;
}

void describe(const char* what, const Restorable& items) {
  std::fprintf(stderr, "%s: %zu items\n", what, items.size());
  for (const auto& item : items) {
    for (const auto& [type, data] : item) {
      std::fprintf(stderr, "  %s: %zu bytes\n", type.c_str(), data.size());
    }
  }
}

enum Op : std::uint8_t {
  kRawCall,        // length byte, bytes: sent as they are
  kCall,           // method byte, then arguments (argumentsFor)
  kCallInEvent,    // event type byte, then as kCall: handled as part of an event
  kAdvance,        // byte: the clock moves on by b * 10 ms
  kPressHotKey,    // byte: bit 0 the registered chord, else T with b's modifiers
  kClickStatus,    // byte: bit 0 right button
  kSwitchApp,      // byte % 4: first app, second app, the front app quits, host
  kToggleTrust,    // the user grants or revokes the permission
  kExternalWrite,  // text: another process copies
  kRelease,        // the host's delegate is released
  kOpCount,
};

class Run {
 public:
  explicit Run(Input& in) : in_(in) {}

  void setUp() {
    const std::uint8_t flags = in_.byte();
    const std::uint8_t copy = in_.byte();
    const std::uint8_t more = in_.byte();
    const std::string selection = in_.text();

    desktop_.accessibility().setTrusted(flags & 0x01);
    if (flags & 0x10) {
      desktop_.setMainBundleIdentifier(std::nullopt);
    }
    if (flags & 0x20) {
      desktop_.loginItems().setOperatingSystemVersion({12, 6, 0});
    }
    if (flags & 0x40) {
      desktop_.hotKeys().takeHotKey(lumivane::platform::kVK_ANSI_T,
                                    lumivane::platform::cmdKey | lumivane::platform::shiftKey);
    }
    desktop_.statusBar().setItemsHaveNoButton(flags & 0x80);
    if (more & 0x08) {
      desktop_.statusBar().removeSymbol("textbox");
    }
    desktop_.loginItems().service().setRegistrationBehaviour(
        static_cast<sim::LoginRegistrationBehaviour>(((more >> 4) & 3) % 3));
    desktop_.loginItems().service().setStatus(
        static_cast<lumivane::platform::SMAppServiceStatus>((more >> 6) & 3));

    sim::AppProfile editor("Editor", "com.example.Editor", 201, selection, (copy / 3) % 64 * 0.015,
                           static_cast<sim::CopyBehaviour>(copy % 3), !(flags & 0x04));
    if (flags & 0x08) {
      editor.bundleId = std::nullopt;
    }
    editor_ = desktop_.addApplication(editor);
    if (more & 0x04) {
      other_ = desktop_.addApplication(
          sim::AppProfile("Notes", "com.example.Notes", 202, "other text", 0.02));
    }
    if (flags & 0x02) {
      desktop_.bringToFront(editor_);
      desktop_.runUntilIdle();
    }

    std::vector<sim::SimPasteboardItemContents> items(in_.byte() % 4);
    for (auto& item : items) {
      for (int n = in_.byte() % 4; n > 0; --n) {
        const std::uint8_t type = in_.byte();
        const std::string data = in_.text();
        const char* name = kTypes[(type & 0x7F) % std::size(kTypes)];
        item.push_back((type & 0x80) ? sim::SimPasteboardEntry::unreadable(name)
                                     : sim::SimPasteboardEntry::text(data, name));
      }
    }
    auto& pasteboard = desktop_.generalPasteboard();
    if (!items.empty()) {
      pasteboard.setContents(items);
    }
    pasteboard.setReportsNoItemList(more & 0x01);
    pasteboard.setRefusesWrites(more & 0x02);
    // Only what the host can read can come back; what it cannot even list,
    // or may not write, is the platform's loss, not the host's.
    clipboardMustComeBack_ = !(more & 0x03);
    userClipboard_ = restorable(pasteboard.contents());

    ui_ = lumivane::loadMainInterface(desktop_);
    delegate_ = ui_.delegate;
    desktop_.application().run();
    // Held here as the panel's window holds it on the real desktop, so the
    // interface can still call once the delegate is gone.
    controller_ = ui_.delegate->viewController();
    if (!controller_) {
      fail("the host started without its interface");
    }
    peer_ = std::make_unique<lumivane::platform::InterfacePeer>(
        controller_->engine().interfaceMessenger());
    peer_->listen(lumivane::kSelectionChannelName);
    peer_->listen(lumivane::kSystemChannelName);
  }

  void play() {
    while (!in_.done()) {
      step(static_cast<Op>(in_.byte() % kOpCount));
    }
  }

  void finish() {
    // Pastes restore the clipboard 0.8 s after their call, captures give up
    // after a second: a minute of virtual time is ample for everything.
    if (!desktop_.clock().advanceUntilEmpty(60)) {
      fail("work is still scheduled a minute after the last call");
    }
    if (peer_->duplicateReplyCount() != 0) {
      fail("a call was answered twice");
    }
    if (peer_->lateReplyCount() != 0) {
      fail("a call was answered after its handler returned");
    }
    if (peer_->undecodableCallCount() != 0) {
      fail("the host sent the interface a message that is no method call");
    }
    // The host's only call to the interface hands over a captured selection,
    // and wants no answer.
    for (const auto& call : peer_->receivedCalls()) {
      const auto* text = std::get_if<std::string>(&call.arguments);
      if (call.channel != lumivane::kSelectionChannelName || call.method != "updateSelection" ||
          !text || text->empty() || call.replyExpected) {
        fail("the host made a call the interface does not expect");
      }
    }
    checkNoMisuse();
    if (desktop_.hotKeys().registrations().size() > 1) {
      fail("the host holds more than one hot key");
    }
    if (clipboardMustComeBack_ && !userClipboard_.empty()) {
      auto now = restorable(desktop_.generalPasteboard().contents());
      if (now != userClipboard_) {
        describe("clipboard at the start", userClipboard_);
        describe("clipboard at the end", now);
        fail("the user's clipboard was not put back");
      }
    }

    peer_.reset();
    ui_ = {};
    controller_.reset();
    editor_.reset();
    other_.reset();
    desktop_.clock().advanceUntilEmpty(60);
    checkNoMisuse();
    if (!desktop_.liveObjects().none()) {
      std::fprintf(stderr, "alive: %s\n", desktop_.liveObjects().describe().c_str());
      fail("platform objects outlived the host");
    }
  }

 private:
  void step(Op op) {
    if (verbose()) {
      std::fprintf(stderr, "%.3f op %d\n", desktop_.now(), static_cast<int>(op));
    }
    switch (op) {
      case kRawCall: {
        auto bytes = in_.bytes(in_.byte());
        auto call = StandardMethodCodec::sharedInstance().decodeMethodCall(bytes);
        std::optional<std::string> method;
        if (call) {
          method = call->method();
        }
        const Before had = before();
        checkReply(peer_->invokeRaw(kChannel, bytes), method, had);
        break;
      }
      case kCall:
        call();
        break;
      case kCallInEvent: {
        lumivane::platform::Event event;
        event.type = static_cast<lumivane::platform::EventType>(in_.byte() % 13);
        desktop_.application().handleEvent(event, [this] { call(); });
        break;
      }
      case kAdvance:
        desktop_.advance(in_.byte() * 0.01);
        break;
      case kPressHotKey: {
        const std::uint8_t how = in_.byte();
        auto registrations = desktop_.hotKeys().registrations();
        if ((how & 1) && !registrations.empty()) {
          desktop_.hotKeys().pressKey(registrations.front().chord.keyCode,
                                      registrations.front().chord.modifiers);
        } else {
          desktop_.hotKeys().pressKey(lumivane::platform::kVK_ANSI_T, (how & 0x1E) << 7);
        }
        desktop_.runUntilIdle();
        break;
      }
      case kClickStatus:
        desktop_.statusBar().clickStatusItem((in_.byte() & 1)
                                                 ? lumivane::platform::EventType::rightMouseUp
                                                 : lumivane::platform::EventType::leftMouseUp);
        desktop_.runUntilIdle();
        break;
      case kSwitchApp:
        switch (in_.byte() % 4) {
          case 0:
            desktop_.bringToFront(editor_);
            break;
          case 1:
            if (other_) {
              desktop_.bringToFront(other_);
            }
            break;
          case 2:
            if (auto front = desktop_.workspace().frontmost();
                front && front != desktop_.hostApplication()) {
              desktop_.quit(front);
            }
            break;
          default:
            desktop_.workspace().activateHost();
            break;
        }
        desktop_.runUntilIdle();
        break;
      case kToggleTrust:
        desktop_.accessibility().setTrusted(!desktop_.accessibility().isTrusted());
        break;
      case kExternalWrite:
        desktop_.generalPasteboard().setString(in_.text());
        // The user copied something of their own: that, not the clipboard
        // of the start, is what has to survive now.
        clipboardMustComeBack_ = false;
        break;
      case kRelease:
        ui_.delegate.reset();
        // Deferred work that would have put the clipboard back dies with the
        // delegate, as it does when the host quits.
        clipboardMustComeBack_ = false;
        break;
      case kOpCount:
        break;
    }
  }

  // What the host had when a call was made.
  struct Before {
    bool delegate = false;
    bool trusted = false;
  };

  // Released is not gone: a capture under way keeps the delegate until it has
  // put the clipboard back.
  Before before() { return {!delegate_.expired(), desktop_.accessibility().isTrusted()}; }

  // What the interface may be told for `method` (absent: a method the host
  // does not have).
  void checkReply(const PeerReply& reply,
                  const std::optional<std::string>& method,
                  const Before& had) {
    if (verbose()) {
      std::fprintf(stderr, "call %s -> %s %s\n", method ? method->c_str() : "(undecodable)",
                   kindName(reply.kind), reply.code.c_str());
    }
    if (reply.kind == PeerReply::Kind::unanswered) {
      fail("a call was never answered");
    }
    if (reply.kind == PeerReply::Kind::malformed) {
      fail("the host answered with bytes that are no reply envelope");
    }
    if (!method || !isKnownMethod(*method)) {
      if (reply.kind != PeerReply::Kind::notImplemented) {
        fail("an unknown method or undecodable call was not answered not implemented");
      }
      return;
    }
    if (reply.kind == PeerReply::Kind::notImplemented) {
      fail("a method of the channel was answered not implemented");
    }
    if (reply.kind == PeerReply::Kind::error) {
      return;
    }
    const auto& value = reply.value;
    const auto* yes = std::get_if<bool>(&value);
    const bool mayAct = had.delegate && had.trusted;
    // Without the permission, or once the delegate is gone, the host may
    // only say no.
    if (*method == "checkPermission" || *method == "requestPermission" || *method == "pasteText" ||
        *method == "getLaunchAtLogin") {
      if (!yes) {
        fail("a yes-or-no answer was not a boolean");
      }
      if ((*method == "checkPermission" || *method == "requestPermission") && *yes != mayAct) {
        fail("the permission answered is not the permission held");
      }
      if (*method == "pasteText" && *yes && !mayAct) {
        fail("a paste was set going without the permission or the delegate");
      }
      if (*method == "getLaunchAtLogin" && *yes && !had.delegate) {
        fail("launch at login answered true without a delegate");
      }
    }
    if (*method == "getSelection" && !value.IsNull() &&
        (!mayAct || !std::holds_alternative<std::string>(value))) {
      fail("a selection was answered that cannot have been captured");
    }
    if ((*method == "startWindowDrag" || *method == "setLaunchAtLogin" ||
         *method == "setGlobalHotKey") &&
        !value.IsNull()) {
      fail("a command answered a value");
    }
  }

  void call() {
    const std::uint8_t pick = in_.byte();
    std::string method = (pick & 0x80) ? kOtherMethods[(pick & 0x7F) % std::size(kOtherMethods)]
                                       : kMethods[pick % std::size(kMethods)];
    auto arguments = argumentsFor(method, in_);
    const Before had = before();
    checkReply(peer_->invoke(kChannel, method, std::move(arguments)), method, had);
  }

  void checkNoMisuse() {
    auto misuse = desktop_.misuse();
    if (!misuse.empty()) {
      for (const auto& entry : misuse) {
        std::fprintf(stderr, "misuse: %s\n", entry.c_str());
      }
      fail("the host misused the platform");
    }
  }

  Input& in_;
  sim::SimDesktop desktop_;
  std::shared_ptr<sim::SimRunningApplication> editor_;
  std::shared_ptr<sim::SimRunningApplication> other_;
  lumivane::MainInterface ui_;
  std::shared_ptr<lumivane::platform::FlutterViewController> controller_;
  std::unique_ptr<lumivane::platform::InterfacePeer> peer_;
  Restorable userClipboard_;
  bool clipboardMustComeBack_ = true;
  // Whether the delegate still exists, whoever holds it.
  std::weak_ptr<lumivane::AppDelegate> delegate_;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  Input in(data, size);
  Run run(in);
  run.setUp();
  run.play();
  run.finish();
  return 0;
}
