#pragma once

#include <gtk/gtk.h>

#include <memory>
#include <optional>
#include <vector>

#include "platform/gtk/glib_handles.h"
#include "platform/view.h"

namespace lumivane::platform::gtk {

enum class GtkLayoutEdge { top, bottom, leading, trailing };

class GtkLayoutConstraint;

// NSView as a GtkOverlay: subviews and widgets of an interface written in GTK
// are its overlay children, stacked back to front. A subview takes its size
// from its own request at the top-left corner unless active constraints pin
// its edges to the same edges of its superview: pinned on two opposite edges
// it fills that direction, on all four it fills the view and follows every
// resize. Main thread only.
class GtkHostView : public View {
 public:
  // A new view; `background`, when given, is drawn behind every subview and
  // fills the view (the view takes ownership of it).
  static std::shared_ptr<GtkHostView> make(GtkWidget* background = nullptr);
  ~GtkHostView() override;
  GtkHostView(const GtkHostView&) = delete;
  GtkHostView& operator=(const GtkHostView&) = delete;

  // The X11 view behind a platform handle; null for another platform's.
  static GtkHostView* from(const std::shared_ptr<View>& view);

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
  explicit GtkHostView(GtkWidget* background);

  friend class GtkLayoutConstraint;
  friend class GtkViewFactory;
  struct Entry {
    std::shared_ptr<View> view;  // Or, for an interface widget, none.
    GObjectPtr<GtkWidget> widget;
  };

  std::shared_ptr<LayoutAnchor> anchor(GtkLayoutEdge edge);
  void removeSubview(const GtkHostView* subview);
  void restack();
  // Applies the active constraints between this view and its superview.
  void updateLayout();
  bool isAncestorOf(const GtkHostView* view) const;

  GObjectPtr<GtkWidget> widget_;
  std::weak_ptr<View> self_;
  std::weak_ptr<View> superview_;
  std::vector<Entry> stack_;  // Back to front: subviews and interface widgets.
  std::vector<std::shared_ptr<GtkLayoutConstraint>> constraints_;
  std::shared_ptr<LayoutAnchor> anchors_[4];
  bool translatesAutoresizingMask_ = true;
};

// NSVisualEffectView: a backdrop drawn by the GTK theme in the style of the
// chosen material (sidebar: the theme's "sidebar" style). In the "active"
// state it keeps its focused look while its window is not focused; in
// "inactive" it always has the unfocused one.
class GtkVisualEffectView final : public VisualEffectView {
 public:
  GtkVisualEffectView();
  ~GtkVisualEffectView() override;
  GtkVisualEffectView(const GtkVisualEffectView&) = delete;
  GtkVisualEffectView& operator=(const GtkVisualEffectView&) = delete;

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

  // The view that does the work; its widget holds the one that draws the
  // backdrop.
  const std::shared_ptr<GtkHostView>& view() const { return view_; }

 private:
  static gboolean draw(GtkWidget* widget, cairo_t* cr, gpointer self);

  std::shared_ptr<GtkHostView> view_;
  GtkWidget* backdrop_;  // Owned by view_'s widget.
  VisualEffectBlendingMode blendingMode_ = VisualEffectBlendingMode::behindWindow;
  VisualEffectState state_ = VisualEffectState::followsWindowActiveState;
  VisualEffectMaterial material_ = VisualEffectMaterial::titlebar;
};

class GtkLayoutAnchor final : public LayoutAnchor {
 public:
  GtkLayoutAnchor(std::weak_ptr<View> view, GtkLayoutEdge edge)
      : view_(std::move(view)), edge_(edge) {}
  std::shared_ptr<LayoutConstraint> constraintEqualToAnchor(
      const std::shared_ptr<LayoutAnchor>& other) override;

 private:
  std::weak_ptr<View> view_;
  GtkLayoutEdge edge_;
};

// "first.edge == second.edge"; holds its views weakly.
class GtkLayoutConstraint final : public LayoutConstraint {
 public:
  GtkLayoutConstraint(std::weak_ptr<View> first,
                      GtkLayoutEdge firstEdge,
                      std::weak_ptr<View> second,
                      GtkLayoutEdge secondEdge)
      : first_(std::move(first)),
        firstEdge_(firstEdge),
        second_(std::move(second)),
        secondEdge_(secondEdge) {}

  // The edge of `child` this constraint pins to the same edge of `parent`.
  std::optional<GtkLayoutEdge> pinnedEdge(const View* child, const View* parent) const;

 private:
  friend class GtkViewFactory;
  std::weak_ptr<View> first_;
  GtkLayoutEdge firstEdge_;
  std::weak_ptr<View> second_;
  GtkLayoutEdge secondEdge_;
  bool active_ = false;
};

// Makes views (the embedding's content views among them) and lays them out.
class GtkViewFactory final : public ViewFactory {
 public:
  std::shared_ptr<View> makeView() override;
  std::shared_ptr<VisualEffectView> makeVisualEffectView() override;
  void activateConstraints(const std::vector<std::shared_ptr<LayoutConstraint>>& c) override;
};

}  // namespace lumivane::platform::gtk
