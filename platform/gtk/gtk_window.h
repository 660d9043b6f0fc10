#pragma once

#include <gtk/gtk.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/gtk/glib_handles.h"
#include "platform/gtk/gtk_view.h"
#include "platform/gtk/window_system.h"
#include "platform/window.h"

namespace lumivane::platform::gtk {

class GtkWindowCore;

// The host's windows as the application and other backend parts see them.
// Main thread only, except visiblePanelWindow() and panelSettling().
class GtkWindowList {
 public:
  // Windows ask `system` what GDK does not tell every backend alike.
  explicit GtkWindowList(
      std::shared_ptr<WindowSystem> system = std::make_shared<PlainWindowSystem>())
      : system_(std::move(system)) {}

  const std::shared_ptr<WindowSystem>& windowSystem() const { return system_; }
  void add(std::weak_ptr<GtkWindowCore> window);
  std::vector<std::shared_ptr<GtkWindowCore>> windows() const;
  bool anyVisible() const;
  // The window last made key while it is visible, else a visible panel, else
  // any visible window; null when none is visible.
  std::shared_ptr<GtkWindowCore> frontCandidate() const;

  // The handle (WindowSystem::handleOf) of the host's panel from when the
  // host shows it until it takes it off the screen, 0 otherwise. Any thread.
  std::uint64_t visiblePanelWindow() const { return visiblePanel_.load(); }
  // True while the panel is still being given the keyboard after being shown
  // (see GtkWindowCore::show): until then it may present itself again, so
  // nothing else should be made active. Any thread.
  bool panelSettling() const { return panelSettling_.load(); }

  // Called when the user has closed a window and none is left on screen.
  std::function<void()> onLastWindowClosed;

  // The host became the active application again: windows that went away
  // when it was deactivated come back.
  void hostActivated();

 private:
  friend class GtkWindowCore;
  // A window gained or lost the focus; whether the host as a whole did is
  // decided on the next turn of the loop, once the focus has settled (it
  // passes through no window at all between two of the host's).
  void focusChanged();
  void settleActivation();
  void madeKey(const std::shared_ptr<GtkWindowCore>& window) { key_ = window; }
  void userClosed();
  void panelShown(std::uint64_t handle) { visiblePanel_.store(handle); }
  void setPanelSettling(bool settling) { panelSettling_.store(settling); }
  void panelHidden(std::uint64_t handle);

  const std::shared_ptr<WindowSystem> system_;
  std::vector<std::weak_ptr<GtkWindowCore>> windows_;
  std::weak_ptr<GtkWindowCore> key_;
  std::atomic<std::uint64_t> visiblePanel_{0};
  std::atomic<bool> panelSettling_{false};
  bool hostActive_ = false;
  GSourcePtr settle_;
};

// What windows and panels share: a GtkWindow, what the host set on it, and
// what a user sees of it. Frames are in points with the origin at the lower
// left of the screen, as on macOS; GDK's positions are converted at the
// edges.
class GtkWindowCore {
 public:
  GtkWindowCore(std::weak_ptr<GtkWindowList> list,
                bool isPanel,
                CGRect contentRect,
                std::uint64_t styleMask);
  virtual ~GtkWindowCore();
  GtkWindowCore(const GtkWindowCore&) = delete;
  GtkWindowCore& operator=(const GtkWindowCore&) = delete;

  static GtkWindowCore* from(const Window* window);

  GtkWindow* gtkWindow() const { return GTK_WINDOW(window_.get()); }
  // The window's handle in its window system, once it has one; 0 before.
  std::uint64_t handle() const;
  bool isPanel() const { return isPanel_; }
  bool isMapped() const;
  // Whether the window has the keyboard focus of the desktop.
  bool hasFocus() const;
  // The window manager's frame around it, as last reported (zero before).
  FrameExtents frameExtents() const { return extents_; }

  // Shows the window (when its frame is not empty) and, unless `focus` is
  // false, brings it forward with the keyboard. The window manager may not
  // focus a window as it maps it: once the server says the window is mapped,
  // the request is made again at intervals until the focus comes or a bound
  // passes.
  void show(bool focus);
  void hide();
  // Shown by the host and not taken off the screen since.
  bool visibleImpl() const;

 protected:
  friend class GtkWindowList;
  friend class GtkWindowFactory;

  void setContentViewControllerImpl(const std::shared_ptr<ViewController>& controller);
  std::shared_ptr<View> contentViewImpl() const;
  void setContentSizeImpl(CGSize size);
  CGRect frameImpl() const;
  void setFrameImpl(CGRect frame);
  void setTitleImpl(const std::string& title);
  void setLevelImpl(int level);
  void setCollectionBehaviorImpl(std::uint64_t behavior);
  void setOpaqueImpl(bool flag);
  void setBackgroundColorImpl(Color color);
  void centerImpl();
  void performWindowDragImpl(const Event& event);

  std::weak_ptr<GtkWindowCore> self_;
  bool movableByWindowBackground_ = false;
  bool hidesOnDeactivate_ = false;
  // Kept but without effect: the window manager draws the title bar, frame
  // and shadow, and the title stays readable by task switchers.
  bool hasShadow_ = true;
  WindowTitleVisibility titleVisibility_ = WindowTitleVisibility::visible;
  bool titlebarAppearsTransparent_ = false;
  TitlebarSeparatorStyle titlebarSeparatorStyle_ = TitlebarSeparatorStyle::automatic;

 private:
  void setContent(const std::shared_ptr<View>& view);
  void resizeContent(int width, int height);
  // Reads the frame extents the window manager reports, when it has.
  void refreshFrameExtents() const;
  int rootHeight() const;
  // Places the window as center() asked, with the frame as now known.
  void placeAtCentre();
  // Tells the window list whether the panel is still being focused.
  void setSettling(bool settling);
  // Asks for the focus again; false once there is nothing left to ask for.
  bool focusStep();
  void presentWithTime();
  void stopFocusing();
  void applyBackground();

  static gboolean onDelete(GtkWidget*, GdkEvent*, gpointer self);
  static gboolean onConfigure(GtkWidget*, GdkEventConfigure* event, gpointer self);
  static gboolean onMap(GtkWidget*, GdkEvent*, gpointer self);
  static gboolean onUnmap(GtkWidget*, GdkEvent*, gpointer self);
  static gboolean onPropertyNotify(GtkWidget*, GdkEventProperty* event, gpointer self);
  static gboolean onButtonPress(GtkWidget*, GdkEventButton* event, gpointer self);
  static void onActiveChanged(GObject*, GParamSpec*, gpointer self);
  // The host became active or inactive as a whole.
  void hostActivationChanged(bool active);

  std::weak_ptr<GtkWindowList> list_;
  const std::shared_ptr<WindowSystem> system_;
  const bool isPanel_;
  GObjectPtr<GtkWidget> window_;
  GObjectPtr<GtkCssProvider> css_;
  std::shared_ptr<View> defaultContentView_;
  std::shared_ptr<ViewController> contentViewController_;
  std::shared_ptr<View> content_;  // Whichever of the two is shown.

  CGSize contentSize_;
  mutable FrameExtents extents_;
  bool askedForExtents_ = false;
  // center() placed the window and nothing has moved it since: once the
  // window manager tells its frame, the window is centred again with it.
  bool centred_ = false;
  // The server has mapped the window (map-event) and not unmapped it since.
  bool viewable_ = false;
  // A frame with no area keeps the window off the screen; frame() tells the
  // host what it set.
  std::optional<CGRect> emptyFrame_;
  bool visible_ = false;
  bool hiddenByDeactivation_ = false;
  Color background_ = Color::windowBackgroundColor();
  bool opaque_ = true;

  GSourcePtr focusRetry_;
  std::chrono::steady_clock::time_point focusDeadline_;
};

// NSWindow and NSPanel share one implementation.
template <class Interface>
class BasicGtkWindow : public Interface, public GtkWindowCore {
 public:
  using GtkWindowCore::GtkWindowCore;

  void awakeFromNib() override {}
  void setContentViewController(const std::shared_ptr<ViewController>& controller) override {
    setContentViewControllerImpl(controller);
  }
  std::shared_ptr<View> contentView() const override { return contentViewImpl(); }
  void setContentSize(CGSize size) override { setContentSizeImpl(size); }
  CGRect frame() const override { return frameImpl(); }
  void setFrame(CGRect frame, bool /*display*/) override { setFrameImpl(frame); }
  void setTitle(const std::string& title) override { setTitleImpl(title); }
  void setLevel(int level) override { setLevelImpl(level); }
  void setCollectionBehavior(std::uint64_t behavior) override {
    setCollectionBehaviorImpl(behavior);
  }
  void setHidesOnDeactivate(bool flag) override { hidesOnDeactivate_ = flag; }
  void setOpaque(bool flag) override { setOpaqueImpl(flag); }
  void setBackgroundColor(Color color) override { setBackgroundColorImpl(color); }
  void setTitleVisibility(WindowTitleVisibility visibility) override {
    titleVisibility_ = visibility;
  }
  void setTitlebarAppearsTransparent(bool flag) override { titlebarAppearsTransparent_ = flag; }
  void setTitlebarSeparatorStyle(TitlebarSeparatorStyle style) override {
    titlebarSeparatorStyle_ = style;
  }
  void setMovableByWindowBackground(bool flag) override { movableByWindowBackground_ = flag; }
  void setHasShadow(bool flag) override { hasShadow_ = flag; }
  void center() override { centerImpl(); }
  void makeKeyAndOrderFront() override { show(/*focus=*/true); }
  void orderFront() override { show(/*focus=*/false); }
  void orderOut() override { hide(); }
  void setIsVisible(bool flag) override {
    if (flag) {
      show(/*focus=*/false);
    } else {
      hide();
    }
  }
  bool isVisible() const override { return visibleImpl(); }
  void performWindowDragWithEvent(const Event& event) override { performWindowDragImpl(event); }
};

class GtkHostWindow final : public BasicGtkWindow<Window> {
 public:
  using BasicGtkWindow<Window>::BasicGtkWindow;
};

class GtkHostPanel final : public BasicGtkWindow<Panel> {
 public:
  using BasicGtkWindow<Panel>::BasicGtkWindow;
  // A floating panel stays above ordinary windows.
  void setFloatingPanel(bool flag) override {
    setLevelImpl(flag ? NSFloatingWindowLevel : NSNormalWindowLevel);
  }
};

// Makes GtkWindows, off screen. Main thread only; GTK must be initialized.
class GtkWindowFactory final : public WindowFactory {
 public:
  explicit GtkWindowFactory(std::shared_ptr<GtkWindowList> list) : list_(std::move(list)) {}

  std::shared_ptr<Window> makeWindow(CGRect contentRect,
                                     std::uint64_t styleMask,
                                     BackingStoreType backing,
                                     bool defer) override;
  std::shared_ptr<Panel> makePanel(CGRect contentRect,
                                   std::uint64_t styleMask,
                                   BackingStoreType backing,
                                   bool defer) override;

  // The X window of the host's panel while it is on screen, 0 otherwise. Any
  // thread: the synthetic-key service gives the focus back to it.
  std::uint64_t visiblePanelWindow() const { return list_->visiblePanelWindow(); }

 private:
  std::shared_ptr<GtkWindowList> list_;
};

}  // namespace lumivane::platform::gtk
