#include "platform/x11/x11_window.h"

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <gdk/gdkx.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <thread>
#include <utility>

#include "platform/utf8.h"

namespace lumivane::platform::x11 {
namespace {

using Clock = std::chrono::steady_clock;

// How often a window that should have the focus looks whether it has it.
constexpr guint kFocusPollMilliseconds = 5;
// How often the focus is asked for again while it has not come.
constexpr auto kFocusRetryInterval = std::chrono::milliseconds(100);
// When to stop asking: another window has taken the focus for good.
constexpr auto kFocusGiveUpAfter = std::chrono::seconds(3);
// How long center() waits for the window manager to tell the size of the
// frame it will put around a window it has not managed yet (once per window).
constexpr auto kFrameExtentsWait = std::chrono::milliseconds(500);
// The largest window side X can express.
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

const char* styleClassOf(VisualEffectMaterial material) {
  switch (material) {
    case VisualEffectMaterial::sidebar:
      return "sidebar";
    case VisualEffectMaterial::menu:
      return "menu";
    case VisualEffectMaterial::popover:
      return "popover";
    case VisualEffectMaterial::selection:
      return "view";
    case VisualEffectMaterial::titlebar:
      break;
  }
  return "titlebar";
}

}  // namespace

// --- Views ---------------------------------------------------------------------

std::shared_ptr<X11View> X11View::make(GtkWidget* background) {
  std::shared_ptr<X11View> view(new X11View(background));
  view->self_ = view;
  return view;
}

X11View::X11View(GtkWidget* background) : widget_(retainObject(gtk_overlay_new())) {
  if (background) {
    gtk_widget_set_hexpand(background, TRUE);
    gtk_widget_set_vexpand(background, TRUE);
    gtk_container_add(GTK_CONTAINER(widget_.get()), background);
    gtk_widget_show(background);
  }
  gtk_widget_show(widget_.get());
}

X11View::~X11View() {
  // Subviews that outlive this view keep working widgets: taken out before
  // the overlay goes, they are not destroyed with it.
  for (auto& entry : stack_) {
    gtk_container_remove(GTK_CONTAINER(widget_.get()), entry.widget.get());
  }
}

X11View* X11View::from(const std::shared_ptr<View>& view) {
  if (auto* plain = dynamic_cast<X11View*>(view.get())) {
    return plain;
  }
  if (auto* effect = dynamic_cast<X11VisualEffectView*>(view.get())) {
    return effect->view().get();
  }
  return nullptr;
}

std::vector<std::shared_ptr<View>> X11View::subviews() const {
  std::vector<std::shared_ptr<View>> views;
  for (const auto& entry : stack_) {
    if (entry.view) {
      views.push_back(entry.view);
    }
  }
  return views;
}

bool X11View::isAncestorOf(const X11View* view) const {
  for (const X11View* v = view; v;) {
    if (v == this) {
      return true;
    }
    auto parent = v->superview_.lock();
    v = parent ? from(parent) : nullptr;
  }
  return false;
}

void X11View::addSubview(const std::shared_ptr<View>& subview,
                         WindowOrderingMode positioned,
                         const std::shared_ptr<View>& relativeTo) {
  auto* child = from(subview);
  // GTK widgets form a tree: a view cannot hold itself or an ancestor.
  if (!child || child->isAncestorOf(this)) {
    return;
  }
  if (auto old = child->superview_.lock()) {
    if (auto* oldParent = from(old)) {
      oldParent->removeSubview(child);
    }
  }
  if (GtkWidget* parent = gtk_widget_get_parent(child->widget())) {
    // A window's content view: it cannot be shown in two places.
    gtk_container_remove(GTK_CONTAINER(parent), child->widget());
  }
  // A reference view that is not one of ours counts as none: the new view goes
  // below or above everything.
  X11View* reference = relativeTo ? from(relativeTo) : nullptr;
  auto it = std::find_if(stack_.begin(), stack_.end(), [&](const Entry& entry) {
    return reference && entry.view && from(entry.view) == reference;
  });
  const bool found = it != stack_.end();
  Entry entry{subview, retainObject(child->widget())};
  if (positioned == WindowOrderingMode::below) {
    stack_.insert(found ? it : stack_.begin(), std::move(entry));
  } else {
    stack_.insert(found ? it + 1 : stack_.end(), std::move(entry));
  }
  gtk_overlay_add_overlay(GTK_OVERLAY(widget_.get()), child->widget());
  child->superview_ = self_;
  restack();
  child->updateLayout();
}

void X11View::addInterfaceWidget(GtkWidget* widget) {
  if (!widget || gtk_widget_get_parent(widget) || GTK_IS_WINDOW(widget)) {
    return;
  }
  gtk_widget_set_halign(widget, GTK_ALIGN_FILL);
  gtk_widget_set_valign(widget, GTK_ALIGN_FILL);
  gtk_widget_set_hexpand(widget, TRUE);
  gtk_widget_set_vexpand(widget, TRUE);
  stack_.push_back(Entry{nullptr, retainObject(widget)});
  gtk_overlay_add_overlay(GTK_OVERLAY(widget_.get()), widget);
  gtk_widget_show(widget);
  restack();
}

void X11View::removeSubview(const X11View* subview) {
  auto it = std::find_if(stack_.begin(), stack_.end(), [&](const Entry& entry) {
    return entry.view && from(entry.view) == subview;
  });
  if (it == stack_.end()) {
    return;
  }
  gtk_container_remove(GTK_CONTAINER(widget_.get()), it->widget.get());
  stack_.erase(it);
}

void X11View::restack() {
  int index = 0;
  for (const auto& entry : stack_) {
    gtk_overlay_reorder_overlay(GTK_OVERLAY(widget_.get()), entry.widget.get(), index++);
  }
}

void X11View::setTranslatesAutoresizingMaskIntoConstraints(bool flag) {
  translatesAutoresizingMask_ = flag;
}

std::shared_ptr<LayoutAnchor> X11View::anchor(X11LayoutEdge edge) {
  auto& slot = anchors_[static_cast<int>(edge)];
  if (!slot) {
    slot = std::make_shared<X11LayoutAnchor>(self_, edge);
  }
  return slot;
}

std::shared_ptr<LayoutAnchor> X11View::topAnchor() {
  return anchor(X11LayoutEdge::top);
}
std::shared_ptr<LayoutAnchor> X11View::bottomAnchor() {
  return anchor(X11LayoutEdge::bottom);
}
std::shared_ptr<LayoutAnchor> X11View::leadingAnchor() {
  return anchor(X11LayoutEdge::leading);
}
std::shared_ptr<LayoutAnchor> X11View::trailingAnchor() {
  return anchor(X11LayoutEdge::trailing);
}

void X11View::updateLayout() {
  auto parent = superview_.lock();
  const X11View* parentView = parent ? from(parent) : nullptr;
  if (!parentView) {
    // A window's content view, or a view on its own: its container places it.
    return;
  }
  std::array<bool, 4> pinned{};
  for (const auto& constraint : constraints_) {
    if (auto edge = constraint->pinnedEdge(this, parentView)) {
      pinned[static_cast<int>(*edge)] = true;
    }
  }
  auto align = [](bool start, bool end) {
    if (start && end) {
      return GTK_ALIGN_FILL;
    }
    return end ? GTK_ALIGN_END : GTK_ALIGN_START;
  };
  const bool top = pinned[static_cast<int>(X11LayoutEdge::top)];
  const bool bottom = pinned[static_cast<int>(X11LayoutEdge::bottom)];
  const bool leading = pinned[static_cast<int>(X11LayoutEdge::leading)];
  const bool trailing = pinned[static_cast<int>(X11LayoutEdge::trailing)];
  // Leading is the left edge in left-to-right text and the right edge in
  // right-to-left text, as GTK's start and end are.
  gtk_widget_set_halign(widget(), align(leading, trailing));
  gtk_widget_set_valign(widget(), align(top, bottom));
  gtk_widget_set_hexpand(widget(), leading && trailing);
  gtk_widget_set_vexpand(widget(), top && bottom);
  gtk_widget_queue_resize(widget());
}

X11VisualEffectView::X11VisualEffectView()
    : view_(X11View::make(gtk_drawing_area_new())),
      backdrop_(gtk_bin_get_child(GTK_BIN(view_->widget()))) {
  g_signal_connect(backdrop_, "draw", G_CALLBACK(&X11VisualEffectView::draw), this);
  setMaterial(material_);
}

X11VisualEffectView::~X11VisualEffectView() {
  g_signal_handlers_disconnect_by_data(backdrop_, this);
}

void X11VisualEffectView::setState(VisualEffectState state) {
  state_ = state;
  gtk_widget_queue_draw(backdrop_);
}

void X11VisualEffectView::setMaterial(VisualEffectMaterial material) {
  GtkStyleContext* style = gtk_widget_get_style_context(backdrop_);
  gtk_style_context_remove_class(style, styleClassOf(material_));
  material_ = material;
  gtk_style_context_add_class(style, styleClassOf(material_));
  gtk_widget_queue_draw(backdrop_);
}

gboolean X11VisualEffectView::draw(GtkWidget* widget, cairo_t* cr, gpointer self) {
  const auto state = static_cast<X11VisualEffectView*>(self)->state_;
  GtkStyleContext* style = gtk_widget_get_style_context(widget);
  auto flags = static_cast<int>(gtk_widget_get_state_flags(widget));
  // The theme's unfocused look is its backdrop state.
  if (state == VisualEffectState::active) {
    flags &= ~GTK_STATE_FLAG_BACKDROP;
  } else if (state == VisualEffectState::inactive) {
    flags |= GTK_STATE_FLAG_BACKDROP;
  }
  gtk_style_context_save(style);
  gtk_style_context_set_state(style, static_cast<GtkStateFlags>(flags));
  gtk_render_background(style, cr, 0, 0, gtk_widget_get_allocated_width(widget),
                        gtk_widget_get_allocated_height(widget));
  gtk_style_context_restore(style);
  return FALSE;
}

std::shared_ptr<LayoutConstraint> X11LayoutAnchor::constraintEqualToAnchor(
    const std::shared_ptr<LayoutAnchor>& other) {
  auto* anchor = dynamic_cast<X11LayoutAnchor*>(other.get());
  if (!anchor) {
    // Another platform's anchor: a constraint that relates nothing.
    return std::make_shared<X11LayoutConstraint>(std::weak_ptr<View>(), edge_,
                                                 std::weak_ptr<View>(), edge_);
  }
  return std::make_shared<X11LayoutConstraint>(view_, edge_, anchor->view_, anchor->edge_);
}

std::optional<X11LayoutEdge> X11LayoutConstraint::pinnedEdge(const View* child,
                                                             const View* parent) const {
  if (!active_ || firstEdge_ != secondEdge_) {
    return std::nullopt;
  }
  auto first = first_.lock();
  auto second = second_.lock();
  if (!first || !second) {
    return std::nullopt;
  }
  const View* a = X11View::from(first);
  const View* b = X11View::from(second);
  if ((a == child && b == parent) || (a == parent && b == child)) {
    return firstEdge_;
  }
  return std::nullopt;
}

std::shared_ptr<View> X11ViewFactory::makeView() {
  return X11View::make();
}

std::shared_ptr<VisualEffectView> X11ViewFactory::makeVisualEffectView() {
  return std::make_shared<X11VisualEffectView>();
}

void X11ViewFactory::activateConstraints(const std::vector<std::shared_ptr<LayoutConstraint>>& c) {
  std::vector<std::shared_ptr<View>> affected;
  for (const auto& base : c) {
    auto constraint = std::dynamic_pointer_cast<X11LayoutConstraint>(base);
    if (!constraint || constraint->active_) {
      continue;
    }
    constraint->active_ = true;
    for (const auto& weak : {constraint->first_, constraint->second_}) {
      auto view = weak.lock();
      if (auto* x11 = view ? X11View::from(view) : nullptr) {
        x11->constraints_.push_back(constraint);
        affected.push_back(std::move(view));
      }
    }
  }
  // One layout pass: every view whose pins changed, and the subviews of those
  // (a view may be the parent side of a constraint).
  for (const auto& view : affected) {
    auto* x11 = X11View::from(view);
    x11->updateLayout();
    for (const auto& subview : x11->subviews()) {
      X11View::from(subview)->updateLayout();
    }
  }
}

// --- The window list -------------------------------------------------------------

void X11WindowList::add(std::weak_ptr<X11WindowCore> window) {
  windows_.erase(std::remove_if(windows_.begin(), windows_.end(),
                                [](const auto& weak) { return weak.expired(); }),
                 windows_.end());
  windows_.push_back(std::move(window));
}

std::vector<std::shared_ptr<X11WindowCore>> X11WindowList::windows() const {
  std::vector<std::shared_ptr<X11WindowCore>> live;
  for (const auto& weak : windows_) {
    if (auto window = weak.lock()) {
      live.push_back(std::move(window));
    }
  }
  return live;
}

bool X11WindowList::anyVisible() const {
  const auto live = windows();
  return std::any_of(live.begin(), live.end(), [](const auto& w) { return w->visibleImpl(); });
}

std::shared_ptr<X11WindowCore> X11WindowList::frontCandidate() const {
  if (auto key = key_.lock(); key && key->visibleImpl()) {
    return key;
  }
  std::shared_ptr<X11WindowCore> any;
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

void X11WindowList::userClosed() {
  if (!anyVisible() && onLastWindowClosed) {
    // A copy: the handler may end the application and with it this list's
    // owner's interest in it.
    auto handler = onLastWindowClosed;
    handler();
  }
}

void X11WindowList::focusChanged() {
  if (!settle_) {
    settle_ = addMainTimeout(0, [this] {
      settleActivation();
      return false;
    });
  }
}

void X11WindowList::settleActivation() {
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

void X11WindowList::hostActivated() {
  for (const auto& window : windows()) {
    window->hostActivationChanged(true);
  }
}

void X11WindowList::panelHidden(std::uint32_t xid) {
  std::uint32_t expected = xid;
  visiblePanel_.compare_exchange_strong(expected, 0);
}

// --- Windows ----------------------------------------------------------------------

X11WindowCore::X11WindowCore(std::weak_ptr<X11WindowList> list,
                             bool isPanel,
                             CGRect contentRect,
                             std::uint64_t styleMask)
    : list_(std::move(list)),
      isPanel_(isPanel),
      window_(retainObject(gtk_window_new(GTK_WINDOW_TOPLEVEL))),
      defaultContentView_(X11View::make()) {
  GtkWindow* window = gtkWindow();
  if (isPanel_) {
    // A utility window: no task-bar entry of its own, no iconify button.
    gtk_window_set_type_hint(window, GDK_WINDOW_TYPE_HINT_UTILITY);
  }
  const bool titled = (styleMask & NSWindowStyleMaskTitled) != 0;
  gtk_window_set_decorated(window, titled || (styleMask & NSWindowStyleMaskResizable) != 0);
  gtk_window_set_deletable(window, (styleMask & NSWindowStyleMaskClosable) != 0);
  gtk_window_set_resizable(window, (styleMask & NSWindowStyleMaskResizable) != 0);
  gtk_widget_add_events(window_.get(),
                        GDK_BUTTON_PRESS_MASK | GDK_BUTTON_RELEASE_MASK | GDK_STRUCTURE_MASK);

  g_signal_connect(window, "delete-event", G_CALLBACK(&X11WindowCore::onDelete), this);
  g_signal_connect(window, "configure-event", G_CALLBACK(&X11WindowCore::onConfigure), this);
  g_signal_connect(window, "map-event", G_CALLBACK(&X11WindowCore::onMap), this);
  g_signal_connect(window, "button-press-event", G_CALLBACK(&X11WindowCore::onButtonPress), this);
  g_signal_connect(window, "notify::is-active", G_CALLBACK(&X11WindowCore::onActiveChanged), this);

  setContent(defaultContentView_);
  if (isFinite(contentRect) && CGRectGetWidth(contentRect) > 0 &&
      CGRectGetHeight(contentRect) > 0) {
    setFrameImpl(contentRect);
  } else {
    setContentSizeImpl(contentRect.size);
  }
}

X11WindowCore::~X11WindowCore() {
  focusTimer_.reset();
  setSettling(false);
  GtkWidget* window = window_.get();
  g_signal_handlers_disconnect_by_data(window, this);
  if (auto list = list_.lock(); list && isPanel_) {
    list->panelHidden(xid());
  }
  // The content view may outlive the window: taken out first, it is not
  // destroyed with it.
  if (GtkWidget* child = gtk_bin_get_child(GTK_BIN(window))) {
    gtk_container_remove(GTK_CONTAINER(window), child);
  }
  gtk_widget_destroy(window);
}

X11WindowCore* X11WindowCore::from(const Window* window) {
  return const_cast<X11WindowCore*>(dynamic_cast<const X11WindowCore*>(window));
}

std::uint32_t X11WindowCore::xid() const {
  GdkWindow* gdkWindow = gtk_widget_get_window(window_.get());
  return gdkWindow ? static_cast<std::uint32_t>(gdk_x11_window_get_xid(gdkWindow)) : 0;
}

bool X11WindowCore::isMapped() const {
  return gtk_widget_get_mapped(window_.get());
}

bool X11WindowCore::hasFocus() const {
  return gtk_window_is_active(gtkWindow());
}

bool X11WindowCore::visibleImpl() const {
  return visible_ && gtk_widget_get_visible(window_.get());
}

bool X11WindowCore::isViewable() const {
  const std::uint32_t window = xid();
  if (!window) {
    return false;
  }
  GdkDisplay* display = gtk_widget_get_display(window_.get());
  XWindowAttributes attributes{};
  gdk_x11_display_error_trap_push(display);
  const Status ok = XGetWindowAttributes(GDK_DISPLAY_XDISPLAY(display), window, &attributes);
  gdk_x11_display_error_trap_pop_ignored(display);
  return ok != 0 && attributes.map_state == IsViewable;
}

void X11WindowCore::setContent(const std::shared_ptr<View>& view) {
  auto* x11 = X11View::from(view);
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

void X11WindowCore::setContentViewControllerImpl(
    const std::shared_ptr<ViewController>& controller) {
  contentViewController_ = controller;
  auto view = controller ? controller->view() : nullptr;
  setContent(view ? view : defaultContentView_);
}

std::shared_ptr<View> X11WindowCore::contentViewImpl() const {
  if (contentViewController_) {
    if (auto view = contentViewController_->view()) {
      return view;
    }
  }
  return defaultContentView_;
}

int X11WindowCore::rootHeight() const {
  GdkScreen* screen = gtk_window_get_screen(gtkWindow());
  return gdk_window_get_height(gdk_screen_get_root_window(screen));
}

void X11WindowCore::refreshFrameExtents(bool askAndWait) const {
  GtkWidget* widget = window_.get();
  gtk_widget_realize(widget);
  GdkDisplay* display = gtk_widget_get_display(widget);
  Display* x = GDK_DISPLAY_XDISPLAY(display);
  const ::Window window = xid();
  const Atom property = gdk_x11_get_xatom_by_name_for_display(display, "_NET_FRAME_EXTENTS");
  auto read = [&]() -> bool {
    Atom type = None;
    int format = 0;
    unsigned long count = 0;
    unsigned long after = 0;
    unsigned char* data = nullptr;
    gdk_x11_display_error_trap_push(display);
    const int status = XGetWindowProperty(x, window, property, 0, 4, False, XA_CARDINAL, &type,
                                          &format, &count, &after, &data);
    gdk_x11_display_error_trap_pop_ignored(display);
    const bool found = status == Success && data && format == 32 && count == 4;
    if (found) {
      // Format-32 properties come as longs.
      const auto* values = reinterpret_cast<const long*>(data);
      extents_ = FrameExtents{static_cast<int>(values[0]), static_cast<int>(values[1]),
                              static_cast<int>(values[2]), static_cast<int>(values[3])};
    }
    if (data) {
      XFree(data);
    }
    return found;
  };
  if (read() || !askAndWait || askedForExtents_) {
    return;
  }
  askedForExtents_ = true;
  GdkScreen* screen = gtk_widget_get_screen(widget);
  if (!gdk_x11_screen_supports_net_wm_hint(
          screen, gdk_atom_intern_static_string("_NET_REQUEST_FRAME_EXTENTS"))) {
    return;
  }
  XEvent request{};
  request.xclient.type = ClientMessage;
  request.xclient.window = window;
  request.xclient.message_type =
      gdk_x11_get_xatom_by_name_for_display(display, "_NET_REQUEST_FRAME_EXTENTS");
  request.xclient.format = 32;
  gdk_x11_display_error_trap_push(display);
  XSendEvent(x, GDK_WINDOW_XID(gdk_screen_get_root_window(screen)), False,
             SubstructureRedirectMask | SubstructureNotifyMask, &request);
  XFlush(x);
  gdk_x11_display_error_trap_pop_ignored(display);
  const auto deadline = Clock::now() + kFrameExtentsWait;
  while (!read() && Clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
}

CGRect X11WindowCore::frameImpl() const {
  if (emptyFrame_) {
    return *emptyFrame_;
  }
  if (gtk_widget_get_realized(window_.get())) {
    refreshFrameExtents(/*askAndWait=*/false);
  }
  int x = 0;
  int y = 0;
  gtk_window_get_position(gtkWindow(), &x, &y);
  const double width = contentSize_.width + extents_.left + extents_.right;
  const double height = contentSize_.height + extents_.top + extents_.bottom;
  return CGRectMake(x, rootHeight() - (y + height), width, height);
}

void X11WindowCore::setFrameImpl(CGRect frame) {
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
  const int contentWidth = toSide(width - extents_.left - extents_.right);
  const int contentHeight = toSide(height - extents_.top - extents_.bottom);
  resizeContent(contentWidth, contentHeight);
  // The frame's top-left corner (the default gravity places the window
  // manager's frame there).
  gtk_window_move(gtkWindow(), clampCoordinate(frame.origin.x),
                  clampCoordinate(rootHeight() - (frame.origin.y + height)));
}

void X11WindowCore::setContentSizeImpl(CGSize size) {
  if (!std::isfinite(size.width) || !std::isfinite(size.height)) {
    return;
  }
  emptyFrame_.reset();
  const int width = toSide(size.width);
  const int height = toSide(size.height);
  // X keeps the top-left corner where it is when a window changes size.
  resizeContent(width, height);
}

void X11WindowCore::resizeContent(int width, int height) {
  contentSize_ = CGSize{static_cast<double>(width), static_cast<double>(height)};
  GtkWindow* window = gtkWindow();
  // A window the user cannot resize takes the size its content asks for.
  if (!gtk_window_get_resizable(window)) {
    gtk_widget_set_size_request(window_.get(), width, height);
  }
  gtk_window_resize(window, width, height);
}

void X11WindowCore::setTitleImpl(const std::string& title) {
  // GTK takes only well-formed UTF-8; anything else is shown with
  // replacement characters rather than dropped.
  gtk_window_set_title(gtkWindow(), repairUtf8(title).c_str());
}

void X11WindowCore::setLevelImpl(int level) {
  gtk_window_set_keep_above(gtkWindow(), level > NSNormalWindowLevel);
}

void X11WindowCore::setCollectionBehaviorImpl(std::uint64_t behavior) {
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

void X11WindowCore::setOpaqueImpl(bool flag) {
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

void X11WindowCore::setBackgroundColorImpl(Color color) {
  background_ = color;
  applyBackground();
}

void X11WindowCore::applyBackground() {
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

void X11WindowCore::centerImpl() {
  refreshFrameExtents(/*askAndWait=*/true);
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

void X11WindowCore::show(bool focus) {
  if (emptyFrame_) {
    return;
  }
  hiddenByDeactivation_ = false;
  visible_ = true;
  GtkWindow* window = gtkWindow();
  gtk_window_set_focus_on_map(window, focus);
  gtk_widget_realize(window_.get());
  if (auto list = list_.lock(); list && isPanel_) {
    list->panelShown(xid());
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
  gtk_window_present(window);
  focusDeadline_ = Clock::now() + kFocusGiveUpAfter;
  lastPresented_.reset();
  setSettling(true);
  std::weak_ptr<X11WindowCore> weak = self_;
  focusTimer_ = addMainTimeout(kFocusPollMilliseconds, [weak] {
    auto self = weak.lock();
    if (!self)
      return false;
    const bool again = self->focusStep();
    if (!again)
      self->setSettling(false);
    return again;
  });
}

void X11WindowCore::setSettling(bool settling) {
  if (!isPanel_)
    return;
  if (auto list = list_.lock())
    list->setPanelSettling(settling);
}

bool X11WindowCore::isActiveOnServer() const {
  // GTK learns of the focus from its own events, a moment after the window
  // manager has made the window active; asking the server closes that gap,
  // during which presenting again could take the focus back from a window
  // activated since.
  GdkWindow* own = gtk_widget_get_window(window_.get());
  if (!own)
    return false;
  Display* display = GDK_WINDOW_XDISPLAY(own);
  Atom type = None;
  int format = 0;
  unsigned long count = 0;
  unsigned long after = 0;
  unsigned char* data = nullptr;
  const bool read =
      XGetWindowProperty(
          display, DefaultRootWindow(display),
          gdk_x11_get_xatom_by_name_for_display(gdk_window_get_display(own), "_NET_ACTIVE_WINDOW"),
          0, 1, False, XA_WINDOW, &type, &format, &count, &after, &data) == Success;
  const bool ours = read && data && format == 32 && count == 1 &&
                    *reinterpret_cast<unsigned long*>(data) == gdk_x11_window_get_xid(own);
  if (data)
    XFree(data);
  return ours;
}

bool X11WindowCore::focusStep() {
  const auto now = Clock::now();
  if (!visibleImpl() || hasFocus() || now > focusDeadline_ || isActiveOnServer()) {
    return false;
  }
  // Asked before the window is viewable, the window manager may map it
  // without the focus and not look at the request again.
  if (!isViewable()) {
    return true;
  }
  if (!lastPresented_ || now - *lastPresented_ >= kFocusRetryInterval) {
    GdkWindow* gdkWindow = gtk_widget_get_window(window_.get());
    gtk_window_present_with_time(gtkWindow(), gdk_x11_get_server_time(gdkWindow));
    lastPresented_ = now;
  }
  return true;
}

void X11WindowCore::hostActivationChanged(bool active) {
  if (!active && hidesOnDeactivate_ && visibleImpl()) {
    hide();
    hiddenByDeactivation_ = true;
  } else if (active && hiddenByDeactivation_) {
    show(/*focus=*/false);
  }
}

void X11WindowCore::onActiveChanged(GObject*, GParamSpec*, gpointer data) {
  auto* self = static_cast<X11WindowCore*>(data);
  if (auto list = self->list_.lock()) {
    list->focusChanged();
  }
}

void X11WindowCore::hide() {
  hiddenByDeactivation_ = false;
  visible_ = false;
  focusTimer_.reset();
  setSettling(false);
  if (auto list = list_.lock(); list && isPanel_) {
    list->panelHidden(xid());
  }
  gtk_widget_hide(window_.get());
}

void X11WindowCore::performWindowDragImpl(const Event& event) {
  if (!isMapped()) {
    return;
  }
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

gboolean X11WindowCore::onDelete(GtkWidget* widget, GdkEvent*, gpointer data) {
  auto* self = static_cast<X11WindowCore*>(data);
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

gboolean X11WindowCore::onConfigure(GtkWidget*, GdkEventConfigure* event, gpointer data) {
  auto* self = static_cast<X11WindowCore*>(data);
  // The size the window has now, whoever changed it (the user resizing it).
  if (event->width > 0 && event->height > 0 && self->isMapped()) {
    self->contentSize_ =
        CGSize{static_cast<double>(event->width), static_cast<double>(event->height)};
  }
  return FALSE;
}

gboolean X11WindowCore::onMap(GtkWidget*, GdkEvent*, gpointer data) {
  auto* self = static_cast<X11WindowCore*>(data);
  self->refreshFrameExtents(/*askAndWait=*/false);
  return FALSE;
}

gboolean X11WindowCore::onButtonPress(GtkWidget* widget, GdkEventButton* event, gpointer data) {
  auto* self = static_cast<X11WindowCore*>(data);
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

std::shared_ptr<Window> X11WindowFactory::makeWindow(CGRect contentRect,
                                                     std::uint64_t styleMask,
                                                     BackingStoreType /*backing*/,
                                                     bool /*defer*/) {
  auto window = std::make_shared<X11Window>(list_, false, contentRect, styleMask);
  window->self_ = window;
  list_->add(window);
  return window;
}

std::shared_ptr<Panel> X11WindowFactory::makePanel(CGRect contentRect,
                                                   std::uint64_t styleMask,
                                                   BackingStoreType /*backing*/,
                                                   bool /*defer*/) {
  auto panel = std::make_shared<X11Panel>(list_, true, contentRect, styleMask);
  panel->self_ = panel;
  list_->add(panel);
  return panel;
}

}  // namespace lumivane::platform::x11
