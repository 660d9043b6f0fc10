#include "platform/wayland/xwayland_primary.h"

#if LUMIVANE_XWAYLAND_X11
#include <xcb/xfixes.h>

#include "platform/x11/x11_selection.h"
#endif

namespace lumivane::platform::wayland {

#if LUMIVANE_XWAYLAND_X11
namespace {

class XcbPrimary final : public XWaylandPrimary {
 public:
  XcbPrimary(std::unique_ptr<x11::SelectionWindow> window, std::uint8_t ownerEvent)
      : window_(std::move(window)), ownerEvent_(ownerEvent) {}

  bool alive() const override { return window_->alive(); }

  void mark() override {
    newOwner_ = false;
    if (!window_->sync())
      return;
    while (auto event = window_->nextEvent()) {
    }
  }

  bool waitForNewOwner(std::chrono::milliseconds bound) override {
    const auto deadline = x11::SteadyClock::now() + bound;
    while (!newOwner_ && window_->alive()) {
      while (auto event = window_->nextEvent()) {
        if ((event->response_type & 0x7f) != ownerEvent_)
          continue;
        const auto& change = reinterpret_cast<const xcb_xfixes_selection_notify_event_t&>(*event);
        if (change.subtype == XCB_XFIXES_SELECTION_EVENT_SET_SELECTION_OWNER &&
            change.owner != XCB_WINDOW_NONE)
          newOwner_ = true;
      }
      if (newOwner_ || x11::SteadyClock::now() >= deadline)
        break;
      window_->wait(deadline, -1);
    }
    return newOwner_;
  }

 private:
  const std::unique_ptr<x11::SelectionWindow> window_;
  const std::uint8_t ownerEvent_;
  bool newOwner_ = false;
};

}  // namespace

std::unique_ptr<XWaylandPrimary> XWaylandPrimary::open() {
  std::string error;
  auto window = x11::SelectionWindow::open("", &error);
  if (!window)
    return nullptr;
  const auto ownerEvent = window->watchOwner(XCB_ATOM_PRIMARY);
  if (!ownerEvent)
    return nullptr;
  return std::make_unique<XcbPrimary>(std::move(window), *ownerEvent);
}
#else
std::unique_ptr<XWaylandPrimary> XWaylandPrimary::open() {
  return nullptr;
}
#endif

}  // namespace lumivane::platform::wayland
