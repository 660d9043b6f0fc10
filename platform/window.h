#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "platform/color.h"
#include "platform/event.h"
#include "platform/geometry.h"
#include "platform/view.h"

namespace lumivane::platform {

// NSWindowStyleMask bits.
inline constexpr std::uint64_t NSWindowStyleMaskBorderless = 0;
inline constexpr std::uint64_t NSWindowStyleMaskTitled = 1ull << 0;
inline constexpr std::uint64_t NSWindowStyleMaskClosable = 1ull << 1;
inline constexpr std::uint64_t NSWindowStyleMaskMiniaturizable = 1ull << 2;
inline constexpr std::uint64_t NSWindowStyleMaskResizable = 1ull << 3;
inline constexpr std::uint64_t NSWindowStyleMaskNonactivatingPanel = 1ull << 7;
inline constexpr std::uint64_t NSWindowStyleMaskFullSizeContentView = 1ull << 15;

// NSWindowCollectionBehavior bits.
inline constexpr std::uint64_t NSWindowCollectionBehaviorCanJoinAllSpaces = 1ull << 0;
inline constexpr std::uint64_t NSWindowCollectionBehaviorTransient = 1ull << 3;
inline constexpr std::uint64_t NSWindowCollectionBehaviorFullScreenAuxiliary = 1ull << 8;

// NSBackingStoreType.
enum class BackingStoreType { retained = 0, nonretained = 1, buffered = 2 };

// Window levels (NSWindowLevel).
inline constexpr int NSNormalWindowLevel = 0;
inline constexpr int NSFloatingWindowLevel = 3;

enum class WindowTitleVisibility { visible = 0, hidden = 1 };
enum class TitlebarSeparatorStyle { automatic = 0, none = 1, line = 2, shadow = 3 };

// A window on screen (NSWindow). Main thread only. Frames are in screen
// coordinates and include the title bar.
class Window {
 public:
  virtual ~Window() = default;

  // Called once the window has been loaded from the main user-interface file.
  virtual void awakeFromNib() = 0;

  virtual void setContentViewController(const std::shared_ptr<ViewController>& controller) = 0;
  // The window's content view: the content view controller's view once there
  // is one. Absent when the window has no content view.
  virtual std::shared_ptr<View> contentView() const = 0;
  // Resizes the window so that its content area has this size; the top-left
  // corner stays where it is.
  virtual void setContentSize(CGSize size) = 0;

  virtual CGRect frame() const = 0;
  virtual void setFrame(CGRect frame, bool display) = 0;

  // The window's look and behaviour (the NSWindow properties of the same
  // names). How a platform shows each one is its own affair; what a user sees
  // is what counts: the title, a level above ordinary windows, presence on
  // every workspace, staying up when the application is deactivated.
  virtual void setTitle(const std::string& title) = 0;
  virtual void setLevel(int level) = 0;
  virtual void setCollectionBehavior(std::uint64_t behavior) = 0;
  virtual void setHidesOnDeactivate(bool flag) = 0;
  virtual void setOpaque(bool flag) = 0;
  virtual void setBackgroundColor(Color color) = 0;
  virtual void setTitleVisibility(WindowTitleVisibility visibility) = 0;
  virtual void setTitlebarAppearsTransparent(bool flag) = 0;
  virtual void setTitlebarSeparatorStyle(TitlebarSeparatorStyle style) = 0;
  virtual void setMovableByWindowBackground(bool flag) = 0;
  virtual void setHasShadow(bool flag) = 0;

  // Places the window on its screen, centred horizontally and somewhat above
  // the middle (center).
  virtual void center() = 0;
  // Shows the window in front of its level and makes it key
  // (makeKeyAndOrderFront: with no sender).
  virtual void makeKeyAndOrderFront() = 0;
  // Shows the window in front of its level without making it key (orderFront:).
  virtual void orderFront() = 0;
  // Takes the window off the screen (orderOut: with no sender).
  virtual void orderOut() = 0;
  virtual void setIsVisible(bool flag) = 0;
  virtual bool isVisible() const = 0;

  // Starts a drag of the window that follows the mouse from `event`
  // (performWindowDragWithEvent:). Returns once the drag has ended.
  virtual void performWindowDragWithEvent(const Event& event) = 0;
};

// A floating utility window (NSPanel).
class Panel : public Window {
 public:
  virtual void setFloatingPanel(bool flag) = 0;
};

// Creates windows (initWithContentRect:styleMask:backing:defer: on NSWindow and
// NSPanel). The new window is off screen.
class WindowFactory {
 public:
  virtual ~WindowFactory() = default;
  virtual std::shared_ptr<Window> makeWindow(CGRect contentRect,
                                             std::uint64_t styleMask,
                                             BackingStoreType backing,
                                             bool defer) = 0;
  virtual std::shared_ptr<Panel> makePanel(CGRect contentRect,
                                           std::uint64_t styleMask,
                                           BackingStoreType backing,
                                           bool defer) = 0;
};

}  // namespace lumivane::platform
