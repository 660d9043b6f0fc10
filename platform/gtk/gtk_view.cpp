#include "platform/gtk/gtk_view.h"

#include "platform/gtk/panel_embedding.h"

#include <algorithm>
#include <utility>

namespace lumivane::platform::gtk {
namespace {

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

std::shared_ptr<GtkHostView> GtkHostView::make(GtkWidget* background) {
  std::shared_ptr<GtkHostView> view(new GtkHostView(background));
  view->self_ = view;
  return view;
}

GtkHostView::GtkHostView(GtkWidget* background) : widget_(retainObject(gtk_overlay_new())) {
  if (background) {
    gtk_widget_set_hexpand(background, TRUE);
    gtk_widget_set_vexpand(background, TRUE);
    gtk_container_add(GTK_CONTAINER(widget_.get()), background);
    gtk_widget_show(background);
  }
  gtk_widget_show(widget_.get());
}

GtkHostView::~GtkHostView() {
  // Subviews that outlive this view keep working widgets: taken out before
  // the overlay goes, they are not destroyed with it.
  for (auto& entry : stack_) {
    gtk_container_remove(GTK_CONTAINER(widget_.get()), entry.widget.get());
  }
}

GtkHostView* GtkHostView::from(const std::shared_ptr<View>& view) {
  if (auto* plain = dynamic_cast<GtkHostView*>(view.get())) {
    return plain;
  }
  if (auto* effect = dynamic_cast<GtkVisualEffectView*>(view.get())) {
    return effect->view().get();
  }
  return nullptr;
}

std::vector<std::shared_ptr<View>> GtkHostView::subviews() const {
  std::vector<std::shared_ptr<View>> views;
  for (const auto& entry : stack_) {
    if (entry.view) {
      views.push_back(entry.view);
    }
  }
  return views;
}

bool GtkHostView::isAncestorOf(const GtkHostView* view) const {
  for (const GtkHostView* v = view; v;) {
    if (v == this) {
      return true;
    }
    auto parent = v->superview_.lock();
    v = parent ? from(parent) : nullptr;
  }
  return false;
}

void GtkHostView::addSubview(const std::shared_ptr<View>& subview,
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
  GtkHostView* reference = relativeTo ? from(relativeTo) : nullptr;
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

void GtkHostView::addInterfaceWidget(GtkWidget* widget) {
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

void GtkHostView::removeSubview(const GtkHostView* subview) {
  auto it = std::find_if(stack_.begin(), stack_.end(), [&](const Entry& entry) {
    return entry.view && from(entry.view) == subview;
  });
  if (it == stack_.end()) {
    return;
  }
  gtk_container_remove(GTK_CONTAINER(widget_.get()), it->widget.get());
  stack_.erase(it);
}

void GtkHostView::restack() {
  int index = 0;
  for (const auto& entry : stack_) {
    gtk_overlay_reorder_overlay(GTK_OVERLAY(widget_.get()), entry.widget.get(), index++);
  }
}

void GtkHostView::setTranslatesAutoresizingMaskIntoConstraints(bool flag) {
  translatesAutoresizingMask_ = flag;
}

std::shared_ptr<LayoutAnchor> GtkHostView::anchor(GtkLayoutEdge edge) {
  auto& slot = anchors_[static_cast<int>(edge)];
  if (!slot) {
    slot = std::make_shared<GtkLayoutAnchor>(self_, edge);
  }
  return slot;
}

std::shared_ptr<LayoutAnchor> GtkHostView::topAnchor() {
  return anchor(GtkLayoutEdge::top);
}
std::shared_ptr<LayoutAnchor> GtkHostView::bottomAnchor() {
  return anchor(GtkLayoutEdge::bottom);
}
std::shared_ptr<LayoutAnchor> GtkHostView::leadingAnchor() {
  return anchor(GtkLayoutEdge::leading);
}
std::shared_ptr<LayoutAnchor> GtkHostView::trailingAnchor() {
  return anchor(GtkLayoutEdge::trailing);
}

void GtkHostView::updateLayout() {
  auto parent = superview_.lock();
  const GtkHostView* parentView = parent ? from(parent) : nullptr;
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
  const bool top = pinned[static_cast<int>(GtkLayoutEdge::top)];
  const bool bottom = pinned[static_cast<int>(GtkLayoutEdge::bottom)];
  const bool leading = pinned[static_cast<int>(GtkLayoutEdge::leading)];
  const bool trailing = pinned[static_cast<int>(GtkLayoutEdge::trailing)];
  // Leading is the left edge in left-to-right text and the right edge in
  // right-to-left text, as GTK's start and end are.
  gtk_widget_set_halign(widget(), align(leading, trailing));
  gtk_widget_set_valign(widget(), align(top, bottom));
  gtk_widget_set_hexpand(widget(), leading && trailing);
  gtk_widget_set_vexpand(widget(), top && bottom);
  gtk_widget_queue_resize(widget());
}

GtkVisualEffectView::GtkVisualEffectView()
    : view_(GtkHostView::make(gtk_drawing_area_new())),
      backdrop_(gtk_bin_get_child(GTK_BIN(view_->widget()))) {
  g_signal_connect(backdrop_, "draw", G_CALLBACK(&GtkVisualEffectView::draw), this);
  setMaterial(material_);
}

GtkVisualEffectView::~GtkVisualEffectView() {
  g_signal_handlers_disconnect_by_data(backdrop_, this);
}

void GtkVisualEffectView::setState(VisualEffectState state) {
  state_ = state;
  gtk_widget_queue_draw(backdrop_);
}

void GtkVisualEffectView::setMaterial(VisualEffectMaterial material) {
  GtkStyleContext* style = gtk_widget_get_style_context(backdrop_);
  gtk_style_context_remove_class(style, styleClassOf(material_));
  material_ = material;
  gtk_style_context_add_class(style, styleClassOf(material_));
  gtk_widget_queue_draw(backdrop_);
}

gboolean GtkVisualEffectView::draw(GtkWidget* widget, cairo_t* cr, gpointer self) {
  const auto state = static_cast<GtkVisualEffectView*>(self)->state_;
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

std::shared_ptr<LayoutConstraint> GtkLayoutAnchor::constraintEqualToAnchor(
    const std::shared_ptr<LayoutAnchor>& other) {
  auto* anchor = dynamic_cast<GtkLayoutAnchor*>(other.get());
  if (!anchor) {
    // Another platform's anchor: a constraint that relates nothing.
    return std::make_shared<GtkLayoutConstraint>(std::weak_ptr<View>(), edge_,
                                                 std::weak_ptr<View>(), edge_);
  }
  return std::make_shared<GtkLayoutConstraint>(view_, edge_, anchor->view_, anchor->edge_);
}

std::optional<GtkLayoutEdge> GtkLayoutConstraint::pinnedEdge(const View* child,
                                                             const View* parent) const {
  if (!active_ || firstEdge_ != secondEdge_) {
    return std::nullopt;
  }
  auto first = first_.lock();
  auto second = second_.lock();
  if (!first || !second) {
    return std::nullopt;
  }
  const View* a = GtkHostView::from(first);
  const View* b = GtkHostView::from(second);
  if ((a == child && b == parent) || (a == parent && b == child)) {
    return firstEdge_;
  }
  return std::nullopt;
}

std::shared_ptr<View> GtkViewFactory::makeView() {
  return GtkHostView::make();
}

std::shared_ptr<VisualEffectView> GtkViewFactory::makeVisualEffectView() {
  return std::make_shared<GtkVisualEffectView>();
}

void GtkViewFactory::activateConstraints(const std::vector<std::shared_ptr<LayoutConstraint>>& c) {
  std::vector<std::shared_ptr<View>> affected;
  for (const auto& base : c) {
    auto constraint = std::dynamic_pointer_cast<GtkLayoutConstraint>(base);
    if (!constraint || constraint->active_) {
      continue;
    }
    constraint->active_ = true;
    for (const auto& weak : {constraint->first_, constraint->second_}) {
      auto view = weak.lock();
      if (auto* x11 = view ? GtkHostView::from(view) : nullptr) {
        x11->constraints_.push_back(constraint);
        affected.push_back(std::move(view));
      }
    }
  }
  // One layout pass: every view whose pins changed, and the subviews of those
  // (a view may be the parent side of a constraint).
  for (const auto& view : affected) {
    auto* x11 = GtkHostView::from(view);
    x11->updateLayout();
    for (const auto& subview : x11->subviews()) {
      GtkHostView::from(subview)->updateLayout();
    }
  }
}

bool embedInterfaceWidget(const std::shared_ptr<View>& view, GtkWidget* widget) {
  auto* gtkView = GtkHostView::from(view);
  if (!gtkView || !widget)
    return false;
  gtkView->addInterfaceWidget(widget);
  return true;
}

}  // namespace lumivane::platform::gtk
