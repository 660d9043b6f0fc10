#include "platform/gtk/dbus_menu.h"

#include <gtk/gtk.h>

#include <utility>

#include "platform/utf8.h"

namespace lumivane::platform::gtk {
namespace {

constexpr const char* kInterface = "com.canonical.dbusmenu";

constexpr const char* kIntrospection = R"xml(<node>
  <interface name="com.canonical.dbusmenu">
    <property name="Version" type="u" access="read"/>
    <property name="TextDirection" type="s" access="read"/>
    <property name="Status" type="s" access="read"/>
    <property name="IconThemePath" type="as" access="read"/>
    <method name="GetLayout">
      <arg type="i" name="parentId" direction="in"/>
      <arg type="i" name="recursionDepth" direction="in"/>
      <arg type="as" name="propertyNames" direction="in"/>
      <arg type="u" name="revision" direction="out"/>
      <arg type="(ia{sv}av)" name="layout" direction="out"/>
    </method>
    <method name="GetGroupProperties">
      <arg type="ai" name="ids" direction="in"/>
      <arg type="as" name="propertyNames" direction="in"/>
      <arg type="a(ia{sv})" name="properties" direction="out"/>
    </method>
    <method name="GetProperty">
      <arg type="i" name="id" direction="in"/>
      <arg type="s" name="name" direction="in"/>
      <arg type="v" name="value" direction="out"/>
    </method>
    <method name="Event">
      <arg type="i" name="id" direction="in"/>
      <arg type="s" name="eventId" direction="in"/>
      <arg type="v" name="data" direction="in"/>
      <arg type="u" name="timestamp" direction="in"/>
    </method>
    <method name="EventGroup">
      <arg type="a(isvu)" name="events" direction="in"/>
      <arg type="ai" name="idErrors" direction="out"/>
    </method>
    <method name="AboutToShow">
      <arg type="i" name="id" direction="in"/>
      <arg type="b" name="needUpdate" direction="out"/>
    </method>
    <method name="AboutToShowGroup">
      <arg type="ai" name="ids" direction="in"/>
      <arg type="ai" name="updatesNeeded" direction="out"/>
      <arg type="ai" name="idErrors" direction="out"/>
    </method>
    <signal name="ItemsPropertiesUpdated">
      <arg type="a(ia{sv})" name="updatedProps"/>
      <arg type="a(ias)" name="removedProps"/>
    </signal>
    <signal name="LayoutUpdated">
      <arg type="u" name="revision"/>
      <arg type="i" name="parent"/>
    </signal>
    <signal name="ItemActivationRequested">
      <arg type="i" name="id"/>
      <arg type="u" name="timestamp"/>
    </signal>
  </interface>
</node>)xml";

// Labels mark their mnemonic with an underscore, so a literal one is doubled.
std::string menuLabel(const std::string& title) {
  std::string label;
  for (const char c : repairUtf8(title)) {
    label += c;
    if (c == '_') {
      label += '_';
    }
  }
  return label;
}

// A key equivalent as a shortcut: Control (the desktop's key for the host's
// Command), Shift for an upper-case equivalent as on the Mac, and the key's
// name. Empty when it names no key.
std::vector<std::string> shortcutKeys(const std::string& keyEquivalent) {
  if (keyEquivalent.empty() || !isValidUtf8(keyEquivalent)) {
    return {};
  }
  const gunichar c = g_utf8_get_char(keyEquivalent.c_str());
  const bool shifted = g_unichar_isupper(c);
  const gchar* name = gdk_keyval_name(gdk_unicode_to_keyval(shifted ? g_unichar_tolower(c) : c));
  if (!name) {
    return {};
  }
  std::vector<std::string> keys{"Control"};
  if (shifted) {
    keys.emplace_back("Shift");
  }
  keys.emplace_back(name);
  return keys;
}

std::vector<std::string> stringsOf(GVariant* array) {
  std::vector<std::string> strings;
  GVariantIter iter;
  g_variant_iter_init(&iter, array);
  const gchar* s = nullptr;
  while (g_variant_iter_next(&iter, "&s", &s)) {
    strings.emplace_back(s);
  }
  return strings;
}

std::vector<std::int32_t> idsOf(GVariant* array) {
  std::vector<std::int32_t> ids;
  GVariantIter iter;
  g_variant_iter_init(&iter, array);
  gint32 id = 0;
  while (g_variant_iter_next(&iter, "i", &id)) {
    ids.push_back(id);
  }
  return ids;
}

GVariant* idArray(const std::vector<std::int32_t>& ids) {
  GVariantBuilder builder;
  g_variant_builder_init(&builder, G_VARIANT_TYPE("ai"));
  for (const auto id : ids) {
    g_variant_builder_add(&builder, "i", id);
  }
  return g_variant_builder_end(&builder);
}

void returnNoSuchItem(GDBusMethodInvocation* invocation, std::int32_t id) {
  g_dbus_method_invocation_return_error(invocation, G_DBUS_ERROR, G_DBUS_ERROR_INVALID_ARGS,
                                        "The menu has no item %d", id);
}

}  // namespace

DBusMenu::DBusMenu(GDBusConnection* connection, std::string path, Delegate& delegate)
    : connection_(static_cast<GDBusConnection*>(g_object_ref(connection))),
      path_(std::move(path)),
      delegate_(delegate),
      info_(g_dbus_node_info_new_for_xml(kIntrospection, nullptr)) {
  if (info_) {
    registration_ =
        DBusHandle::registerObject(connection_.get(), path_.c_str(), info_->interfaces[0], *this);
  }
}

void DBusMenu::setEntries(const std::vector<StatusMenuEntry>& entries) {
  if (entries_ && *entries_ == entries) {
    return;
  }
  entries_ = entries;
  ++revision_;
  if (registration_) {
    g_dbus_connection_emit_signal(connection_.get(), nullptr, path_.c_str(), kInterface,
                                  "LayoutUpdated", g_variant_new("(ui)", revision_, 0), nullptr);
  }
}

bool DBusMenu::knows(std::int32_t id) const {
  const std::size_t count = entries_ ? entries_->size() : 0;
  return id >= 0 && static_cast<std::size_t>(id) <= count;
}

std::size_t DBusMenu::entriesForTray() {
  // A tray reads the layout as soon as the item appears, before any click:
  // the host is asked once, so that its menu is there from the start.
  if (!entries_ && !askedForEntries_) {
    askedForEntries_ = true;
    refresh();
  }
  return entries_ ? entries_->size() : 0;
}

bool DBusMenu::refresh() {
  if (refreshing_) {
    return false;
  }
  const std::uint32_t before = revision_;
  refreshing_ = true;
  delegate_.menuEntriesWanted();
  refreshing_ = false;
  return revision_ != before;
}

GVariant* DBusMenu::properties(std::int32_t id, const std::vector<std::string>& names) const {
  GVariantBuilder builder;
  g_variant_builder_init(&builder, G_VARIANT_TYPE("a{sv}"));
  auto wanted = [&](const char* name) {
    if (names.empty()) {
      return true;
    }
    for (const auto& n : names) {
      if (n == name) {
        return true;
      }
    }
    return false;
  };
  if (id == 0) {
    if (wanted("children-display")) {
      g_variant_builder_add(&builder, "{sv}", "children-display", g_variant_new_string("submenu"));
    }
    return g_variant_builder_end(&builder);
  }
  const StatusMenuEntry& entry = (*entries_)[static_cast<std::size_t>(id) - 1];
  if (wanted("label")) {
    g_variant_builder_add(&builder, "{sv}", "label",
                          g_variant_new_string(menuLabel(entry.title).c_str()));
  }
  if (wanted("enabled")) {
    g_variant_builder_add(&builder, "{sv}", "enabled", g_variant_new_boolean(TRUE));
  }
  if (wanted("visible")) {
    g_variant_builder_add(&builder, "{sv}", "visible", g_variant_new_boolean(TRUE));
  }
  const auto keys = shortcutKeys(entry.keyEquivalent);
  if (!keys.empty() && wanted("shortcut")) {
    GVariantBuilder combination;
    g_variant_builder_init(&combination, G_VARIANT_TYPE("as"));
    for (const auto& key : keys) {
      g_variant_builder_add(&combination, "s", key.c_str());
    }
    GVariantBuilder shortcut;
    g_variant_builder_init(&shortcut, G_VARIANT_TYPE("aas"));
    g_variant_builder_add_value(&shortcut, g_variant_builder_end(&combination));
    g_variant_builder_add(&builder, "{sv}", "shortcut", g_variant_builder_end(&shortcut));
  }
  return g_variant_builder_end(&builder);
}

GVariant* DBusMenu::layout(std::int32_t id,
                           std::int32_t depth,
                           const std::vector<std::string>& names) const {
  GVariantBuilder children;
  g_variant_builder_init(&children, G_VARIANT_TYPE("av"));
  // Only the root has children; a depth of 0 asks for the item alone.
  if (id == 0 && depth != 0 && entries_) {
    for (std::size_t i = 1; i <= entries_->size(); ++i) {
      g_variant_builder_add(&children, "v", layout(static_cast<std::int32_t>(i), 0, names));
    }
  }
  return g_variant_new("(i@a{sv}av)", id, properties(id, names), &children);
}

void DBusMenu::handleMethodCall(const std::string& method,
                                GVariant* parameters,
                                GDBusMethodInvocation* invocation) {
  // GDBus has checked the arguments against the introspection data.
  if (method == "GetLayout") {
    gint32 parent = 0;
    gint32 depth = 0;
    GVariant* rawNames = nullptr;
    g_variant_get(parameters, "(ii@as)", &parent, &depth, &rawNames);
    GVariantPtr names(rawNames);
    entriesForTray();
    if (!knows(parent)) {
      returnNoSuchItem(invocation, parent);
      return;
    }
    g_dbus_method_invocation_return_value(
        invocation,
        g_variant_new("(u@(ia{sv}av))", revision_, layout(parent, depth, stringsOf(names.get()))));
  } else if (method == "GetGroupProperties") {
    GVariant* rawIds = nullptr;
    GVariant* rawNames = nullptr;
    g_variant_get(parameters, "(@ai@as)", &rawIds, &rawNames);
    GVariantPtr idList(rawIds);
    GVariantPtr nameList(rawNames);
    const auto names = stringsOf(nameList.get());
    auto ids = idsOf(idList.get());
    const std::size_t count = entriesForTray();
    // No ids asks for every item.
    if (ids.empty()) {
      for (std::size_t i = 0; i <= count; ++i) {
        ids.push_back(static_cast<std::int32_t>(i));
      }
    }
    GVariantBuilder builder;
    g_variant_builder_init(&builder, G_VARIANT_TYPE("a(ia{sv})"));
    for (const auto id : ids) {
      if (knows(id)) {
        g_variant_builder_add(&builder, "(i@a{sv})", id, properties(id, names));
      }
    }
    g_dbus_method_invocation_return_value(
        invocation, g_variant_new("(@a(ia{sv}))", g_variant_builder_end(&builder)));
  } else if (method == "GetProperty") {
    gint32 id = 0;
    const gchar* name = nullptr;
    g_variant_get(parameters, "(i&s)", &id, &name);
    entriesForTray();
    if (!knows(id)) {
      returnNoSuchItem(invocation, id);
      return;
    }
    GVariantPtr all(g_variant_ref_sink(properties(id, {name})));
    GVariantPtr value(g_variant_lookup_value(all.get(), name, nullptr));
    if (!value) {
      g_dbus_method_invocation_return_error(invocation, G_DBUS_ERROR, G_DBUS_ERROR_INVALID_ARGS,
                                            "Item %d has no property %s", id, name);
      return;
    }
    g_dbus_method_invocation_return_value(invocation, g_variant_new("(v)", value.get()));
  } else if (method == "Event") {
    gint32 id = 0;
    const gchar* event = nullptr;
    g_variant_get(parameters, "(i&svu)", &id, &event, nullptr, nullptr);
    if (!knows(id)) {
      returnNoSuchItem(invocation, id);
      return;
    }
    // Copied before the tray is answered: `parameters` goes with the
    // invocation, and the host may publish other entries meanwhile.
    const bool clicked = std::string(event) == "clicked" && id > 0;
    std::optional<StatusMenuEntry> entry;
    if (clicked) {
      entry = (*entries_)[static_cast<std::size_t>(id) - 1];
    }
    g_dbus_method_invocation_return_value(invocation, nullptr);
    if (entry) {
      delegate_.menuEntryClicked(*entry);
    }
  } else if (method == "EventGroup") {
    GVariantIter* iter = nullptr;
    g_variant_get(parameters, "(a(isvu))", &iter);
    std::vector<std::int32_t> errors;
    std::vector<StatusMenuEntry> clicked;
    std::size_t events = 0;
    gint32 id = 0;
    const gchar* event = nullptr;
    while (g_variant_iter_next(iter, "(i&svu)", &id, &event, nullptr, nullptr)) {
      ++events;
      if (!knows(id)) {
        errors.push_back(id);
      } else if (std::string(event) == "clicked" && id > 0) {
        clicked.push_back((*entries_)[static_cast<std::size_t>(id) - 1]);
      }
    }
    g_variant_iter_free(iter);
    if (events > 0 && errors.size() == events) {
      g_dbus_method_invocation_return_error(invocation, G_DBUS_ERROR, G_DBUS_ERROR_INVALID_ARGS,
                                            "The menu has none of the items");
      return;
    }
    g_dbus_method_invocation_return_value(invocation, g_variant_new("(@ai)", idArray(errors)));
    for (const auto& entry : clicked) {
      delegate_.menuEntryClicked(entry);
    }
  } else if (method == "AboutToShow") {
    gint32 id = 0;
    g_variant_get(parameters, "(i)", &id);
    entriesForTray();
    if (!knows(id)) {
      returnNoSuchItem(invocation, id);
      return;
    }
    // Only the root opens: the entries have no submenus.
    const bool changed = id == 0 && refresh();
    g_dbus_method_invocation_return_value(invocation, g_variant_new("(b)", changed));
  } else if (method == "AboutToShowGroup") {
    GVariant* rawIds = nullptr;
    g_variant_get(parameters, "(@ai)", &rawIds);
    GVariantPtr idList(rawIds);
    const auto ids = idsOf(idList.get());
    entriesForTray();
    bool root = false;
    std::vector<std::int32_t> errors;
    for (const auto id : ids) {
      if (!knows(id)) {
        errors.push_back(id);
      }
      root = root || id == 0;
    }
    std::vector<std::int32_t> updates;
    if (root && refresh()) {
      updates.push_back(0);
    }
    g_dbus_method_invocation_return_value(
        invocation, g_variant_new("(@ai@ai)", idArray(updates), idArray(errors)));
  } else {
    g_dbus_method_invocation_return_error(invocation, G_DBUS_ERROR, G_DBUS_ERROR_UNKNOWN_METHOD,
                                          "No method %s", method.c_str());
  }
}

GVariant* DBusMenu::property(const std::string& name) const {
  if (name == "Version") {
    return g_variant_new_uint32(3);
  }
  if (name == "TextDirection") {
    return g_variant_new_string(gtk_widget_get_default_direction() == GTK_TEXT_DIR_RTL ? "rtl"
                                                                                       : "ltr");
  }
  if (name == "Status") {
    return g_variant_new_string("normal");
  }
  if (name == "IconThemePath") {
    return g_variant_new_strv(nullptr, 0);
  }
  return nullptr;
}

}  // namespace lumivane::platform::gtk
