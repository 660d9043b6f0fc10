#include "platform/gtk/own_clipboard.h"

#include <gtk/gtk.h>

#include <utility>

#include "platform/gtk/clipboard_targets.h"
#include "platform/gtk/glib_handles.h"
#include "platform/utf8.h"

namespace lumivane::platform::gtk {
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
  GCharPtr name(gdk_atom_name(atom));
  return name ? name.get() : "";
}

GdkAtom atomOf(OwnClipboardAwarePasteboard::Selection selection) {
  return selection == OwnClipboardAwarePasteboard::Selection::clipboard ? GDK_SELECTION_CLIPBOARD
                                                                        : GDK_SELECTION_PRIMARY;
}

}  // namespace

OwnClipboardAwarePasteboard::OwnClipboardAwarePasteboard(std::unique_ptr<Pasteboard> clipboard,
                                                         Options options)
    : clipboard_(std::move(clipboard)), options_(std::move(options)) {}

OwnClipboardAwarePasteboard::~OwnClipboardAwarePasteboard() = default;

bool OwnClipboardAwarePasteboard::ownedByGtkInThisProcess() const {
  if (!options_.isMainThread || !options_.isMainThread())
    return false;
  GdkDisplay* display = gdk_display_get_default();
  if (!display)
    return false;
  if (options_.catchUp)
    options_.catchUp();
  return gdk_selection_owner_get_for_display(display, atomOf(options_.selection)) != nullptr;
}

std::optional<std::vector<std::shared_ptr<PasteboardItem>>>
OwnClipboardAwarePasteboard::pasteboardItems() {
  if (!ownedByGtkInThisProcess())
    return clipboard_->pasteboardItems();
  GtkClipboard* clipboard = gtk_clipboard_get(atomOf(options_.selection));
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
      types.emplace_back(options_.typeString
                             ? options_.typeString(
                                   target, atomName(gtk_selection_data_get_data_type(data)), format)
                             : target,
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

std::optional<std::string> OwnClipboardAwarePasteboard::stringForType(const std::string& type) {
  if (type != NSPasteboardTypeString || !ownedByGtkInThisProcess())
    return clipboard_->stringForType(type);
  GCharPtr text(gtk_clipboard_wait_for_text(gtk_clipboard_get(atomOf(options_.selection))));
  if (!text || !isValidUtf8(text.get()))
    return std::nullopt;
  return std::string(text.get());
}

std::int64_t OwnClipboardAwarePasteboard::clearContents() {
  return clipboard_->clearContents();
}

bool OwnClipboardAwarePasteboard::writeObjects(
    const std::vector<std::shared_ptr<PasteboardItem>>& items) {
  return clipboard_->writeObjects(items);
}

bool OwnClipboardAwarePasteboard::setStringForType(const std::string& string,
                                                   const std::string& type) {
  return clipboard_->setStringForType(string, type);
}

std::int64_t OwnClipboardAwarePasteboard::changeCount() {
  return clipboard_->changeCount();
}

std::shared_ptr<PasteboardItem> OwnClipboardAwarePasteboard::makeItem() {
  return clipboard_->makeItem();
}

}  // namespace lumivane::platform::gtk
