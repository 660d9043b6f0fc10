#include "platform/gtk/gtk_window.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <utility>

#include "platform/utf8.h"

namespace lumivane::platform::gtk {
namespace {

using Clock = std::chrono::steady_clock;

// How often the focus is asked for again while it has not come.
constexpr guint kFocusRetryMilliseconds = 100;
// When to stop asking: another window has taken the focus for good.
constexpr auto kFocusGiveUpAfter = std::chrono::seconds(3);
// The largest window side GDK can express.
constexpr double kLargestSide = 32767;

int toSide(double points) {
  if (!std::isfinite(points) || points < 1) {
    return 1;
  }
  return static_cast<int>(std::lround(std::min(points, kLargestSide)));
}

bool isFinite(const CGRect& r) {
  return std::isfinite(r.origin.x) && std::isfinite(r.origin.y) && std::isfinite(r.size.width) &&
         std::isfinite(r.size.height);
}

int clampCoordinate(double value) {
  return static_cast<int>(std::lround(std::clamp(value, -kLargestSide, kLargestSide)));
}

}  // namespace

// --- The window list -------------------------------------------------------------

void GtkWindowList::add(std::weak_ptr<GtkWindowCore> window) {
  windows_.erase(std::remove_if(windows_.begin(), windows_.end(),
                                [](const auto& weak) { return weak.expired(); }),
                 windows_.end());
  windows_.push_back(std::move(window));
}

std::vector<std::shared_ptr<GtkWindowCore>> GtkWindowList::windows() const {
  std::vector<std::shared_ptr<GtkWindowCore>> live;
  for (const auto& weak : windows_) {
    if (auto window = weak.lock()) {
      live.push_back(std::move(window));
    }
  }
  return live;
}

bool GtkWindowList::anyVisible() const {
  const auto live = windows();
  return std::any_of(live.begin(), live.end(), [](const auto& w) { return w->visibleImpl(); });
}

std::shared_ptr<GtkWindowCore> GtkWindowList::frontCandidate() const {
  if (auto key = key_.lock(); key && key->visibleImpl()) {
    return key;
  }
  std::shared_ptr<GtkWindowCore> any;
  for (auto& window : windows()) {
    if (!window->visibleImpl()) {
      continue;
    }
    if (window->isPanel()) {
      return window;
    }
    if (!any) {
      any = window;
    }
  }
  return any;
}

void GtkWindowList::userClosed() {
  if (!anyVisible() && onLastWindowClosed) {
    // A copy: the handler may end the application and with it this list's
    // owner's interest in it.
    auto handler = onLastWindowClosed;
    handler();
  }
}

void GtkWindowList::focusChanged() {
  if (!settle_) {
    settle_ = addMainTimeout(0, [this] {
      settleActivation();
      return false;
    });
  }
}

void GtkWindowList::settleActivation() {
  settle_.reset();
  const auto live = windows();
  const bool active = std::any_of(live.begin(), live.end(),
                                  [](const auto& w) { return w->visibleImpl() && w->hasFocus(); });
  if (active == hostActive_) {
    return;
  }
  hostActive_ = active;
  for (const auto& window : live) {
    window->hostActivationChanged(active);
  }
}

void GtkWindowList::hostActivated() {
  for (const auto& window : windows()) {
    window->hostActivationChanged(true);
  }
}

void GtkWindowList::panelHidden(std::uint64_t handle) {
  std::uint64_t expected = handle;
  visiblePanel_.compare_exchange_strong(expected, 0);
}

// --- Windows ----------------------------------------------------------------------

GtkWindowCore::GtkWindowCore(std::weak_ptr<GtkWindowList> list,
                             bool isPanel,
                             CGRect contentRect,
                             std::uint64_t styleMask)
    : list_(list),
      system_(list.lock() ? list.lock()->windowSystem() : std::make_shared<PlainWindowSystem>()),
      isPanel_(isPanel),
      window_(retainObject(gtk_window_new(GTK_WINDOW_TOPLEVEL))),
      defaultContentView_(GtkHostView::make()) {
  GtkWindow* window = gtkWindow();
  if (isPanel_) {
    // A utility window: no task-bar entry of its own, no iconify button.
    gtk_window_set_type_hint(window, GDK_WINDOW_TYPE_HINT_UTILITY);
  }
  const bool titled = (styleMask & NSWindowStyleMaskTitled) != 0;
  gtk_window_set_decorated(window, titled || (styleMask & NSWindowStyleMaskResizable) != 0);
  gtk_window_set_deletable(window, (styleMask & NSWindowStyleMaskClosable) != 0);
  gtk_window_set_resizable(window, (styleMask & NSWindowStyleMaskResizable) != 0);
  gtk_widget_add_events(window_.get(), GDK_BUTTON_PRESS_MASK | GDK_BUTTON_RELEASE_MASK |
                                           GDK_STRUCTURE_MASK | GDK_PROPERTY_CHANGE_MASK);

  g_signal_connect(window, "delete-event", G_CALLBACK(&GtkWindowCore::onDelete), this);
  g_signal_connect(window, "configure-event", G_CALLBACK(&GtkWindowCore::onConfigure), this);
  g_signal_connect(window, "map-event", G_CALLBACK(&GtkWindowCore::onMap), this);
  g_signal_connect(window, "unmap-event", G_CALLBACK(&GtkWindowCore::onUnmap), this);
  g_signal_connect(window, "property-notify-event", G_CALLBACK(&GtkWindowCore::onPropertyNotify),
                   this);
  g_signal_connect(window, "button-press-event", G_CALLBACK(&GtkWindowCore::onButtonPress), this);
  g_signal_connect(window, "notify::is-active", G_CALLBACK(&GtkWindowCore::onActiveChanged), this);

  setContent(defaultContentView_);
  if (isFinite(contentRect) && CGRectGetWidth(contentRect) > 0 &&
      CGRectGetHeight(contentRect) > 0) {
    setFrameImpl(contentRect);
  } else {
    setContentSizeImpl(contentRect.size);
  }
}

GtkWindowCore::~GtkWindowCore() {
  stopFocusing();
  GtkWidget* window = window_.get();
  g_signal_handlers_disconnect_by_data(window, this);
  if (auto list = list_.lock(); list && isPanel_) {
    list->panelHidden(handle());
  }
  // The content view may outlive the window: taken out first, it is not
  // destroyed with it.
  if (GtkWidget* child = gtk_bin_get_child(GTK_BIN(window))) {
    gtk_container_remove(GTK_CONTAINER(window), child);
  }
  gtk_widget_destroy(window);
}

GtkWindowCore* GtkWindowCore::from(const Window* window) {
  return const_cast<GtkWindowCore*>(dynamic_cast<const GtkWindowCore*>(window));
}

std::uint64_t GtkWindowCore::handle() const {
  return gtk_widget_get_realized(window_.get()) ? system_->handleOf(window_.get()) : 0;
}

bool GtkWindowCore::isMapped() const {
  return gtk_widget_get_mapped(window_.get());
}

bool GtkWindowCore::hasFocus() const {
  return gtk_window_is_active(gtkWindow());
}

bool GtkWindowCore::visibleImpl() const {
  return visible_ && gtk_widget_get_visible(window_.get());
}

void GtkWindowCore::setContent(const std::shared_ptr<View>& view) {
  auto* x11 = GtkHostView::from(view);
  if (!x11 || x11->superview()) {
    return;
  }
  GtkContainer* window = GTK_CONTAINER(window_.get());
  GtkWidget* current = gtk_bin_get_child(GTK_BIN(window));
  if (current == x11->widget()) {
    content_ = view;
    return;
  }
  if (current) {
    gtk_container_remove(window, current);
  }
  if (GtkWidget* parent = gtk_widget_get_parent(x11->widget())) {
    gtk_container_remove(GTK_CONTAINER(parent), x11->widget());
  }
  gtk_container_add(window, x11->widget());
  content_ = view;
}

void GtkWindowCore::setContentViewControllerImpl(
    const std::shared_ptr<ViewController>& controller) {
  contentViewController_ = controller;
  auto view = controller ? controller->view() : nullptr;
  setContent(view ? view : defaultContentView_);
}

std::shared_ptr<View> GtkWindowCore::contentViewImpl() const {
  if (contentViewController_) {
    if (auto view = contentViewController_->view()) {
      return view;
    }
  }
  return defaultContentView_;
}

int GtkWindowCore::rootHeight() const {
  GdkScreen* screen = gtk_window_get_screen(gtkWindow());
  return gdk_window_get_height(gdk_screen_get_root_window(screen));
}

void GtkWindowCore::refreshFrameExtents() const {
  if (!gtk_widget_get_realized(window_.get())) {
    return;
  }
  if (auto extents = system_->frameExtents(window_.get())) {
    extents_ = *extents;
  }
}

CGRect GtkWindowCore::frameImpl() const {
  if (emptyFrame_) {
    return *emptyFrame_;
  }
  refreshFrameExtents();
  int x = 0;
  int y = 0;
  gtk_window_get_position(gtkWindow(), &x, &y);
  const double width = contentSize_.width + extents_.left + extents_.right;
  const double height = contentSize_.height + extents_.top + extents_.bottom;
  return CGRectMake(x, rootHeight() - (y + height), width, height);
}

void GtkWindowCore::setFrameImpl(CGRect frame) {
  if (!isFinite(frame)) {
    return;
  }
  const double width = CGRectGetWidth(frame);
  const double height = CGRectGetHeight(frame);
  if (width < 1 || height < 1) {
    // Nothing of the window could be seen: keep it off the screen altogether
    // rather than show a sliver.
    emptyFrame_ = frame;
    hide();
    return;
  }
  emptyFrame_.reset();
  centred_ = false;
  const int contentWidth = toSide(width - extents_.left - extents_.right);
  const int contentHeight = toSide(height - extents_.top - extents_.bottom);
  resizeContent(contentWidth, contentHeight);
  // The frame's top-left corner (the default gravity places the window
  // manager's frame there).
  gtk_window_move(gtkWindow(), clampCoordinate(frame.origin.x),
                  clampCoordinate(rootHeight() - (frame.origin.y + height)));
}

void GtkWindowCore::setContentSizeImpl(CGSize size) {
  if (!std::isfinite(size.width) || !std::isfinite(size.height)) {
    return;
  }
  emptyFrame_.reset();
  const int width = toSide(size.width);
  const int height = toSide(size.height);
  // X keeps the top-left corner where it is when a window changes size.
  resizeContent(width, height);
}

void GtkWindowCore::resizeContent(int width, int height) {
  contentSize_ = CGSize{static_cast<double>(width), static_cast<double>(height)};
  GtkWindow* window = gtkWindow();
  // A window the user cannot resize takes the size its content asks for.
  if (!gtk_window_get_resizable(window)) {
    gtk_widget_set_size_request(window_.get(), width, height);
  }
  gtk_window_resize(window, width, height);
}

void GtkWindowCore::setTitleImpl(const std::string& title) {
  // GTK takes only well-formed UTF-8; anything else is shown with
  // replacement characters rather than dropped.
  gtk_window_set_title(gtkWindow(), repairUtf8(title).c_str());
}

void GtkWindowCore::setLevelImpl(int level) {
  gtk_window_set_keep_above(gtkWindow(), level > NSNormalWindowLevel);
}

void GtkWindowCore::setCollectionBehaviorImpl(std::uint64_t behavior) {
  GtkWindow* window = gtkWindow();
  // On every workspace: sticky, and on the all-desktops desktop, which is what
  // some window managers (openbox) go by.
  if (behavior & NSWindowCollectionBehaviorCanJoinAllSpaces) {
    gtk_window_stick(window);
  } else {
    gtk_window_unstick(window);
  }
  // Left out of window cycling: no task-bar or pager entry.
  const bool transient = (behavior & NSWindowCollectionBehaviorTransient) != 0;
  gtk_window_set_skip_taskbar_hint(window, transient);
  gtk_window_set_skip_pager_hint(window, transient);
}

void GtkWindowCore::setOpaqueImpl(bool flag) {
  opaque_ = flag;
  GtkWidget* window = window_.get();
  GdkScreen* screen = gtk_widget_get_screen(window);
  // See-through drawing needs a visual with alpha and a compositor; the visual
  // can only be chosen before the window has its X window.
  if (!flag && !gtk_widget_get_realized(window) && gdk_screen_is_composited(screen)) {
    if (GdkVisual* visual = gdk_screen_get_rgba_visual(screen)) {
      gtk_widget_set_visual(window, visual);
    }
  }
  applyBackground();
}

void GtkWindowCore::setBackgroundColorImpl(Color color) {
  background_ = color;
  applyBackground();
}

void GtkWindowCore::applyBackground() {
  GtkStyleContext* style = gtk_widget_get_style_context(window_.get());
  if (!css_) {
    css_ = GObjectPtr<GtkCssProvider>(gtk_css_provider_new());
    gtk_style_context_add_provider(style, GTK_STYLE_PROVIDER(css_.get()),
                                   GTK_STYLE_PROVIDER_PRIORITY_APPLICATION);
  }
  auto channel = [](double value) {
    return static_cast<int>(
        std::lround(std::clamp(std::isfinite(value) ? value : 0.0, 0.0, 1.0) * 255));
  };
  // An opaque window shows its colour without see-through.
  const double alpha = opaque_ ? 1.0 : std::clamp(background_.alpha, 0.0, 1.0);
  std::array<char, G_ASCII_DTOSTR_BUF_SIZE> alphaText{};
  g_ascii_formatd(alphaText.data(), alphaText.size(), "%.3f", std::isfinite(alpha) ? alpha : 1.0);
  GCharPtr css(g_strdup_printf("window { background-color: rgba(%d, %d, %d, %s); }",
                               channel(background_.red), channel(background_.green),
                               channel(background_.blue), alphaText.data()));
  gtk_css_provider_load_from_data(css_.get(), css.get(), -1, nullptr);
}

void GtkWindowCore::centerImpl() {
  GtkWidget* widget = window_.get();
  gtk_widget_realize(widget);
  refreshFrameExtents();
  // A window the window manager has not managed yet has no frame to tell;
  // asked, it says what the frame will be, and the window is placed again
  // once it has (onPropertyNotify).
  if (!askedForExtents_ && !system_->frameExtents(widget)) {
    askedForExtents_ = true;
    system_->requestFrameExtents(widget);
  }
  centred_ = true;
  placeAtCentre();
}

void GtkWindowCore::placeAtCentre() {
  GtkWidget* widget = window_.get();
  GdkDisplay* display = gtk_widget_get_display(widget);
  int pointerX = 0;
  int pointerY = 0;
  if (GdkDevice* pointer = gdk_seat_get_pointer(gdk_display_get_default_seat(display))) {
    gdk_device_get_position(pointer, nullptr, &pointerX, &pointerY);
  }
  GdkMonitor* monitor = gdk_display_get_monitor_at_point(display, pointerX, pointerY);
  if (!monitor) {
    return;
  }
  GdkRectangle area{};
  gdk_monitor_get_workarea(monitor, &area);
  const double width = contentSize_.width + extents_.left + extents_.right;
  const double height = contentSize_.height + extents_.top + extents_.bottom;
  // Centred across the usable area, with a third of the spare height above
  // the window and two thirds below; a window larger than the area keeps its
  // title bar on it.
  const double x = area.x + std::max(0.0, std::floor((area.width - width) / 2));
  const double y = area.y + std::max(0.0, std::floor((area.height - height) / 3));
  gtk_window_move(gtkWindow(), clampCoordinate(x), clampCoordinate(y));
}

void GtkWindowCore::show(bool focus) {
  if (emptyFrame_) {
    return;
  }
  hiddenByDeactivation_ = false;
  visible_ = true;
  GtkWindow* window = gtkWindow();
  gtk_window_set_focus_on_map(window, focus);
  gtk_widget_realize(window_.get());
  if (auto list = list_.lock(); list && isPanel_) {
    list->panelShown(handle());
  }
  if (!focus) {
    gtk_widget_show(window_.get());
    if (GdkWindow* gdkWindow = gtk_widget_get_window(window_.get())) {
      gdk_window_raise(gdkWindow);
    }
    return;
  }
  if (auto list = list_.lock()) {
    list->madeKey(self_.lock());
  }
  const bool mapped = gtk_widget_get_mapped(window_.get());
  gtk_window_present(window);
  if (hasFocus()) {
    return;
  }
  // A window that was on the screen already gets no focus from being mapped.
  if (mapped) {
    system_->activate(window_.get());
  }
  focusDeadline_ = Clock::now() + kFocusGiveUpAfter;
  setSettling(true);
  // Asked before the window is mapped, the window manager may map it
  // without the focus and not look at the request again: once the server has
  // mapped the window it is asked again, at intervals, until the focus
  // arrives (onActiveChanged) or the bound passes.
  std::weak_ptr<GtkWindowCore> weak = self_;
  focusRetry_ = addMainTimeout(kFocusRetryMilliseconds, [weak] {
    auto self = weak.lock();
    return self && self->focusStep();
  });
}

void GtkWindowCore::setSettling(bool settling) {
  if (!isPanel_)
    return;
  if (auto list = list_.lock())
    list->setPanelSettling(settling);
}

void GtkWindowCore::stopFocusing() {
  focusRetry_.reset();
  setSettling(false);
}

bool GtkWindowCore::focusStep() {
  // The window manager may have made the window active before GTK has heard
  // of the focus; presenting again then could take the focus back from a
  // window activated since.
  if (!visibleImpl() || hasFocus() || Clock::now() > focusDeadline_ ||
      system_->isActive(window_.get())) {
    setSettling(false);
    return false;
  }
  if (viewable_) {
    presentWithTime();
  }
  return true;
}

void GtkWindowCore::presentWithTime() {
  gtk_window_present_with_time(gtkWindow(), system_->presentationTime(window_.get()));
  system_->activate(window_.get());
}

void GtkWindowCore::hostActivationChanged(bool active) {
  if (!active && hidesOnDeactivate_ && visibleImpl()) {
    hide();
    hiddenByDeactivation_ = true;
  } else if (active && hiddenByDeactivation_) {
    show(/*focus=*/false);
  }
}

void GtkWindowCore::onActiveChanged(GObject*, GParamSpec*, gpointer data) {
  auto* self = static_cast<GtkWindowCore*>(data);
  if (self->hasFocus()) {
    self->stopFocusing();
  }
  if (auto list = self->list_.lock()) {
    list->focusChanged();
  }
}

void GtkWindowCore::hide() {
  hiddenByDeactivation_ = false;
  visible_ = false;
  stopFocusing();
  if (auto list = list_.lock(); list && isPanel_) {
    list->panelHidden(handle());
  }
  gtk_widget_hide(window_.get());
}

void GtkWindowCore::performWindowDragImpl(const Event& event) {
  if (!isMapped()) {
    return;
  }
  centred_ = false;
  GtkWidget* widget = window_.get();
  const bool right =
      event.type == EventType::rightMouseDown || event.type == EventType::rightMouseUp;
  const gint button = right ? 3 : 1;
  guint32 time = GDK_CURRENT_TIME;
  if (std::isfinite(event.timestamp) && event.timestamp > 0 &&
      event.timestamp * 1000 < 4294967295.0) {
    time = static_cast<guint32>(std::llround(event.timestamp * 1000));
  }
  double rootX = 0;
  double rootY = 0;
  bool located = false;
  if (GdkEvent* current = gtk_get_current_event()) {
    located = gdk_event_get_root_coords(current, &rootX, &rootY);
    if (const guint32 currentTime = gdk_event_get_time(current)) {
      time = currentTime;
    }
    gdk_event_free(current);
  }
  if (!located) {
    GdkDisplay* display = gtk_widget_get_display(widget);
    if (GdkDevice* pointer = gdk_seat_get_pointer(gdk_display_get_default_seat(display))) {
      int x = 0;
      int y = 0;
      gdk_device_get_position(pointer, nullptr, &x, &y);
      rootX = x;
      rootY = y;
    }
  }
  // The window manager moves the window with the pointer until the button
  // goes up; it takes the pointer over for that.
  gtk_window_begin_move_drag(gtkWindow(), button, static_cast<gint>(rootX),
                             static_cast<gint>(rootY), time);
}

gboolean GtkWindowCore::onDelete(GtkWidget* widget, GdkEvent*, gpointer data) {
  auto* self = static_cast<GtkWindowCore*>(data);
  // The close button hides the window; the host may show it again.
  if (gtk_window_get_deletable(GTK_WINDOW(widget))) {
    auto keep = self->self_.lock();
    self->hide();
    if (auto list = self->list_.lock()) {
      list->userClosed();
    }
  }
  return TRUE;
}

gboolean GtkWindowCore::onConfigure(GtkWidget*, GdkEventConfigure* event, gpointer data) {
  auto* self = static_cast<GtkWindowCore*>(data);
  // The size the window has now, whoever changed it (the user resizing it).
  if (event->width > 0 && event->height > 0 && self->isMapped()) {
    self->contentSize_ =
        CGSize{static_cast<double>(event->width), static_cast<double>(event->height)};
  }
  return FALSE;
}

gboolean GtkWindowCore::onMap(GtkWidget*, GdkEvent*, gpointer data) {
  auto* self = static_cast<GtkWindowCore*>(data);
  self->viewable_ = true;
  // Viewable now: a request for the focus passed over before is made again
  // by the next focusStep, unless the window manager has given the focus by
  // then (asking at once would race its own activation of the window).
  self->refreshFrameExtents();
  return FALSE;
}

gboolean GtkWindowCore::onUnmap(GtkWidget*, GdkEvent*, gpointer data) {
  static_cast<GtkWindowCore*>(data)->viewable_ = false;
  return FALSE;
}

gboolean GtkWindowCore::onPropertyNotify(GtkWidget*, GdkEventProperty* event, gpointer data) {
  auto* self = static_cast<GtkWindowCore*>(data);
  if (event->atom != gdk_atom_intern_static_string(kFrameExtentsProperty)) {
    return FALSE;
  }
  const FrameExtents before = self->extents_;
  self->refreshFrameExtents();
  if (self->centred_ && !(before == self->extents_)) {
    self->placeAtCentre();
  }
  return FALSE;
}

gboolean GtkWindowCore::onButtonPress(GtkWidget* widget, GdkEventButton* event, gpointer data) {
  auto* self = static_cast<GtkWindowCore*>(data);
  // Reached only when nothing inside the window handled the press: the
  // background was clicked.
  if (!self->movableByWindowBackground_ || event->type != GDK_BUTTON_PRESS ||
      event->button != GDK_BUTTON_PRIMARY) {
    return FALSE;
  }
  gtk_window_begin_move_drag(GTK_WINDOW(widget), static_cast<gint>(event->button),
                             static_cast<gint>(event->x_root), static_cast<gint>(event->y_root),
                             event->time);
  return TRUE;
}

// --- The factory -----------------------------------------------------------------

std::shared_ptr<Window> GtkWindowFactory::makeWindow(CGRect contentRect,
                                                     std::uint64_t styleMask,
                                                     BackingStoreType /*backing*/,
                                                     bool /*defer*/) {
  auto window = std::make_shared<GtkHostWindow>(list_, false, contentRect, styleMask);
  window->self_ = window;
  list_->add(window);
  return window;
}

std::shared_ptr<Panel> GtkWindowFactory::makePanel(CGRect contentRect,
                                                   std::uint64_t styleMask,
                                                   BackingStoreType /*backing*/,
                                                   bool /*defer*/) {
  auto panel = std::make_shared<GtkHostPanel>(list_, true, contentRect, styleMask);
  panel->self_ = panel;
  list_->add(panel);
  return panel;
}

}  // namespace lumivane::platform::gtk
