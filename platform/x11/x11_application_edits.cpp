#include "platform/x11/x11_application_edits.h"

#include <filesystem>
#include <fstream>
#include <string_view>

namespace lumivane::platform::x11 {
namespace {

// The longest name /proc/PID/comm holds.
constexpr std::size_t kCommLength = 15;

std::string processName(pid_t pid) {
  if (pid <= 0)
    return {};
  const std::filesystem::path folder = "/proc/" + std::to_string(pid);
  std::string comm;
  std::getline(std::ifstream(folder / "comm"), comm);
  std::error_code error;
  const std::string executable = std::filesystem::read_symlink(folder / "exe", error).filename();
  // A script's comm is the script's name where its executable is the
  // interpreter's; a long name is cut short in comm and whole in the link.
  if (comm.empty() || (comm.size() == kCommLength && executable.starts_with(comm)))
    return executable;
  return comm;
}

xcb_window_t primaryOwner(XcbConnection& connection) {
  xcb_connection_t* c = connection.get();
  XcbReply<xcb_get_selection_owner_reply_t> reply(
      xcb_get_selection_owner_reply(c, xcb_get_selection_owner(c, XCB_ATOM_PRIMARY), nullptr));
  return reply ? reply->owner : xcb_window_t{XCB_WINDOW_NONE};
}

}  // namespace

X11ApplicationEdits::X11ApplicationEdits(gtk::ApplicationProfiles profiles,
                                         X11Pasteboard& clipboard,
                                         std::string displayName)
    : profiles_(std::move(profiles)), clipboard_(clipboard), displayName_(std::move(displayName)) {}

X11ApplicationEdits::~X11ApplicationEdits() = default;

std::optional<gtk::ApplicationProfile> X11ApplicationEdits::profileFor(XcbConnection& connection,
                                                                       xcb_window_t window,
                                                                       pid_t pid) const {
  gtk::ApplicationIdentity identity;
  auto names = connection.classOf(window);
  identity.instanceName = std::move(names.instance);
  identity.className = std::move(names.className);
  identity.processName = processName(pid);
  return profiles_.profileFor(identity);
}

void X11ApplicationEdits::copyFromPrimary(XcbConnection& connection, Ewmh& ewmh, pid_t pid) {
  // The owner is often a window of the application's own that the window
  // manager never sees; the server knows its client all the same.
  const xcb_window_t owner = primaryOwner(connection);
  if (owner == XCB_WINDOW_NONE || ewmh.processOf(owner).value_or(0) != pid)
    return;
  X11Pasteboard* primary = this->primary();
  if (!primary)
    return;
  const auto text = primary->stringForType(NSPasteboardTypeString);
  // A selection another client made while it was read is not the
  // application's.
  if (!text || text->empty() || primaryOwner(connection) != owner)
    return;
  clipboard_.setStringForType(*text, NSPasteboardTypeString);
}

X11Pasteboard* X11ApplicationEdits::primary() {
  if (!primary_) {
    X11Pasteboard::Options options;
    options.displayName = displayName_;
    options.selection = X11Pasteboard::Selection::primary;
    std::string ignored;
    primary_ = X11Pasteboard::open(std::move(options), &ignored);
  }
  return primary_.get();
}

PrimaryLoan::PrimaryLoan(X11Pasteboard& primary, const std::string& text) : primary_(primary) {
  if (auto items = primary_.pasteboardItems()) {
    for (const auto& item : *items) {
      SavedItem saved;
      for (const auto& type : item->types()) {
        if (auto data = item->dataForType(type))
          saved.emplace_back(type, std::move(*data));
      }
      if (!saved.empty())
        saved_.push_back(std::move(saved));
    }
  }
  primary_.clearContents();
  primary_.setStringForType(text, NSPasteboardTypeString);
  lentAt_ = primary_.changeCount();
}

PrimaryLoan::~PrimaryLoan() {
  if (primary_.changeCount() != lentAt_)
    return;
  if (saved_.empty()) {
    primary_.letGo();
    return;
  }
  primary_.clearContents();
  for (auto& saved : saved_) {
    auto item = primary_.makeItem();
    for (auto& [type, data] : saved)
      item->setDataForType(std::move(data), type);
    primary_.writeObjects({item});
  }
}

}  // namespace lumivane::platform::x11
