#include "platform/x11/x11_application_edits.h"

#include <string_view>

namespace lumivane::platform::x11 {
namespace {

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
  identity.processName = gtk::processNameOf(pid);
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

}  // namespace lumivane::platform::x11
