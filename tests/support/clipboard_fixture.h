#pragma once

#include <vector>

#include "tests/support/host_fixture.h"

namespace lumivane::test_support {

// A host whose user has something worth keeping on the clipboard: rich text
// with its plain form, and an image as a second item.
class ClipboardHostTest : public HostTest {
 protected:
  void SetUp() override {
    HostTest::SetUp();
    desktop.generalPasteboard().setContents(userClipboard);
  }

  // Presses the default hot key and lets its press be handled; returns when.
  double pressHotKey() {
    const double pressed = desktop.now();
    desktop.hotKeys().pressKey(17, 0x300);
    desktop.runUntilIdle();
    return pressed;
  }

  // When the host last changed the pasteboard; -1 when it never did.
  double lastHostPasteboardChange() {
    double last = -1;
    for (const auto& op : desktop.generalPasteboard().operations()) {
      if (op.by == "host")
        last = op.time;
    }
    return last;
  }

  bool clipboardIsTheUsers() { return desktop.generalPasteboard().contents() == userClipboard; }

  // When the key-down of each chord with `key` went out.
  std::vector<double> chordTimes(platform::CGKeyCode key) {
    std::vector<double> times;
    for (const auto& e : desktop.keyboardEvents().posted()) {
      if (e.keyCode == key && e.keyDown)
        times.push_back(e.time);
    }
    return times;
  }

  const std::vector<platform::sim::SimPasteboardItemContents> userClipboard{
      {platform::sim::SimPasteboardEntry::text("{\\rtf1 user}", platform::NSPasteboardTypeRTF),
       platform::sim::SimPasteboardEntry::text("user's clipboard")},
      {{platform::NSPasteboardTypePNG, platform::sim::samplePngBytes()}}};
};

}  // namespace lumivane::test_support
