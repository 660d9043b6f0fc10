#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/sim/sim_common.h"
#include "platform/view.h"

namespace lumivane::platform::sim {

enum class LayoutEdge { top, bottom, leading, trailing };
const char* toString(LayoutEdge edge);

class SimLayoutConstraint;

// Constraints that have been activated, shared by the factory and its views
// (a view's frame depends on what pins it).
struct ConstraintRegistry {
  std::vector<std::vector<std::shared_ptr<SimLayoutConstraint>>> batches;
  // Whether every edge of `child` is held equal to the same edge of `parent`
  // by an active constraint.
  bool pinsAllEdges(const View& child, const View& parent) const;
};

// What plain and backdrop views share: the hierarchy, the frame and the
// anchors.
class SimViewState {
 public:
  SimViewState(std::string name, std::weak_ptr<ConstraintRegistry> constraints);
  virtual ~SimViewState() = default;

  // The sim's view behind a platform handle; null for a foreign view.
  static SimViewState* from(const View* view);
  static SimViewState* from(const std::shared_ptr<View>& view) { return from(view.get()); }

  const std::string& name() const { return name_; }
  // The hierarchy, back to front, and where the view is drawn.
  const std::vector<std::shared_ptr<View>>& subviews() const { return subviews_; }
  std::shared_ptr<View> superview() const { return superview_.lock(); }
  CGRect frame() const { return computeFrame(); }
  bool translatesAutoresizingMask() const { return translatesAutoresizingMask_; }
  // Sets the frame a view has when no window or constraint decides it.
  // While set, the view is its window's content view and fills its content.
  void setContentSizeSource(std::function<std::optional<CGSize>()> source) {
    contentSize_ = std::move(source);
  }

 protected:
  friend class SimViewFactory;
  CGRect computeFrame() const;
  void addSubviewImpl(const std::shared_ptr<View>& subview,
                      WindowOrderingMode positioned,
                      const std::shared_ptr<View>& relativeTo);
  std::shared_ptr<LayoutAnchor> anchor(LayoutEdge edge);

  std::string name_;
  std::weak_ptr<ConstraintRegistry> constraints_;
  std::weak_ptr<View> self_;
  std::weak_ptr<View> superview_;
  std::vector<std::shared_ptr<View>> subviews_;
  bool translatesAutoresizingMask_ = true;
  CGRect ownFrame_;
  std::function<std::optional<CGSize>()> contentSize_;
  std::shared_ptr<LayoutAnchor> anchors_[4];
};

// NSView and NSVisualEffectView share one implementation.
template <class Interface>
class BasicSimView : public Interface, public SimViewState {
 public:
  using SimViewState::SimViewState;

  void addSubview(const std::shared_ptr<View>& subview,
                  WindowOrderingMode positioned,
                  const std::shared_ptr<View>& relativeTo) override {
    addSubviewImpl(subview, positioned, relativeTo);
  }
  void setTranslatesAutoresizingMaskIntoConstraints(bool flag) override {
    translatesAutoresizingMask_ = flag;
  }
  std::shared_ptr<LayoutAnchor> topAnchor() override { return anchor(LayoutEdge::top); }
  std::shared_ptr<LayoutAnchor> bottomAnchor() override { return anchor(LayoutEdge::bottom); }
  std::shared_ptr<LayoutAnchor> leadingAnchor() override { return anchor(LayoutEdge::leading); }
  std::shared_ptr<LayoutAnchor> trailingAnchor() override { return anchor(LayoutEdge::trailing); }
};

class SimView final : public BasicSimView<View> {
 public:
  using BasicSimView<View>::BasicSimView;
};

class SimVisualEffectView final : public BasicSimView<VisualEffectView> {
 public:
  using BasicSimView<VisualEffectView>::BasicSimView;

  void setBlendingMode(VisualEffectBlendingMode mode) override;
  void setState(VisualEffectState state) override;
  void setMaterial(VisualEffectMaterial material) override;

  // How it looks: what it blends with, whether it keeps its active look
  // while its window is not key, and its material.
  VisualEffectBlendingMode blendingMode() const { return blendingMode_; }
  VisualEffectState state() const { return state_; }
  VisualEffectMaterial material() const { return material_; }

 private:
  VisualEffectBlendingMode blendingMode_ = VisualEffectBlendingMode::behindWindow;
  VisualEffectState state_ = VisualEffectState::followsWindowActiveState;
  VisualEffectMaterial material_ = VisualEffectMaterial::titlebar;
};

class SimLayoutAnchor final : public LayoutAnchor {
 public:
  SimLayoutAnchor(std::weak_ptr<View> view, LayoutEdge edge)
      : view_(std::move(view)), edge_(edge) {}

  std::shared_ptr<LayoutConstraint> constraintEqualToAnchor(
      const std::shared_ptr<LayoutAnchor>& other) override;

  std::shared_ptr<View> view() const { return view_.lock(); }
  LayoutEdge edge() const { return edge_; }

 private:
  std::weak_ptr<View> view_;
  LayoutEdge edge_;
};

// "first.edge == second.edge" with offset 0. Holds its views weakly, so a
// constraint never keeps a hierarchy alive.
class SimLayoutConstraint final : public LayoutConstraint {
 public:
  SimLayoutConstraint(std::weak_ptr<View> firstView,
                      LayoutEdge firstEdge,
                      std::weak_ptr<View> secondView,
                      LayoutEdge secondEdge)
      : firstView_(std::move(firstView)),
        firstEdge_(firstEdge),
        secondView_(std::move(secondView)),
        secondEdge_(secondEdge) {}

  bool isActive() const { return active_; }
  void setActive(bool active) { active_ = active; }

  std::shared_ptr<View> firstView() const { return firstView_.lock(); }
  LayoutEdge firstEdge() const { return firstEdge_; }
  std::shared_ptr<View> secondView() const { return secondView_.lock(); }
  LayoutEdge secondEdge() const { return secondEdge_; }
  // Whether the constraint relates these two views' `edge`, in either order.
  bool relates(const View& a, const View& b, LayoutEdge edge) const;

 private:
  std::weak_ptr<View> firstView_;
  LayoutEdge firstEdge_;
  std::weak_ptr<View> secondView_;
  LayoutEdge secondEdge_;
  bool active_ = false;
};

// A view controller around a given view, for windows built without the
// embedding.
class SimViewController final : public ViewController {
 public:
  explicit SimViewController(std::shared_ptr<View> view) : view_(std::move(view)) {}
  std::shared_ptr<View> view() override { return view_; }

 private:
  std::shared_ptr<View> view_;
};

class SimViewFactory final : public ViewFactory {
 public:
  explicit SimViewFactory(MisuseLog& misuse);

  std::shared_ptr<View> makeView() override;
  std::shared_ptr<VisualEffectView> makeVisualEffectView() override;
  void activateConstraints(const std::vector<std::shared_ptr<LayoutConstraint>>& c) override;

  // Every activateConstraints call, with its constraints in the order given.
  const std::vector<std::vector<std::shared_ptr<SimLayoutConstraint>>>& activationBatches() const {
    return constraints_->batches;
  }
  // `child` is a subview of `parent`, lays out by constraints, and active
  // constraints hold its four edges to the same edges of `parent`.
  bool isPinnedToEdges(const std::shared_ptr<View>& child,
                       const std::shared_ptr<View>& parent) const;

 private:
  MisuseLog& misuse_;
  std::shared_ptr<ConstraintRegistry> constraints_;
  int nextId_ = 1;
};

}  // namespace lumivane::platform::sim
