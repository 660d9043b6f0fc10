#include "platform/gtk/own_clipboard.h"

#include <gtest/gtest.h>
#include <gtk/gtk.h>

#include <string>

#include "capture/pasteboard_snapshot.h"
#include "platform/x11/x11_pasteboard.h"
#include "tests/platform/x11/gtk_session.h"

namespace lumivane::platform::x11 {
namespace {

// The user copied inside the panel: a GTK widget of the host's own process
// owns the clipboard. Saving it on the main thread, as a paste does, must
// neither wait for the main loop it holds nor lose what the user copied.
TEST(X11OwnClipboardTest, TheMainThreadSavesAndRestoresWhatGtkInThisProcessOwns) {
  auto& session = *test_support::gtkTestSession();
  std::string error;
  X11Pasteboard::Options options;
  options.displayName = session.display();
  auto clipboard = X11Pasteboard::open(options, &error);
  ASSERT_TRUE(clipboard) << error;
  gtk::OwnClipboardAwarePasteboard pasteboard(
      std::move(clipboard), {.isMainThread = [] { return true; }, .typeString = typeString});

  gtk_clipboard_set_text(gtk_clipboard_get(GDK_SELECTION_CLIPBOARD), "copied in the panel", -1);
  ASSERT_TRUE(test_support::waitUntil([&] {
    while (g_main_context_iteration(nullptr, FALSE)) {
    }
    return session.clipboardOwner() != 0;
  }));

  EXPECT_EQ(pasteboard.stringForType(NSPasteboardTypeString), "copied in the panel");
  PasteboardSnapshot saved = saveClipboard(pasteboard);
  ASSERT_TRUE(saved);
  ASSERT_EQ(saved->size(), 1u);
  EXPECT_TRUE((*saved)[0].count("UTF8_STRING"));

  // The host's own write takes the clipboard from GTK; putting the snapshot
  // back serves the user's copy to everyone again.
  pasteboard.clearContents();
  pasteboard.setStringForType("the host's text", NSPasteboardTypeString);
  restoreClipboard(pasteboard, std::move(saved));
  EXPECT_EQ(session.readClipboard("UTF8_STRING"), "copied in the panel");
}

}  // namespace
}  // namespace lumivane::platform::x11
