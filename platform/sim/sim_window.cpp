#include "platform/sim/sim_window.h"

#include <algorithm>
#include <cmath>
#include <utility>

#include "platform/sim/sim_view.h"

namespace lumivane::platform::sim {

namespace {

std::string formatRect(const CGRect& r) {
  return formatNumber(r.origin.x) + "," + formatNumber(r.origin.y) + "," +
         formatNumber(r.size.width) + "," + formatNumber(r.size.height);
}

std::string formatSize(const CGSize& s) {
  return formatNumber(s.width) + "x" + formatNumber(s.height);
}

std::string formatColor(const Color& c) {
  return formatNumber(c.red) + "," + formatNumber(c.green) + "," + formatNumber(c.blue) + "," +
         formatNumber(c.alpha);
}

const char* toString(WindowTitleVisibility visibility) {
  return visibility == WindowTitleVisibility::visible ? "visible" : "hidden";
}

const char* toString(TitlebarSeparatorStyle style) {
  switch (style) {
    case TitlebarSeparatorStyle::automatic:
      return "automatic";
    case TitlebarSeparatorStyle::none:
      return "none";
    case TitlebarSeparatorStyle::line:
      return "line";
    case TitlebarSeparatorStyle::shadow:
      return "shadow";
  }
  return "unknown";
}

}  // namespace

// --- SimWindowState ---

SimWindowState::SimWindowState(std::string name,
                               bool isPanel,
                               CGRect contentRect,
                               std::uint64_t styleMask,
                               std::weak_ptr<SimWindowFactory> factory)
    : name_(std::move(name)),
      isPanel_(isPanel),
      factory_(std::move(factory)),
      styleMask_(styleMask),
      frame_(contentRect) {
  // The content rectangle's origin is the frame's; a title bar that does not
  // overlap the content adds to the height.
  frame_.size.height += titleBarHeight();
}

SimWindowState* SimWindowState::from(const Window* window) {
  return const_cast<SimWindowState*>(dynamic_cast<const SimWindowState*>(window));
}

double SimWindowState::titleBarHeight() const {
  const bool titled = (styleMask_ & NSWindowStyleMaskTitled) != 0;
  const bool fullSize = (styleMask_ & NSWindowStyleMaskFullSizeContentView) != 0;
  return titled && !fullSize ? kTitleBarHeight : 0;
}

CGSize SimWindowState::currentContentSize() const {
  return CGSize{frame_.size.width, std::max(0.0, frame_.size.height - titleBarHeight())};
}

void SimWindowState::setContentSizeKeepingTop(CGSize size) {
  setFrameSizeKeepingTop(CGSize{size.width, size.height + titleBarHeight()});
}

void SimWindowState::setFrameSizeKeepingTop(CGSize size) {
  const double top = frame_.origin.y + frame_.size.height;
  frame_ = CGRectMake(frame_.origin.x, top - size.height, size.width, size.height);
}

CGPoint SimWindowState::centeredOrigin() const {
  // Centred across the usable area, with a third of the spare height above the
  // window and two thirds below, on whole points.
  CGRect area = SimScreen{}.visibleFrame;
  if (auto factory = factory_.lock()) {
    area = factory->screen().visibleFrame;
  }
  const double x = area.origin.x + std::floor((area.size.width - frame_.size.width) / 2);
  const double y = area.origin.y + std::floor((area.size.height - frame_.size.height) * 2 / 3);
  return CGPoint{x, y};
}

void SimWindowState::placeCentered() {
  frame_.origin = centeredOrigin();
}

bool SimWindowState::canBecomeKey() const {
  // A window without a title bar or resize control cannot take keyboard focus.
  return (styleMask_ & (NSWindowStyleMaskTitled | NSWindowStyleMaskResizable)) != 0;
}

void SimWindowState::log(std::string operation) {
  if (auto factory = factory_.lock()) {
    factory->misuse_.requireMainThread("NSWindow");
  }
  operations_.push_back(std::move(operation));
}

void SimWindowState::show() {
  hiddenByDeactivation_ = false;
  if (visible_) {
    return;
  }
  visible_ = true;
  if (auto factory = factory_.lock()) {
    const CGPoint centered = centeredOrigin();
    const bool isCentered = frame_.origin == centered;
    factory->trace_.emit(TraceKind::windowShown, {{"window", name_},
                                                  {"title", title_},
                                                  {"frame", formatRect(frame_)},
                                                  {"centered", formatBool(isCentered)}});
  }
}

void SimWindowState::hide() {
  key_ = false;
  if (!visible_) {
    return;
  }
  visible_ = false;
  if (auto factory = factory_.lock()) {
    factory->trace_.emit(TraceKind::windowHidden, {{"window", name_}, {"title", title_}});
  }
}

void SimWindowState::makeKey() {
  if (!canBecomeKey()) {
    return;
  }
  key_ = true;
  if (auto factory = factory_.lock()) {
    factory->keyChanged(this);
  }
}

std::shared_ptr<View> SimWindowState::currentContentView() const {
  if (noContentView_) {
    return nullptr;
  }
  return contentViewController_ ? contentViewController_->view() : defaultContentView_;
}

void SimWindowState::attachContentViewController(
    const std::shared_ptr<ViewController>& controller) {
  if (auto* old = SimViewState::from(currentContentView())) {
    old->setContentSizeSource(nullptr);
  }
  contentViewController_ = controller;
  auto view = currentContentView();
  if (controller && view) {
    // The window takes the size of the controller's view (an embedding's fresh
    // view has none yet, so the host sizes the window afterwards).
    setContentSizeKeepingTop(view->frame().size);
  }
  linkContentView();
}

void SimWindowState::linkContentView() {
  auto* state = SimViewState::from(currentContentView());
  if (!state) {
    return;
  }
  state->setContentSizeSource([weak = self_]() -> std::optional<CGSize> {
    if (auto window = weak.lock()) {
      return window->currentContentSize();
    }
    return std::nullopt;
  });
}

void SimWindowState::drag(const Event& event) {
  const bool fromMouseDown =
      event.type == EventType::leftMouseDown || event.type == EventType::leftMouseDragged;
  if (fromMouseDown && visible_) {
    frame_.origin.x += dragOffset_.x;
    frame_.origin.y += dragOffset_.y;
  }
  drags_.push_back({event.timestamp, event, fromMouseDown && visible_});
}

void SimWindowState::userResize(CGSize frameSize) {
  setFrameSizeKeepingTop(frameSize);
}

void SimWindowState::userMove(CGPoint origin) {
  frame_.origin = origin;
}

bool SimWindowState::userClickCloseButton() {
  if (!visible_ || (styleMask_ & NSWindowStyleMaskClosable) == 0) {
    return false;
  }
  hide();
  if (auto factory = factory_.lock()) {
    factory->userClosed();
  }
  return true;
}

// --- BasicSimWindow ---

template <class I>
void BasicSimWindow<I>::awakeFromNib() {
  log("awakeFromNib");
}

template <class I>
void BasicSimWindow<I>::setContentViewController(
    const std::shared_ptr<ViewController>& controller) {
  log("setContentViewController");
  attachContentViewController(controller);
}

template <class I>
std::shared_ptr<ViewController> BasicSimWindow<I>::contentViewController() const {
  return contentViewController_;
}

template <class I>
std::shared_ptr<View> BasicSimWindow<I>::contentView() const {
  return currentContentView();
}

template <class I>
void BasicSimWindow<I>::setContentSize(CGSize size) {
  log("setContentSize:" + formatSize(size));
  setContentSizeKeepingTop(size);
}

template <class I>
CGSize BasicSimWindow<I>::contentSize() const {
  return currentContentSize();
}

template <class I>
CGRect BasicSimWindow<I>::frame() const {
  return frame_;
}

template <class I>
void BasicSimWindow<I>::setFrame(CGRect frame, bool display) {
  log("setFrame:" + formatRect(frame) + " display:" + formatBool(display));
  frame_ = frame;
}

template <class I>
void BasicSimWindow<I>::setTitle(const std::string& title) {
  log("setTitle:" + title);
  title_ = title;
}

template <class I>
std::string BasicSimWindow<I>::title() const {
  return title_;
}

template <class I>
void BasicSimWindow<I>::setLevel(int level) {
  log("setLevel:" + std::to_string(level));
  level_ = level;
}

template <class I>
int BasicSimWindow<I>::level() const {
  return level_;
}

template <class I>
void BasicSimWindow<I>::setCollectionBehavior(std::uint64_t behavior) {
  log("setCollectionBehavior:" + formatHex(behavior));
  collectionBehavior_ = behavior;
}

template <class I>
std::uint64_t BasicSimWindow<I>::collectionBehavior() const {
  return collectionBehavior_;
}

template <class I>
void BasicSimWindow<I>::setHidesOnDeactivate(bool flag) {
  log(std::string("setHidesOnDeactivate:") + formatBool(flag));
  hidesOnDeactivate_ = flag;
}

template <class I>
bool BasicSimWindow<I>::hidesOnDeactivate() const {
  return hidesOnDeactivate_;
}

template <class I>
void BasicSimWindow<I>::setOpaque(bool flag) {
  log(std::string("setOpaque:") + formatBool(flag));
  opaque_ = flag;
}

template <class I>
bool BasicSimWindow<I>::isOpaque() const {
  return opaque_;
}

template <class I>
void BasicSimWindow<I>::setBackgroundColor(Color color) {
  log("setBackgroundColor:" + formatColor(color));
  backgroundColor_ = color;
}

template <class I>
Color BasicSimWindow<I>::backgroundColor() const {
  return backgroundColor_;
}

template <class I>
void BasicSimWindow<I>::setTitleVisibility(WindowTitleVisibility visibility) {
  log(std::string("setTitleVisibility:") + toString(visibility));
  titleVisibility_ = visibility;
}

template <class I>
WindowTitleVisibility BasicSimWindow<I>::titleVisibility() const {
  return titleVisibility_;
}

template <class I>
void BasicSimWindow<I>::setTitlebarAppearsTransparent(bool flag) {
  log(std::string("setTitlebarAppearsTransparent:") + formatBool(flag));
  titlebarAppearsTransparent_ = flag;
}

template <class I>
bool BasicSimWindow<I>::titlebarAppearsTransparent() const {
  return titlebarAppearsTransparent_;
}

template <class I>
void BasicSimWindow<I>::setTitlebarSeparatorStyle(TitlebarSeparatorStyle style) {
  log(std::string("setTitlebarSeparatorStyle:") + toString(style));
  titlebarSeparatorStyle_ = style;
}

template <class I>
TitlebarSeparatorStyle BasicSimWindow<I>::titlebarSeparatorStyle() const {
  return titlebarSeparatorStyle_;
}

template <class I>
void BasicSimWindow<I>::setMovableByWindowBackground(bool flag) {
  log(std::string("setMovableByWindowBackground:") + formatBool(flag));
  movableByWindowBackground_ = flag;
}

template <class I>
bool BasicSimWindow<I>::isMovableByWindowBackground() const {
  return movableByWindowBackground_;
}

template <class I>
void BasicSimWindow<I>::setHasShadow(bool flag) {
  log(std::string("setHasShadow:") + formatBool(flag));
  hasShadow_ = flag;
}

template <class I>
bool BasicSimWindow<I>::hasShadow() const {
  return hasShadow_;
}

template <class I>
std::uint64_t BasicSimWindow<I>::styleMask() const {
  return styleMask_;
}

template <class I>
void BasicSimWindow<I>::center() {
  log("center");
  placeCentered();
}

template <class I>
void BasicSimWindow<I>::makeKeyAndOrderFront() {
  log("makeKeyAndOrderFront");
  show();
  makeKey();
}

template <class I>
void BasicSimWindow<I>::orderFront() {
  log("orderFront");
  show();
}

template <class I>
void BasicSimWindow<I>::orderOut() {
  log("orderOut");
  hide();
}

template <class I>
void BasicSimWindow<I>::setIsVisible(bool flag) {
  log(std::string("setIsVisible:") + formatBool(flag));
  if (flag) {
    show();
  } else {
    hide();
  }
}

template <class I>
bool BasicSimWindow<I>::isVisible() const {
  return visible_;
}

template <class I>
bool BasicSimWindow<I>::isKeyWindow() const {
  return key_;
}

template <class I>
void BasicSimWindow<I>::performWindowDragWithEvent(const Event& event) {
  log("performWindowDragWithEvent");
  drag(event);
}

template class BasicSimWindow<Window>;
template class BasicSimWindow<Panel>;

void SimPanel::setFloatingPanel(bool flag) {
  log(std::string("setFloatingPanel:") + formatBool(flag));
  floatingPanel_ = flag;
}

bool SimPanel::isFloatingPanel() const {
  return floatingPanel_;
}

// --- SimWindowFactory ---

SimWindowFactory::SimWindowFactory(SimTrace& trace, MisuseLog& misuse, SimViewFactory& views)
    : trace_(trace), misuse_(misuse), views_(views) {}

template <class W>
std::shared_ptr<W> SimWindowFactory::make(CGRect contentRect,
                                          std::uint64_t styleMask,
                                          BackingStoreType backing,
                                          bool defer,
                                          bool isPanel) {
  misuse_.requireMainThread("NSWindow initWithContentRect:styleMask:backing:defer:");
  auto window =
      std::make_shared<W>((isPanel ? "NSPanel#" : "NSWindow#") + std::to_string(nextId_++), isPanel,
                          contentRect, styleMask, weak_from_this());
  window->self_ = window;
  window->noContentView_ = isPanel && panelsHaveNoContentView_;
  window->defaultContentView_ = views_.makeView();
  window->linkContentView();
  window->operations_.push_back(
      "initWithContentRect:" + formatRect(contentRect) + " styleMask:" + formatHex(styleMask) +
      " backing:" + std::to_string(static_cast<int>(backing)) + " defer:" + formatBool(defer));
  windows_.erase(std::remove_if(windows_.begin(), windows_.end(),
                                [](const auto& weak) { return weak.expired(); }),
                 windows_.end());
  windows_.push_back(window);
  trace_.emit(TraceKind::windowCreated,
              {{"window", window->name_}, {"kind", isPanel ? "panel" : "window"}});
  return window;
}

std::shared_ptr<Window> SimWindowFactory::makeWindow(CGRect contentRect,
                                                     std::uint64_t styleMask,
                                                     BackingStoreType backing,
                                                     bool defer) {
  return make<SimWindow>(contentRect, styleMask, backing, defer, false);
}

std::shared_ptr<Panel> SimWindowFactory::makePanel(CGRect contentRect,
                                                   std::uint64_t styleMask,
                                                   BackingStoreType backing,
                                                   bool defer) {
  return make<SimPanel>(contentRect, styleMask, backing, defer, true);
}

std::vector<SimWindowState*> SimWindowFactory::windows() const {
  std::vector<SimWindowState*> result;
  for (const auto& weak : windows_) {
    if (auto window = weak.lock()) {
      result.push_back(window.get());
    }
  }
  return result;
}

bool SimWindowFactory::anyVisible() const {
  auto all = windows();
  return std::any_of(all.begin(), all.end(), [](const auto* w) { return w->visible(); });
}

void SimWindowFactory::keyChanged(const SimWindowState* key) {
  for (auto* window : windows()) {
    if (window != key) {
      window->setKey(false);
    }
  }
}

void SimWindowFactory::hostActivationChanged(bool active) {
  for (auto* window : windows()) {
    if (!active && window->hidesOnDeactivate_ && window->visible_) {
      window->hide();
      window->hiddenByDeactivation_ = true;
    } else if (active && window->hiddenByDeactivation_) {
      window->show();
    }
  }
}

void SimWindowFactory::userClosed() {
  if (!anyVisible() && lastWindowClosed_) {
    lastWindowClosed_();
  }
}

}  // namespace lumivane::platform::sim
