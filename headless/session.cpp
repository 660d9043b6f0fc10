#include "headless/session.h"

#include <charconv>
#include <utility>

#include "bridge/channel_handlers.h"
#include "shell/app_delegate.h"
#include "shell/application_main.h"

namespace lumivane::headless {
namespace {

using Json = nlohmann::ordered_json;
using platform::sim::TraceEvent;
using platform::sim::TraceKind;

template <class... Ts>
struct Overloaded : Ts... {
  using Ts::operator()...;
};
template <class... Ts>
Overloaded(Ts...) -> Overloaded<Ts...>;

// The trace writes numbers as decimal or 0x hex text.
std::uint64_t traceNumber(const TraceEvent& event, const char* name) {
  const std::string text = event.field(name).value_or("0");
  std::string_view digits = text;
  int base = 10;
  if (digits.substr(0, 2) == "0x") {
    digits.remove_prefix(2);
    base = 16;
  }
  std::uint64_t value = 0;
  std::from_chars(digits.data(), digits.data() + digits.size(), value, base);
  return value;
}

std::int64_t toSigned(std::string_view text) {
  std::int64_t value = 0;
  std::from_chars(text.data(), text.data() + text.size(), value);
  return value;
}

std::int64_t traceSigned(const TraceEvent& event, const char* name) {
  return toSigned(event.field(name).value_or("0"));
}

bool traceFlag(const TraceEvent& event, const char* name) {
  return event.field(name) == "true";
}

std::string channelName(ChannelName channel) {
  return channel == ChannelName::selection ? "selection" : "system";
}

const char* channelId(ChannelName channel) {
  return channel == ChannelName::selection ? kSelectionChannelName : kSystemChannelName;
}

platform::sim::CopyBehaviour toCopyBehaviour(CopyKind kind) {
  switch (kind) {
    case CopyKind::image:
      return platform::sim::CopyBehaviour::image;
    case CopyKind::nothing:
      return platform::sim::CopyBehaviour::nothing;
    case CopyKind::text:
      break;
  }
  return platform::sim::CopyBehaviour::text;
}

platform::sim::LoginRegistrationBehaviour toBehaviour(LoginServiceAnswer answer) {
  switch (answer) {
    case LoginServiceAnswer::requiresApproval:
      return platform::sim::LoginRegistrationBehaviour::needsApproval;
    case LoginServiceAnswer::refuses:
      return platform::sim::LoginRegistrationBehaviour::refuses;
    case LoginServiceAnswer::enabled:
      break;
  }
  return platform::sim::LoginRegistrationBehaviour::succeeds;
}

std::vector<platform::sim::SimPasteboardItemContents> toPasteboardItems(
    const std::vector<PasteboardItemEntries>& items) {
  std::vector<platform::sim::SimPasteboardItemContents> itemContents;
  for (const auto& item : items) {
    platform::sim::SimPasteboardItemContents profile;
    for (const auto& entry : item) {
      profile.push_back(entry.content
                            ? platform::sim::SimPasteboardEntry::text(*entry.content, entry.type)
                            : platform::sim::SimPasteboardEntry::unreadable(entry.type));
    }
    itemContents.push_back(std::move(profile));
  }
  return itemContents;
}

}  // namespace

Session::Session(platform::sim::SimDesktop& desktop, EventLog& log)
    : desktop_(desktop), log_(log) {}

Session::~Session() {
  desktop_.setTraceListener(nullptr);
}

int Session::run(const std::vector<Statement>& statements) {
  desktop_.setTraceListener([this](const TraceEvent& event) { onTrace(event); });
  std::size_t next = 0;
  while (next < statements.size() && !needsHost(statements[next].action)) {
    execute(statements[next++]);
  }
  bool looped = false;
  desktop_.application().setRunHook([&] {
    looped = true;
    runLoop(statements, next);
  });
  report(desktop_.now(), "starting");
  const int status = NSApplicationMain(desktop_, 0, nullptr);
  desktop_.application().setRunHook(nullptr);
  // An application that ended during its own launch never ran the loop.
  if (!looped) {
    reportPasteboard();
    finished_ = true;
  }
  desktop_.setTraceListener(nullptr);
  return status;
}

void Session::runLoop(const std::vector<Statement>& statements, std::size_t next) {
  desktop_.runUntilIdle();
  attachInterface();
  report(desktop_.now(), "launched");
  for (; next < statements.size(); ++next) {
    execute(statements[next]);
    if (desktop_.application().isTerminating()) {
      report(desktop_.now(), "terminated", {{"skipped", statements.size() - next - 1}});
      break;
    }
  }
  reportPasteboard();
  finished_ = true;
  peer_.reset();
}

void Session::attachInterface() {
  auto delegate = std::dynamic_pointer_cast<AppDelegate>(desktop_.application().delegate());
  auto controller = delegate ? delegate->viewController() : nullptr;
  if (!controller)
    return;
  peer_ = std::make_unique<platform::InterfacePeer>(controller->engine().interfaceMessenger());
  peer_->listen(kSelectionChannelName);
  peer_->listen(kSystemChannelName);
  peer_->setCallObserver([this](const platform::ReceivedCall& call) { onInterfaceCall(call); });
}

void Session::execute(const Statement& statement) {
  Json context = Json::object();
  if (!statement.comment.empty())
    context["comment"] = statement.comment;
  report(desktop_.now(), "step", {{"line", statement.line}, {"statement", statement.text}},
         std::move(context));
  perform(statement.action);
  desktop_.runUntilIdle();
}

void Session::perform(const StatementAction& action) {
  std::visit(
      Overloaded{
          [&](const AppStatement& app) {
            apps_[app.name] = desktop_.addApplication(
                platform::sim::AppProfile{app.name, app.bundleId, app.pid, app.selection,
                                          app.copyDelay, toCopyBehaviour(app.copies)});
          },
          [&](const FrontStatement& front) {
            desktop_.bringToFront(front.app ? apps_.at(*front.app) : desktop_.hostApplication());
          },
          [&](const PasteboardStatement& pasteboard) {
            auto& board = desktop_.generalPasteboard();
            board.setContents(pasteboard.items
                                  ? toPasteboardItems(*pasteboard.items)
                                  : std::vector<platform::sim::SimPasteboardItemContents>{});
            if (pasteboard.items)
              board.setReportsNoItemList(false);
            else  // the user's state, not a lasting fault
              board.setReportsNoItemListUntilWritten();
          },
          [&](const TrustStatement& trust) { desktop_.accessibility().setTrusted(trust.trusted); },
          [&](const KeyStatement& key) {
            desktop_.hotKeys().pressKey(key.chord.keyCode, key.chord.modifiers);
          },
          [&](const HotKeyTakenStatement& taken) {
            desktop_.hotKeys().takeHotKey(taken.chord.keyCode, taken.chord.modifiers);
          },
          [&](const ClickStatement& click) {
            if (click.choose)
              desktop_.statusBar().chooseMenuItem(*click.choose);
            const bool right = click.button == MouseButton::right;
            const bool reached = desktop_.statusBar().clickStatusItem(
                right ? platform::EventType::rightMouseUp : platform::EventType::leftMouseUp);
            report(desktop_.now(), "click",
                   {{"button", right ? "right" : "left"}, {"reached", reached}});
          },
          [&](const CallStatement& statement) { call(statement); },
          [&](const LoginServiceStatement& login) {
            auto& service = desktop_.loginItems().service();
            if (login.description) {
              service.setRegistrationBehaviour(toBehaviour(login.answer), *login.description);
            } else {
              service.setRegistrationBehaviour(toBehaviour(login.answer));
            }
          },
          [&](const OsStatement& os) {
            desktop_.loginItems().setOperatingSystemVersion({os.major, os.minor, os.patch});
          },
          [&](const WaitStatement& wait) { desktop_.advance(wait.seconds); },
          [&](const ShowPasteboardStatement&) { reportPasteboard(); },
      },
      action);
}

void Session::call(const CallStatement& statement) {
  platform::PeerReply reply;
  if (peer_)
    reply = peer_->invoke(channelId(statement.channel), statement.method, statement.arguments);
  Json fields{{"channel", channelName(statement.channel)}, {"method", statement.method}};
  switch (reply.kind) {
    case platform::PeerReply::Kind::success:
      fields["result"] = toJson(reply.value);
      break;
    case platform::PeerReply::Kind::error:
      fields["error"] =
          Json{{"code", reply.code}, {"message", reply.message ? Json(*reply.message) : Json()}};
      break;
    case platform::PeerReply::Kind::notImplemented:
      fields["notImplemented"] = true;
      break;
    case platform::PeerReply::Kind::unanswered:
      fields["unanswered"] = true;
      break;
    case platform::PeerReply::Kind::malformed:
      fields["malformed"] = true;
      break;
  }
  report(desktop_.now(), "reply", std::move(fields));
}

void Session::onInterfaceCall(const platform::ReceivedCall& call) {
  const bool selection = call.channel == kSelectionChannelName;
  if (selection && call.method == "updateSelection") {
    report(desktop_.now(), "updateSelection", {{"text", toJson(call.arguments)}});
    return;
  }
  report(desktop_.now(), "call",
         {{"channel", selection ? "selection" : "system"},
          {"method", call.method},
          {"arguments", toJson(call.arguments)}});
}

void Session::onTrace(const TraceEvent& event) {
  const double t = event.time;
  const std::string window = event.field("window").value_or("");
  switch (event.kind) {
    case TraceKind::viewControllerCreated:
      return report(t, "viewController");
    case TraceKind::pluginRegistered:
      return report(t, "plugin", {{"name", event.field("plugin").value_or("")}});
    case TraceKind::windowCreated: {
      const std::string kind = event.field("kind").value_or("window");
      if (kind == "panel")
        panels_.insert(window);
      return report(t, "window", {{"window", window}, {"kind", kind}, {"change", "created"}});
    }
    case TraceKind::windowShown:
    case TraceKind::windowHidden: {
      const bool shown = event.kind == TraceKind::windowShown;
      if (!panels_.count(window)) {
        return report(
            t, "window",
            {{"window", window}, {"kind", "window"}, {"change", shown ? "shown" : "hidden"}});
      }
      Json context = Json::object();
      if (shown) {
        // "x,y,width,height"
        const std::string frame = event.field("frame").value_or("");
        double parts[4] = {0, 0, 0, 0};
        std::size_t start = 0;
        for (double& part : parts) {
          const std::size_t comma = std::min(frame.find(',', start), frame.size());
          std::from_chars(frame.data() + start, frame.data() + comma, part);
          start = std::min(comma + 1, frame.size());
        }
        context = {{"x", parts[0]},
                   {"y", parts[1]},
                   {"width", parts[2]},
                   {"height", parts[3]},
                   {"centered", traceFlag(event, "centered")}};
      }
      return report(t, "panel", {{"visible", shown}}, std::move(context));
    }
    case TraceKind::statusItemCreated:
      return report(t, "statusItem", {{"button", traceFlag(event, "button")}});
    case TraceKind::menuOpened: {
      Json items = Json::array();
      Json chosen;
      for (const auto& [key, value] : event.fields) {
        if (key == "item")
          items.push_back(value);
        if (key == "chosen")
          chosen = value;
      }
      return report(t, "menu", {{"items", std::move(items)}, {"chosen", std::move(chosen)}});
    }
    case TraceKind::hotKeyRegistered:
    case TraceKind::hotKeyUnregistered: {
      Json fields{{"keyCode", traceNumber(event, "keyCode")},
                  {"modifiers", traceNumber(event, "modifiers")}};
      const std::int64_t status = traceSigned(event, "status");
      if (event.kind == TraceKind::hotKeyUnregistered) {
        fields["change"] = "unregistered";
      } else if (status == platform::noErr) {
        fields["change"] = "registered";
      } else {
        fields["change"] = "refused";
        fields["status"] = status;
      }
      return report(t, "hotkey", std::move(fields));
    }
    case TraceKind::hotKeyPressed:
      return report(t, "press",
                    {{"keyCode", traceNumber(event, "keyCode")},
                     {"modifiers", traceNumber(event, "modifiers")},
                     {"toHost", traceFlag(event, "delivered")}});
    case TraceKind::keyEventPosted: {
      const std::string to = event.field("to").value_or("");
      const std::string delivered = event.field("delivered").value_or("none");
      Json fields{{"keyCode", traceNumber(event, "keyCode")},
                  {"down", traceFlag(event, "down")},
                  {"flags", traceNumber(event, "flags")}};
      Json context = Json::object();
      if (to.rfind("pid:", 0) == 0) {
        const auto pid = static_cast<platform::pid_t>(toSigned(std::string_view(to).substr(4)));
        fields["to"] = pid;
        context["toName"] = processName(pid);
      } else {
        fields["to"] = to;
        if (delivered != "none") {
          context["deliveredTo"] = processName(static_cast<platform::pid_t>(toSigned(delivered)));
        }
      }
      if (delivered == "none")
        context["dropped"] = true;
      return report(t, "keys", std::move(fields), std::move(context));
    }
    case TraceKind::appActivated: {
      const std::string name = event.field("name").value_or("");
      const std::string by = event.field("by").value_or("");
      if (by == "host" && traceSigned(event, "pid") != platform::sim::kHostPid) {
        return report(t, "activate", {{"app", name}});
      }
      return report(t, "front", {{"app", name}}, {{"by", by}});
    }
    case TraceKind::textInserted: {
      // The trace gives a length only when there was text to insert.
      const bool hasText = event.field("length").has_value();
      return report(t, "inserted",
                    {{"app", event.field("name").value_or("")},
                     {"text", hasText ? Json(event.field("text").value_or("")) : Json()}});
    }
    case TraceKind::accessibilityPrompt:
      return report(t, "prompt");
    case TraceKind::standardOutputLine:
      return report(t, "stdout", {{"line", event.field("line").value_or("")}});
    case TraceKind::observerAdded:
      return;
    case TraceKind::pasteboardChanged: {
      const std::string by = event.field("by").value_or("");
      const std::string op = event.field("op").value_or("");
      // The scenario's own writes are its statements; an application's
      // clearing is the first half of its copy.
      if (by == "external" || (by != "host" && op == "clearContents"))
        return;
      if (by == "host")
        return report(t, "clipboard", {{"op", op}}, pasteboardHoldsContext());
      return report(t, "copied", {{"app", by}}, pasteboardHoldsContext());
    }
  }
}

void Session::report(double time, std::string name, Json fields, Json context) {
  if (finished_)
    return;
  log_.write(LogEvent{time, std::move(name), std::move(fields), std::move(context)});
}

std::optional<std::vector<platform::sim::SimPasteboardItemContents>> Session::pasteboardItems()
    const {
  auto& pasteboard = desktop_.generalPasteboard();
  if (pasteboard.reportsNoItemList())
    return std::nullopt;
  return pasteboard.contents();
}

void Session::reportPasteboard() {
  const auto items = pasteboardItems();
  Json context = Json::object();
  if (log_.showsContext())
    context["holds"] = describePasteboard(items);
  report(desktop_.now(), "pasteboard", {{"items", pasteboardJson(items)}}, std::move(context));
}

Json Session::pasteboardHoldsContext() const {
  // The host changes the pasteboard once per item as it restores it: the
  // description is bounded, and left out when nothing shows it, so that each
  // change costs the same however much the pasteboard holds.
  if (!log_.showsContext())
    return Json::object();
  auto& pasteboard = desktop_.generalPasteboard();
  std::optional<platform::sim::SimPasteboardExcerpt> excerpt;
  if (!pasteboard.reportsNoItemList())
    excerpt = pasteboard.excerpt(kDescribedItems, kDescribedTypes);
  return {{"holds", describePasteboardExcerpt(excerpt)}};
}

std::string Session::processName(platform::pid_t pid) const {
  auto app = desktop_.workspace().applicationWithPid(pid);
  return app ? app->localizedName() : "pid " + std::to_string(pid);
}

}  // namespace lumivane::headless
