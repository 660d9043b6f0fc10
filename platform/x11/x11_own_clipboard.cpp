#include "platform/x11/x11_own_clipboard.h"

#include <gdk/gdkx.h>
#include <gtk/gtk.h>

#include <utility>

#include "platform/gtk/glib_handles.h"
#include "platform/utf8.h"
#include "platform/x11/x11_pasteboard.h"
#include "platform/x11/x11_selection.h"

namespace lumivane::platform::x11 {
namespace {

// What GTK handed over of its own clipboard: every target with its bytes,
// read at once (it is this process's memory), in the owner's order.
class OwnClipboardItem final : public PasteboardItem {
 public:
  explicit OwnClipboardItem(std::vector<std::pair<std::string, Bytes>> types)
      : types_(std::move(types)) {}
  std::vector<std::string> types() const override {
    std::vector<std::string> names;
    for (const auto& [type, data] : types_)
      names.push_back(type);
    return names;
  }
  std::optional<Bytes> dataForType(const std::string& type) const override {
    for (const auto& [name, data] : types_) {
      if (name == type)
        return data;
    }
    return std::nullopt;
  }
  // Read from the clipboard, never written.
  bool setDataForType(Bytes, const std::string&) override { return false; }

 private:
  std::vector<std::pair<std::string, Bytes>> types_;
};

std::string atomName(GdkAtom atom) {
  gtk::GCharPtr name(gdk_atom_name(atom));
  return name ? name.get() : "";
}

}  // namespace

X11OwnClipboardAwarePasteboard::X11OwnClipboardAwarePasteboard(
    std::unique_ptr<Pasteboard> clipboard,
    std::function<bool()> isMainThread)
    : clipboard_(std::move(clipboard)), isMainThread_(std::move(isMainThread)) {}

X11OwnClipboardAwarePasteboard::~X11OwnClipboardAwarePasteboard() = default;

bool X11OwnClipboardAwarePasteboard::ownedByGtkInThisProcess() const {
  if (!isMainThread_ || !isMainThread_())
    return false;
  GdkDisplay* display = gdk_display_get_default();
  if (!display || !GDK_IS_X11_DISPLAY(display))
    return false;
  const Window owner = XGetSelectionOwner(
      GDK_DISPLAY_XDISPLAY(display), gdk_x11_get_xatom_by_name_for_display(display, "CLIPBOARD"));
  return owner != None && gdk_x11_window_lookup_for_display(display, owner) != nullptr;
}

std::optional<std::vector<std::shared_ptr<PasteboardItem>>>
X11OwnClipboardAwarePasteboard::pasteboardItems() {
  if (!ownedByGtkInThisProcess())
    return clipboard_->pasteboardItems();
  GtkClipboard* clipboard = gtk_clipboard_get(GDK_SELECTION_CLIPBOARD);
  GdkAtom* targets = nullptr;
  gint count = 0;
  if (!gtk_clipboard_wait_for_targets(clipboard, &targets, &count))
    return std::vector<std::shared_ptr<PasteboardItem>>{};
  std::vector<std::pair<std::string, Bytes>> types;
  for (gint i = 0; i < count; ++i) {
    const std::string target = atomName(targets[i]);
    if (target.empty() || isMetaTarget(target))
      continue;
    GtkSelectionData* data = gtk_clipboard_wait_for_contents(clipboard, targets[i]);
    if (!data)
      continue;
    const gint length = gtk_selection_data_get_length(data);
    if (length >= 0) {
      const guchar* bytes = gtk_selection_data_get_data(data);
      Bytes copy(bytes, bytes + length);
      const auto format = static_cast<std::uint8_t>(gtk_selection_data_get_format(data));
      types.emplace_back(
          typeString(target, atomName(gtk_selection_data_get_data_type(data)), format),
          std::move(copy));
    }
    gtk_selection_data_free(data);
  }
  g_free(targets);
  std::vector<std::shared_ptr<PasteboardItem>> items;
  if (!types.empty())
    items.push_back(std::make_shared<OwnClipboardItem>(std::move(types)));
  return items;
}

std::optional<std::string> X11OwnClipboardAwarePasteboard::stringForType(const std::string& type) {
  if (type != NSPasteboardTypeString || !ownedByGtkInThisProcess())
    return clipboard_->stringForType(type);
  gtk::GCharPtr text(gtk_clipboard_wait_for_text(gtk_clipboard_get(GDK_SELECTION_CLIPBOARD)));
  if (!text || !isValidUtf8(text.get()))
    return std::nullopt;
  return std::string(text.get());
}

std::int64_t X11OwnClipboardAwarePasteboard::clearContents() {
  return clipboard_->clearContents();
}

bool X11OwnClipboardAwarePasteboard::writeObjects(
    const std::vector<std::shared_ptr<PasteboardItem>>& items) {
  return clipboard_->writeObjects(items);
}

bool X11OwnClipboardAwarePasteboard::setStringForType(const std::string& string,
                                                      const std::string& type) {
  return clipboard_->setStringForType(string, type);
}

std::int64_t X11OwnClipboardAwarePasteboard::changeCount() {
  return clipboard_->changeCount();
}

std::shared_ptr<PasteboardItem> X11OwnClipboardAwarePasteboard::makeItem() {
  return clipboard_->makeItem();
}

}  // namespace lumivane::platform::x11
