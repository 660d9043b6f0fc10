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

void SimWindowState::touch() {
  if (auto factory = factory_.lock()) {
    factory->misuse_.requireMainThread("NSWindow");
  }
}

bool SimWindowState::isCentered() const {
  return frame_.origin == centeredOrigin();
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
  if (auto* viewState = controller ? SimViewState::from(view) : nullptr) {
    // The window takes the size of the controller's view (an embedding's fresh
    // view has none yet, so the host sizes the window afterwards).
    setContentSizeKeepingTop(viewState->frame().size);
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
  touch();
}

template <class I>
void BasicSimWindow<I>::setContentViewController(
    const std::shared_ptr<ViewController>& controller) {
  touch();
  attachContentViewController(controller);
}

template <class I>
std::shared_ptr<View> BasicSimWindow<I>::contentView() const {
  return currentContentView();
}

template <class I>
void BasicSimWindow<I>::setContentSize(CGSize size) {
  touch();
  setContentSizeKeepingTop(size);
}

template <class I>
CGRect BasicSimWindow<I>::frame() const {
  return frame_;
}

template <class I>
void BasicSimWindow<I>::setFrame(CGRect frame, bool /*display*/) {
  touch();
  frame_ = frame;
}

template <class I>
void BasicSimWindow<I>::setTitle(const std::string& title) {
  touch();
  title_ = title;
}

template <class I>
void BasicSimWindow<I>::setLevel(int level) {
  touch();
  level_ = level;
}

template <class I>
void BasicSimWindow<I>::setCollectionBehavior(std::uint64_t behavior) {
  touch();
  collectionBehavior_ = behavior;
}

template <class I>
void BasicSimWindow<I>::setHidesOnDeactivate(bool flag) {
  touch();
  hidesOnDeactivate_ = flag;
}

template <class I>
void BasicSimWindow<I>::setOpaque(bool flag) {
  touch();
  opaque_ = flag;
}

template <class I>
void BasicSimWindow<I>::setBackgroundColor(Color color) {
  touch();
  backgroundColor_ = color;
}

template <class I>
void BasicSimWindow<I>::setTitleVisibility(WindowTitleVisibility visibility) {
  touch();
  titleVisibility_ = visibility;
}

template <class I>
void BasicSimWindow<I>::setTitlebarAppearsTransparent(bool flag) {
  touch();
  titlebarAppearsTransparent_ = flag;
}

template <class I>
void BasicSimWindow<I>::setTitlebarSeparatorStyle(TitlebarSeparatorStyle style) {
  touch();
  titlebarSeparatorStyle_ = style;
}

template <class I>
void BasicSimWindow<I>::setMovableByWindowBackground(bool flag) {
  touch();
  movableByWindowBackground_ = flag;
}

template <class I>
void BasicSimWindow<I>::setHasShadow(bool flag) {
  touch();
  hasShadow_ = flag;
}

template <class I>
void BasicSimWindow<I>::center() {
  touch();
  placeCentered();
}

template <class I>
void BasicSimWindow<I>::makeKeyAndOrderFront() {
  touch();
  show();
  makeKey();
}

template <class I>
void BasicSimWindow<I>::orderFront() {
  touch();
  show();
}

template <class I>
void BasicSimWindow<I>::orderOut() {
  touch();
  hide();
}

template <class I>
void BasicSimWindow<I>::setIsVisible(bool flag) {
  touch();
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
void BasicSimWindow<I>::performWindowDragWithEvent(const Event& event) {
  touch();
  drag(event);
}

template class BasicSimWindow<Window>;
template class BasicSimWindow<Panel>;

void SimPanel::setFloatingPanel(bool flag) {
  touch();
  floatingPanel_ = flag;
}

// --- SimWindowFactory ---

SimWindowFactory::SimWindowFactory(SimTrace& trace, MisuseLog& misuse, SimViewFactory& views)
    : trace_(trace), misuse_(misuse), views_(views) {}

template <class W>
std::shared_ptr<W> SimWindowFactory::make(CGRect contentRect,
                                          std::uint64_t styleMask,
                                          bool isPanel) {
  misuse_.requireMainThread("NSWindow initWithContentRect:styleMask:backing:defer:");
  auto window =
      std::make_shared<W>((isPanel ? "NSPanel#" : "NSWindow#") + std::to_string(nextId_++), isPanel,
                          contentRect, styleMask, weak_from_this());
  window->self_ = window;
  window->noContentView_ = isPanel && panelsHaveNoContentView_;
  window->defaultContentView_ = views_.makeView();
  window->linkContentView();
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
                                                     BackingStoreType /*backing*/,
                                                     bool /*defer*/) {
  return make<SimWindow>(contentRect, styleMask, false);
}

std::shared_ptr<Panel> SimWindowFactory::makePanel(CGRect contentRect,
                                                   std::uint64_t styleMask,
                                                   BackingStoreType /*backing*/,
                                                   bool /*defer*/) {
  return make<SimPanel>(contentRect, styleMask, true);
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
