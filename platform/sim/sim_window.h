#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/sim/sim_common.h"
#include "platform/window.h"

namespace lumivane::platform::sim {

class SimViewFactory;
class SimWindowFactory;

// The one screen: 1440 by 900 points, its usable area below a 24-point menu
// bar (no Dock).
struct SimScreen {
  CGRect frame = CGRectMake(0, 0, 1440, 900);
  CGRect visibleFrame = CGRectMake(0, 0, 1440, 876);
};

// A drag the host started with performWindowDragWithEvent.
struct WindowDrag {
  double time = 0;
  Event event;
  // Only a drag that starts from a mouse-down moves the window.
  bool moved = false;
};

// The height of a title bar above a window's content.
inline constexpr double kTitleBarHeight = 28;

// What windows and panels share: every property, visibility and key state,
// the scripted user's actions, and what a user would see of the window.
class SimWindowState {
 public:
  SimWindowState(std::string name,
                 bool isPanel,
                 CGRect contentRect,
                 std::uint64_t styleMask,
                 std::weak_ptr<SimWindowFactory> factory);
  virtual ~SimWindowState() = default;

  // The sim's window behind a platform handle; null for a foreign window.
  static SimWindowState* from(const Window* window);
  template <class W>
  static SimWindowState* from(const std::shared_ptr<W>& window) {
    return from(static_cast<const Window*>(window.get()));
  }

  const std::string& name() const { return name_; }
  bool isPanel() const { return isPanel_; }
  const std::vector<WindowDrag>& drags() const { return drags_; }

  // What a user sees of the window.
  bool visible() const { return visible_; }
  // Takes the keyboard's input.
  bool key() const { return key_; }
  CGRect currentFrame() const { return frame_; }
  CGSize currentContentSize() const;
  // Where center() would put it at its current size.
  bool isCentered() const;
  const std::string& title() const { return title_; }
  // Shown in the title bar (false: the title bar shows no text).
  bool showsTitle() const { return titleVisibility_ == WindowTitleVisibility::visible; }
  bool showsTitlebarSeparator() const {
    return titlebarSeparatorStyle_ != TitlebarSeparatorStyle::none;
  }
  bool titlebarIsTransparent() const { return titlebarAppearsTransparent_; }
  // Stays in front of every ordinary window, even of the active application.
  bool floatsAboveOrdinaryWindows() const { return level_ > NSNormalWindowLevel; }
  // Present on every desktop space, and beside full-screen applications.
  bool isOnEverySpace() const {
    return (collectionBehavior_ & NSWindowCollectionBehaviorCanJoinAllSpaces) != 0;
  }
  bool showsBesideFullScreenApplications() const {
    return (collectionBehavior_ & NSWindowCollectionBehaviorFullScreenAuxiliary) != 0;
  }
  // Left out of the cycling through an application's windows.
  bool isTransient() const {
    return (collectionBehavior_ & NSWindowCollectionBehaviorTransient) != 0;
  }
  // Stays on screen when another application becomes active.
  bool staysUpWhenDeactivated() const { return !hidesOnDeactivate_; }
  // What shows through where nothing is drawn, and whether anything can.
  Color backgroundColor() const { return backgroundColor_; }
  bool isOpaque() const { return opaque_; }
  bool castsShadow() const { return hasShadow_; }
  // Whether dragging its background moves it (the title bar always does).
  bool movesByBackground() const { return movableByWindowBackground_; }
  bool canMiniaturize() const { return (styleMask_ & NSWindowStyleMaskMiniaturizable) != 0; }
  bool activatesApplication() const {
    return (styleMask_ & NSWindowStyleMaskNonactivatingPanel) == 0;
  }
  bool isFloatingPanel() const { return floatingPanel_; }

  // The user's actions. Resizing keeps the top-left corner in place.
  void userResize(CGSize frameSize);
  void userMove(CGPoint origin);
  // Clicks the title bar's close button. False when the window has none or is
  // not on screen.
  bool userClickCloseButton();
  // Where the mouse takes the window in the next drag.
  void setDragOffset(CGPoint offset) { dragOffset_ = offset; }

 protected:
  friend class SimWindowFactory;

  // Every operation: windows belong to the main thread.
  void touch();
  void show();
  void hide();
  void setKey(bool key) { key_ = key; }
  bool canBecomeKey() const;
  double titleBarHeight() const;
  void setContentSizeKeepingTop(CGSize size);
  void setFrameSizeKeepingTop(CGSize size);
  void placeCentered();
  // Where placeCentered puts a window of the current size.
  CGPoint centeredOrigin() const;
  void drag(const Event& event);
  std::shared_ptr<View> currentContentView() const;
  void attachContentViewController(const std::shared_ptr<ViewController>& controller);
  void linkContentView();
  void makeKey();

  std::string name_;
  bool isPanel_;
  std::weak_ptr<SimWindowFactory> factory_;
  std::weak_ptr<SimWindowState> self_;
  std::vector<WindowDrag> drags_;

  std::uint64_t styleMask_;
  CGRect frame_;
  std::string title_;
  std::uint64_t collectionBehavior_ = 0;
  Color backgroundColor_ = Color::windowBackgroundColor();
  CGPoint dragOffset_;
  std::shared_ptr<ViewController> contentViewController_;
  std::shared_ptr<View> defaultContentView_;
  int level_ = NSNormalWindowLevel;
  WindowTitleVisibility titleVisibility_ = WindowTitleVisibility::visible;
  TitlebarSeparatorStyle titlebarSeparatorStyle_ = TitlebarSeparatorStyle::automatic;
  bool hidesOnDeactivate_ = false;
  bool hiddenByDeactivation_ = false;
  bool opaque_ = true;
  bool titlebarAppearsTransparent_ = false;
  bool movableByWindowBackground_ = false;
  bool hasShadow_ = true;
  bool floatingPanel_ = false;
  bool visible_ = false;
  bool key_ = false;
  bool noContentView_ = false;
};

// NSWindow and NSPanel share one implementation.
template <class Interface>
class BasicSimWindow : public Interface, public SimWindowState {
 public:
  using SimWindowState::SimWindowState;

  void awakeFromNib() override;
  void setContentViewController(const std::shared_ptr<ViewController>& controller) override;
  std::shared_ptr<View> contentView() const override;
  void setContentSize(CGSize size) override;
  CGRect frame() const override;
  void setFrame(CGRect frame, bool display) override;
  void setTitle(const std::string& title) override;
  void setLevel(int level) override;
  void setCollectionBehavior(std::uint64_t behavior) override;
  void setHidesOnDeactivate(bool flag) override;
  void setOpaque(bool flag) override;
  void setBackgroundColor(Color color) override;
  void setTitleVisibility(WindowTitleVisibility visibility) override;
  void setTitlebarAppearsTransparent(bool flag) override;
  void setTitlebarSeparatorStyle(TitlebarSeparatorStyle style) override;
  void setMovableByWindowBackground(bool flag) override;
  void setHasShadow(bool flag) override;
  void center() override;
  void makeKeyAndOrderFront() override;
  void orderFront() override;
  void orderOut() override;
  void setIsVisible(bool flag) override;
  bool isVisible() const override;
  void performWindowDragWithEvent(const Event& event) override;
};

class SimWindow final : public BasicSimWindow<Window> {
 public:
  using BasicSimWindow<Window>::BasicSimWindow;
};

class SimPanel final : public BasicSimWindow<Panel> {
 public:
  using BasicSimWindow<Panel>::BasicSimWindow;
  void setFloatingPanel(bool flag) override;
};

// Makes windows and keeps track of them (weakly): which one is key, what
// happens to them when the host is deactivated, when the last one closes.
class SimWindowFactory final : public WindowFactory,
                               public std::enable_shared_from_this<SimWindowFactory> {
 public:
  SimWindowFactory(SimTrace& trace, MisuseLog& misuse, SimViewFactory& views);

  std::shared_ptr<Window> makeWindow(CGRect contentRect,
                                     std::uint64_t styleMask,
                                     BackingStoreType backing,
                                     bool defer) override;
  std::shared_ptr<Panel> makePanel(CGRect contentRect,
                                   std::uint64_t styleMask,
                                   BackingStoreType backing,
                                   bool defer) override;

  // Scripting. Panels made from now on have no content view at all.
  void setPanelsHaveNoContentView(bool flag) { panelsHaveNoContentView_ = flag; }
  const SimScreen& screen() const { return screen_; }
  // Called when the user closes the last visible window.
  void setLastWindowClosedHandler(std::function<void()> handler) {
    lastWindowClosed_ = std::move(handler);
  }

  // Inspection: live windows in creation order.
  std::vector<SimWindowState*> windows() const;
  bool anyVisible() const;

  // The host became active or inactive: windows that hide on deactivation go
  // away, and come back on the next activation.
  void hostActivationChanged(bool active);

 private:
  friend class SimWindowState;
  template <class W>
  std::shared_ptr<W> make(CGRect contentRect, std::uint64_t styleMask, bool isPanel);
  void keyChanged(const SimWindowState* key);
  void userClosed();

  SimTrace& trace_;
  MisuseLog& misuse_;
  SimViewFactory& views_;
  SimScreen screen_;
  bool panelsHaveNoContentView_ = false;
  std::function<void()> lastWindowClosed_;
  std::vector<std::weak_ptr<SimWindowState>> windows_;
  int nextId_ = 1;
};

}  // namespace lumivane::platform::sim
