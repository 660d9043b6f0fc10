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

#include "platform/view.h"
#include "platform/window.h"
#include "platform/x11/x11_glib.h"

namespace lumivane::platform::x11 {

class X11WindowCore;

// --- Views ---------------------------------------------------------------------

enum class X11LayoutEdge { top, bottom, leading, trailing };

class X11LayoutConstraint;

// NSView as a GtkOverlay: subviews and widgets of an interface written in GTK
// are its overlay children, stacked back to front. A subview takes its size
// from its own request at the top-left corner unless active constraints pin
// its edges to the same edges of its superview: pinned on two opposite edges
// it fills that direction, on all four it fills the view and follows every
// resize. Main thread only.
class X11View : public View {
 public:
  // A new view; `background`, when given, is drawn behind every subview and
  // fills the view (the view takes ownership of it).
  static std::shared_ptr<X11View> make(GtkWidget* background = nullptr);
  ~X11View() override;
  X11View(const X11View&) = delete;
  X11View& operator=(const X11View&) = delete;

  // The X11 view behind a platform handle; null for another platform's.
  static X11View* from(const std::shared_ptr<View>& view);

  // A subview that is this view, one of its ancestors or another platform's
  // is refused; one that has a superview leaves it first.
  void addSubview(const std::shared_ptr<View>& subview,
                  WindowOrderingMode positioned,
                  const std::shared_ptr<View>& relativeTo) override;
  void setTranslatesAutoresizingMaskIntoConstraints(bool flag) override;
  std::shared_ptr<LayoutAnchor> topAnchor() override;
  std::shared_ptr<LayoutAnchor> bottomAnchor() override;
  std::shared_ptr<LayoutAnchor> leadingAnchor() override;
  std::shared_ptr<LayoutAnchor> trailingAnchor() override;

  // The view's own widget, for putting it in a GTK container.
  GtkWidget* widget() const { return widget_.get(); }
  // Puts an interface's own GTK widget in this view, filling it, in front of
  // every subview (the backdrop stays behind it).
  void addInterfaceWidget(GtkWidget* widget);

  std::shared_ptr<View> superview() const { return superview_.lock(); }
  // Back to front.
  std::vector<std::shared_ptr<View>> subviews() const;

 private:
  explicit X11View(GtkWidget* background);

  friend class X11LayoutConstraint;
  friend class X11ViewFactory;
  struct Entry {
    std::shared_ptr<View> view;  // Or, for an interface widget, none.
    GObjectPtr<GtkWidget> widget;
  };

  std::shared_ptr<LayoutAnchor> anchor(X11LayoutEdge edge);
  void removeSubview(const X11View* subview);
  void restack();
  // Applies the active constraints between this view and its superview.
  void updateLayout();
  bool isAncestorOf(const X11View* view) const;

  GObjectPtr<GtkWidget> widget_;
  std::weak_ptr<View> self_;
  std::weak_ptr<View> superview_;
  std::vector<Entry> stack_;  // Back to front: subviews and interface widgets.
  std::vector<std::shared_ptr<X11LayoutConstraint>> constraints_;
  std::shared_ptr<LayoutAnchor> anchors_[4];
  bool translatesAutoresizingMask_ = true;
};

// NSVisualEffectView: a backdrop drawn by the GTK theme in the style of the
// chosen material (sidebar: the theme's "sidebar" style). In the "active"
// state it keeps its focused look while its window is not focused; in
// "inactive" it always has the unfocused one.
class X11VisualEffectView final : public VisualEffectView {
 public:
  X11VisualEffectView();
  ~X11VisualEffectView() override;
  X11VisualEffectView(const X11VisualEffectView&) = delete;
  X11VisualEffectView& operator=(const X11VisualEffectView&) = delete;

  void addSubview(const std::shared_ptr<View>& subview,
                  WindowOrderingMode positioned,
                  const std::shared_ptr<View>& relativeTo) override {
    view_->addSubview(subview, positioned, relativeTo);
  }
  void setTranslatesAutoresizingMaskIntoConstraints(bool flag) override {
    view_->setTranslatesAutoresizingMaskIntoConstraints(flag);
  }
  std::shared_ptr<LayoutAnchor> topAnchor() override { return view_->topAnchor(); }
  std::shared_ptr<LayoutAnchor> bottomAnchor() override { return view_->bottomAnchor(); }
  std::shared_ptr<LayoutAnchor> leadingAnchor() override { return view_->leadingAnchor(); }
  std::shared_ptr<LayoutAnchor> trailingAnchor() override { return view_->trailingAnchor(); }

  void setBlendingMode(VisualEffectBlendingMode mode) override { blendingMode_ = mode; }
  void setState(VisualEffectState state) override;
  void setMaterial(VisualEffectMaterial material) override;

  // The view that does the work, and the widget that draws the backdrop.
  const std::shared_ptr<X11View>& view() const { return view_; }
  GtkWidget* backdropWidget() const { return backdrop_; }
  VisualEffectState state() const { return state_; }

 private:
  static gboolean draw(GtkWidget* widget, cairo_t* cr, gpointer self);

  std::shared_ptr<X11View> view_;
  GtkWidget* backdrop_;  // Owned by view_'s widget.
  VisualEffectBlendingMode blendingMode_ = VisualEffectBlendingMode::behindWindow;
  VisualEffectState state_ = VisualEffectState::followsWindowActiveState;
  VisualEffectMaterial material_ = VisualEffectMaterial::titlebar;
};

class X11LayoutAnchor final : public LayoutAnchor {
 public:
  X11LayoutAnchor(std::weak_ptr<View> view, X11LayoutEdge edge)
      : view_(std::move(view)), edge_(edge) {}
  std::shared_ptr<LayoutConstraint> constraintEqualToAnchor(
      const std::shared_ptr<LayoutAnchor>& other) override;

 private:
  std::weak_ptr<View> view_;
  X11LayoutEdge edge_;
};

// "first.edge == second.edge"; holds its views weakly.
class X11LayoutConstraint final : public LayoutConstraint {
 public:
  X11LayoutConstraint(std::weak_ptr<View> first,
                      X11LayoutEdge firstEdge,
                      std::weak_ptr<View> second,
                      X11LayoutEdge secondEdge)
      : first_(std::move(first)),
        firstEdge_(firstEdge),
        second_(std::move(second)),
        secondEdge_(secondEdge) {}

  // The edge of `child` this constraint pins to the same edge of `parent`.
  std::optional<X11LayoutEdge> pinnedEdge(const View* child, const View* parent) const;

 private:
  friend class X11ViewFactory;
  std::weak_ptr<View> first_;
  X11LayoutEdge firstEdge_;
  std::weak_ptr<View> second_;
  X11LayoutEdge secondEdge_;
  bool active_ = false;
};

// Makes views (the embedding's content views among them) and lays them out.
class X11ViewFactory final : public ViewFactory {
 public:
  std::shared_ptr<View> makeView() override;
  std::shared_ptr<VisualEffectView> makeVisualEffectView() override;
  void activateConstraints(const std::vector<std::shared_ptr<LayoutConstraint>>& c) override;
};

// --- Windows -------------------------------------------------------------------

// The host's windows as the application and other backend parts see them.
// Main thread only, except visiblePanelWindow().
class X11WindowList {
 public:
  void add(std::weak_ptr<X11WindowCore> window);
  std::vector<std::shared_ptr<X11WindowCore>> windows() const;
  bool anyVisible() const;
  // The window last made key while it is visible, else a visible panel, else
  // any visible window; null when none is visible.
  std::shared_ptr<X11WindowCore> frontCandidate() const;

  // The X window of the host's panel from when the host shows it until it
  // takes it off the screen, 0 otherwise. Any thread.
  std::uint32_t visiblePanelWindow() const { return visiblePanel_.load(); }
  // True while the panel is still being given the keyboard after being shown
  // (see X11WindowCore::focusStep): until then it may present itself again,
  // so nothing else should be made active. Any thread.
  bool panelSettling() const { return panelSettling_.load(); }

  // Called when the user has closed a window and none is left on screen.
  std::function<void()> onLastWindowClosed;

  // The host became the active application again: windows that went away
  // when it was deactivated come back.
  void hostActivated();

 private:
  friend class X11WindowCore;
  // A window gained or lost the focus; whether the host as a whole did is
  // decided on the next turn of the loop, once the focus has settled (it
  // passes through no window at all between two of the host's).
  void focusChanged();
  void settleActivation();
  void madeKey(const std::shared_ptr<X11WindowCore>& window) { key_ = window; }
  void userClosed();
  void panelShown(std::uint32_t xid) { visiblePanel_.store(xid); }
  void setPanelSettling(bool settling) { panelSettling_.store(settling); }
  void panelHidden(std::uint32_t xid);

  std::vector<std::weak_ptr<X11WindowCore>> windows_;
  std::weak_ptr<X11WindowCore> key_;
  std::atomic<std::uint32_t> visiblePanel_{0};
  std::atomic<bool> panelSettling_{false};
  bool hostActive_ = false;
  GSourcePtr settle_;
};

// Frame widths the window manager adds around a window's content.
struct FrameExtents {
  int left = 0;
  int right = 0;
  int top = 0;
  int bottom = 0;
};

// What windows and panels share: a GtkWindow, what the host set on it, and
// what a user sees of it. Frames are in points with the origin at the lower
// left of the screen, as on macOS; X positions are converted at the edges.
class X11WindowCore {
 public:
  X11WindowCore(std::weak_ptr<X11WindowList> list,
                bool isPanel,
                CGRect contentRect,
                std::uint64_t styleMask);
  virtual ~X11WindowCore();
  X11WindowCore(const X11WindowCore&) = delete;
  X11WindowCore& operator=(const X11WindowCore&) = delete;

  static X11WindowCore* from(const Window* window);

  GtkWindow* gtkWindow() const { return GTK_WINDOW(window_.get()); }
  // The X window, once there is one; 0 before.
  std::uint32_t xid() const;
  bool isPanel() const { return isPanel_; }
  bool isMapped() const;
  // Whether the window has the keyboard focus of the desktop.
  bool hasFocus() const;
  // Whether the window manager has made this window the active one.
  bool isActiveOnServer() const;
  // Tells the window list whether the panel is still being focused.
  void setSettling(bool settling);
  // The window manager's frame around it, as last reported (zero before).
  FrameExtents frameExtents() const { return extents_; }

  // Shows the window (when its frame is not empty) and, unless `focus` is
  // false, brings it forward with the keyboard: the window manager may not
  // focus a window as it maps it, so the request is repeated on the main loop
  // once the window is viewable, until it has the focus, for a bounded time.
  void show(bool focus);
  void hide();
  // Shown by the host and not taken off the screen since.
  bool visibleImpl() const;

 protected:
  friend class X11WindowList;
  friend class X11WindowFactory;

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

  std::weak_ptr<X11WindowCore> self_;
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
  // Reads the frame extents the window manager reports; asks for them and
  // waits a bounded time when it has not reported any yet.
  void refreshFrameExtents(bool askAndWait) const;
  bool isViewable() const;
  int rootHeight() const;
  bool focusStep();
  void applyBackground();

  static gboolean onDelete(GtkWidget*, GdkEvent*, gpointer self);
  static gboolean onConfigure(GtkWidget*, GdkEventConfigure* event, gpointer self);
  static gboolean onMap(GtkWidget*, GdkEvent*, gpointer self);
  static gboolean onButtonPress(GtkWidget*, GdkEventButton* event, gpointer self);
  static void onActiveChanged(GObject*, GParamSpec*, gpointer self);
  // The host became active or inactive as a whole.
  void hostActivationChanged(bool active);

  std::weak_ptr<X11WindowList> list_;
  const bool isPanel_;
  GObjectPtr<GtkWidget> window_;
  GObjectPtr<GtkCssProvider> css_;
  std::shared_ptr<View> defaultContentView_;
  std::shared_ptr<ViewController> contentViewController_;
  std::shared_ptr<View> content_;  // Whichever of the two is shown.

  CGSize contentSize_;
  mutable FrameExtents extents_;
  mutable bool askedForExtents_ = false;
  // A frame with no area keeps the window off the screen; frame() tells the
  // host what it set.
  std::optional<CGRect> emptyFrame_;
  bool visible_ = false;
  bool hiddenByDeactivation_ = false;
  Color background_ = Color::windowBackgroundColor();
  bool opaque_ = true;

  GSourcePtr focusTimer_;
  std::chrono::steady_clock::time_point focusDeadline_;
  std::optional<std::chrono::steady_clock::time_point> lastPresented_;
};

// NSWindow and NSPanel share one implementation.
template <class Interface>
class BasicX11Window : public Interface, public X11WindowCore {
 public:
  using X11WindowCore::X11WindowCore;

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

class X11Window final : public BasicX11Window<Window> {
 public:
  using BasicX11Window<Window>::BasicX11Window;
};

class X11Panel final : public BasicX11Window<Panel> {
 public:
  using BasicX11Window<Panel>::BasicX11Window;
  // A floating panel stays above ordinary windows.
  void setFloatingPanel(bool flag) override {
    setLevelImpl(flag ? NSFloatingWindowLevel : NSNormalWindowLevel);
  }
};

// Makes GtkWindows, off screen. Main thread only; GTK must be initialized.
class X11WindowFactory final : public WindowFactory {
 public:
  explicit X11WindowFactory(std::shared_ptr<X11WindowList> list) : list_(std::move(list)) {}

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
  std::uint32_t visiblePanelWindow() const { return list_->visiblePanelWindow(); }

 private:
  std::shared_ptr<X11WindowList> list_;
};

}  // namespace lumivane::platform::x11
