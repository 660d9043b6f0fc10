#include "platform/sim/sim_view.h"

#include <algorithm>
#include <utility>

namespace lumivane::platform::sim {

namespace {

std::shared_ptr<View> parentOf(const std::shared_ptr<View>& view) {
  const auto* state = SimViewState::from(view);
  return state ? state->superview() : nullptr;
}

bool isAncestorOrSelf(const View* ancestor, const std::shared_ptr<View>& view) {
  for (auto v = view; v; v = parentOf(v)) {
    if (v.get() == ancestor) {
      return true;
    }
  }
  return false;
}

bool shareAncestor(const std::shared_ptr<View>& a, const std::shared_ptr<View>& b) {
  for (auto v = a; v; v = parentOf(v)) {
    if (isAncestorOrSelf(v.get(), b)) {
      return true;
    }
  }
  return false;
}

}  // namespace

const char* toString(LayoutEdge edge) {
  switch (edge) {
    case LayoutEdge::top:
      return "top";
    case LayoutEdge::bottom:
      return "bottom";
    case LayoutEdge::leading:
      return "leading";
    case LayoutEdge::trailing:
      return "trailing";
  }
  return "unknown";
}

bool ConstraintRegistry::pinsAllEdges(const View& child, const View& parent) const {
  for (LayoutEdge edge :
       {LayoutEdge::top, LayoutEdge::bottom, LayoutEdge::leading, LayoutEdge::trailing}) {
    bool pinned = false;
    for (const auto& batch : batches) {
      pinned = pinned || std::any_of(batch.begin(), batch.end(), [&](const auto& constraint) {
                 return constraint->isActive() && constraint->relates(child, parent, edge);
               });
    }
    if (!pinned) {
      return false;
    }
  }
  return true;
}

// --- SimViewState ---

SimViewState::SimViewState(std::string name, std::weak_ptr<ConstraintRegistry> constraints)
    : name_(std::move(name)), constraints_(std::move(constraints)) {}

SimViewState* SimViewState::from(const View* view) {
  return const_cast<SimViewState*>(dynamic_cast<const SimViewState*>(view));
}

CGRect SimViewState::computeFrame() const {
  if (contentSize_) {
    if (auto size = contentSize_()) {
      return CGRect{{0, 0}, *size};
    }
  }
  // A view laid out by constraints that pin it to its superview's edges fills
  // the superview, and follows it through every resize. One that still
  // translates its autoresizing mask gets conflicting constraints instead, and
  // keeps the frame it had.
  auto parent = superview_.lock();
  auto self = self_.lock();
  auto registry = constraints_.lock();
  if (parent && self && registry && !translatesAutoresizingMask_ &&
      registry->pinsAllEdges(*self, *parent)) {
    if (auto* parentState = SimViewState::from(parent))
      return CGRect{{0, 0}, parentState->computeFrame().size};
  }
  return ownFrame_;
}

void SimViewState::addSubviewImpl(const std::shared_ptr<View>& subview,
                                  WindowOrderingMode positioned,
                                  const std::shared_ptr<View>& relativeTo) {
  auto self = self_.lock();
  auto* child = SimViewState::from(subview);
  if (!subview || !self || !child || subview == self) {
    return;
  }
  // A view has one superview: adding it elsewhere takes it out of the old one.
  if (auto old = child->superview_.lock()) {
    if (auto* oldState = SimViewState::from(old)) {
      auto& siblings = oldState->subviews_;
      siblings.erase(std::remove(siblings.begin(), siblings.end(), subview), siblings.end());
    }
  }
  // A reference view that is not one of ours counts as none: the new view goes
  // below or above all of them.
  auto it =
      relativeTo ? std::find(subviews_.begin(), subviews_.end(), relativeTo) : subviews_.end();
  const bool found = it != subviews_.end();
  if (positioned == WindowOrderingMode::below) {
    subviews_.insert(found ? it : subviews_.begin(), subview);
  } else {
    subviews_.insert(found ? it + 1 : subviews_.end(), subview);
  }
  child->superview_ = self;
}

std::shared_ptr<LayoutAnchor> SimViewState::anchor(LayoutEdge edge) {
  auto& slot = anchors_[static_cast<int>(edge)];
  if (!slot) {
    slot = std::make_shared<SimLayoutAnchor>(self_, edge);
  }
  return slot;
}

// --- SimVisualEffectView ---

void SimVisualEffectView::setBlendingMode(VisualEffectBlendingMode mode) {
  blendingMode_ = mode;
}

void SimVisualEffectView::setState(VisualEffectState state) {
  state_ = state;
}

void SimVisualEffectView::setMaterial(VisualEffectMaterial material) {
  material_ = material;
}

// --- Anchors and constraints ---

std::shared_ptr<LayoutConstraint> SimLayoutAnchor::constraintEqualToAnchor(
    const std::shared_ptr<LayoutAnchor>& other) {
  auto* otherAnchor = dynamic_cast<SimLayoutAnchor*>(other.get());
  if (!otherAnchor) {
    return std::make_shared<SimLayoutConstraint>(view_, edge_, std::weak_ptr<View>(), edge_);
  }
  return std::make_shared<SimLayoutConstraint>(view_, edge_, otherAnchor->view_,
                                               otherAnchor->edge_);
}

bool SimLayoutConstraint::relates(const View& a, const View& b, LayoutEdge edge) const {
  if (firstEdge_ != edge || secondEdge_ != edge) {
    return false;
  }
  auto first = firstView_.lock();
  auto second = secondView_.lock();
  return (first.get() == &a && second.get() == &b) || (first.get() == &b && second.get() == &a);
}

// --- SimViewFactory ---

SimViewFactory::SimViewFactory(MisuseLog& misuse)
    : misuse_(misuse), constraints_(std::make_shared<ConstraintRegistry>()) {}

std::shared_ptr<View> SimViewFactory::makeView() {
  misuse_.requireMainThread("NSView init");
  auto view = std::make_shared<SimView>("NSView#" + std::to_string(nextId_++), constraints_);
  view->self_ = view;
  return view;
}

std::shared_ptr<VisualEffectView> SimViewFactory::makeVisualEffectView() {
  misuse_.requireMainThread("NSVisualEffectView init");
  auto view = std::make_shared<SimVisualEffectView>(
      "NSVisualEffectView#" + std::to_string(nextId_++), constraints_);
  view->self_ = view;
  return view;
}

void SimViewFactory::activateConstraints(const std::vector<std::shared_ptr<LayoutConstraint>>& c) {
  misuse_.requireMainThread("NSLayoutConstraint activateConstraints:");
  std::vector<std::shared_ptr<SimLayoutConstraint>> batch;
  for (const auto& constraint : c) {
    auto sim = std::dynamic_pointer_cast<SimLayoutConstraint>(constraint);
    if (!sim) {
      misuse_.record("activateConstraints: with a constraint the sim did not make");
      continue;
    }
    // AppKit raises when the two views are in different hierarchies (for
    // example when the subview has not been added yet).
    if (!shareAncestor(sim->firstView(), sim->secondView())) {
      misuse_.record("activateConstraints: views without a common ancestor");
      continue;
    }
    sim->setActive(true);
    batch.push_back(std::move(sim));
  }
  constraints_->batches.push_back(std::move(batch));
}

bool SimViewFactory::isPinnedToEdges(const std::shared_ptr<View>& child,
                                     const std::shared_ptr<View>& parent) const {
  const auto* state = SimViewState::from(child);
  return state && parent && state->superview() == parent && !state->translatesAutoresizingMask() &&
         constraints_->pinsAllEdges(*child, *parent);
}

}  // namespace lumivane::platform::sim
