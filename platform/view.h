#pragma once

#include <memory>
#include <vector>

#include "platform/geometry.h"

namespace lumivane::platform {

class View;

// An active or inactive layout rule between two anchors (NSLayoutConstraint).
// Inactive until activated with ViewFactory::activateConstraints.
class LayoutConstraint {
 public:
  virtual ~LayoutConstraint() = default;
};

// One edge of a view used for layout (NSLayoutAnchor).
class LayoutAnchor {
 public:
  virtual ~LayoutAnchor() = default;
  // A new, inactive constraint holding this anchor equal to `other` with offset
  // 0 (constraintEqualToAnchor:). Never absent.
  virtual std::shared_ptr<LayoutConstraint> constraintEqualToAnchor(
      const std::shared_ptr<LayoutAnchor>& other) = 0;
};

// Where addSubview:positioned:relativeTo: puts the new view.
enum class WindowOrderingMode { below = -1, out = 0, above = 1 };

// A view in a window's hierarchy (NSView). Main thread only.
class View {
 public:
  virtual ~View() = default;

  // Adds `subview` as a child, ordered below or above `relativeTo` (one of this
  // view's children, or absent for all of them).
  virtual void addSubview(const std::shared_ptr<View>& subview,
                          WindowOrderingMode positioned,
                          const std::shared_ptr<View>& relativeTo) = 0;
  // Off: the view's place comes from the constraints activated for it alone.
  virtual void setTranslatesAutoresizingMaskIntoConstraints(bool flag) = 0;

  virtual std::shared_ptr<LayoutAnchor> topAnchor() = 0;
  virtual std::shared_ptr<LayoutAnchor> bottomAnchor() = 0;
  virtual std::shared_ptr<LayoutAnchor> leadingAnchor() = 0;
  virtual std::shared_ptr<LayoutAnchor> trailingAnchor() = 0;
};

// NSVisualEffectView's settings, with the platform's raw values.
enum class VisualEffectBlendingMode { behindWindow = 0, withinWindow = 1 };
enum class VisualEffectState { followsWindowActiveState = 0, active = 1, inactive = 2 };
enum class VisualEffectMaterial { titlebar = 3, selection = 4, menu = 5, popover = 6, sidebar = 7 };

// A translucent backdrop view (NSVisualEffectView).
class VisualEffectView : public View {
 public:
  virtual void setBlendingMode(VisualEffectBlendingMode mode) = 0;
  virtual void setState(VisualEffectState state) = 0;
  virtual void setMaterial(VisualEffectMaterial material) = 0;
};

// Something that owns a view and can be a window's content (NSViewController).
class ViewController {
 public:
  virtual ~ViewController() = default;
  // Never absent.
  virtual std::shared_ptr<View> view() = 0;
};

// Makes views and activates constraints (the class side of NSView,
// NSVisualEffectView and NSLayoutConstraint).
class ViewFactory {
 public:
  virtual ~ViewFactory() = default;
  // A new plain view (NSView init); used by embeddings for their content.
  virtual std::shared_ptr<View> makeView() = 0;
  // A new backdrop view (NSVisualEffectView init).
  virtual std::shared_ptr<VisualEffectView> makeVisualEffectView() = 0;
  // Activates all given constraints in one layout pass
  // (NSLayoutConstraint activateConstraints:).
  virtual void activateConstraints(const std::vector<std::shared_ptr<LayoutConstraint>>& c) = 0;
};

}  // namespace lumivane::platform
