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
// the scripted user's actions, and the log of operations the host performed,
// in order ("setTitle:Lumivane", "setLevel:3", "center", ...).
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
  const std::vector<std::string>& operations() const { return operations_; }
  const std::vector<WindowDrag>& drags() const { return drags_; }
  bool visible() const { return visible_; }
  bool key() const { return key_; }
  CGRect currentFrame() const { return frame_; }
  CGSize currentContentSize() const;

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

  void log(std::string operation);
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
  std::vector<std::string> operations_;
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
  std::shared_ptr<ViewController> contentViewController() const override;
  std::shared_ptr<View> contentView() const override;
  void setContentSize(CGSize size) override;
  CGSize contentSize() const override;
  CGRect frame() const override;
  void setFrame(CGRect frame, bool display) override;
  void setTitle(const std::string& title) override;
  std::string title() const override;
  void setLevel(int level) override;
  int level() const override;
  void setCollectionBehavior(std::uint64_t behavior) override;
  std::uint64_t collectionBehavior() const override;
  void setHidesOnDeactivate(bool flag) override;
  bool hidesOnDeactivate() const override;
  void setOpaque(bool flag) override;
  bool isOpaque() const override;
  void setBackgroundColor(Color color) override;
  Color backgroundColor() const override;
  void setTitleVisibility(WindowTitleVisibility visibility) override;
  WindowTitleVisibility titleVisibility() const override;
  void setTitlebarAppearsTransparent(bool flag) override;
  bool titlebarAppearsTransparent() const override;
  void setTitlebarSeparatorStyle(TitlebarSeparatorStyle style) override;
  TitlebarSeparatorStyle titlebarSeparatorStyle() const override;
  void setMovableByWindowBackground(bool flag) override;
  bool isMovableByWindowBackground() const override;
  void setHasShadow(bool flag) override;
  bool hasShadow() const override;
  std::uint64_t styleMask() const override;
  void center() override;
  void makeKeyAndOrderFront() override;
  void orderFront() override;
  void orderOut() override;
  void setIsVisible(bool flag) override;
  bool isVisible() const override;
  bool isKeyWindow() const override;
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
  bool isFloatingPanel() const override;
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
  std::shared_ptr<W> make(CGRect contentRect,
                          std::uint64_t styleMask,
                          BackingStoreType backing,
                          bool defer,
                          bool isPanel);
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
