#include <gtest/gtest.h>

#include "capture/key_chords.h"
#include "tests/support/sim_desktop_fixture.h"

namespace lumivane {
namespace {

using platform::CGEventTapLocation;
using platform::kCGEventFlagMaskAlternate;
using platform::kCGEventFlagMaskCommand;
using platform::kCGEventFlagMaskShift;
using platform::kVK_ANSI_C;
using platform::kVK_ANSI_V;
using platform::sim::PostedKeyEvent;
using platform::sim::SimKeyboardEvents;

// Every chord is checked for leaks and handle misuse by the fixture's
// teardown: each path must give back its source and events exactly once.
class KeyChordsTest : public test_support::SimDesktopTest {
 protected:
  void SetUp() override { desktop.accessibility().setTrusted(true); }

  // Made from the hardware's state, as a key the user typed would be, unless
  // no source could be made at all.
  void expectChord(platform::CGKeyCode key,
                   std::optional<platform::pid_t> pid,
                   std::optional<CGEventTapLocation> tap,
                   std::optional<platform::CGEventSourceStateID> sourceState =
                       platform::CGEventSourceStateID::hidSystemState) {
    const auto posted = keys.posted();
    ASSERT_EQ(posted.size(), 2u);
    for (std::size_t i = 0; i < 2; ++i) {
      SCOPED_TRACE(i);
      EXPECT_EQ(posted[i].keyCode, key);
      EXPECT_EQ(posted[i].keyDown, i == 0);
      EXPECT_EQ(posted[i].flags, kCGEventFlagMaskCommand);
      EXPECT_EQ(posted[i].pid, pid);
      EXPECT_EQ(posted[i].tap, tap);
      EXPECT_EQ(posted[i].sourceState, sourceState);
    }
    EXPECT_EQ(desktop.liveObjects().events, 0u);
    EXPECT_EQ(desktop.liveObjects().eventSources, 0u);
  }

  SimKeyboardEvents& keys = desktop.keyboardEvents();
};

TEST_F(KeyChordsTest, CopyChordReachesTheGivenProcessEvenWhenItIsNotInFront) {
  auto notes = frontApp("Notes", 201, "from notes");
  frontApp("Mail", 202);
  EXPECT_TRUE(postCopyChord(keys, 201));
  expectChord(kVK_ANSI_C, 201, std::nullopt);
  EXPECT_EQ(keys.posted()[0].deliveredTo, 201);
  desktop.advance(0.05);
  EXPECT_EQ(desktop.generalPasteboard().plainText(), "from notes");
}

TEST_F(KeyChordsTest, PasteChordGoesInAtTheHardwareTapToTheFrontApplication) {
  auto mail = frontApp("Mail", 202);
  desktop.generalPasteboard().setString("to paste");
  EXPECT_TRUE(postPasteChord(keys));
  expectChord(kVK_ANSI_V, std::nullopt, CGEventTapLocation::hidEventTap);
  desktop.runUntilIdle();
  ASSERT_EQ(mail->insertions().size(), 1u);
  EXPECT_EQ(mail->insertions()[0].text, "to paste");
}

// Held Shift would make Command+C "Shift-Command-C", which is not Copy.
TEST_F(KeyChordsTest, HeldModifiersAreReplacedByCommandAlone) {
  auto notes = frontApp("Notes", 201, "from notes");
  keys.setHeldModifiers(kCGEventFlagMaskShift | kCGEventFlagMaskAlternate);
  EXPECT_TRUE(postCopyChord(keys, 201));
  EXPECT_TRUE(postPasteChord(keys));
  for (const PostedKeyEvent& event : keys.posted())
    EXPECT_EQ(event.flags, 0x100000u);
  desktop.advance(0.05);
  EXPECT_EQ(notes->copyTimes().size(), 1u);
  EXPECT_EQ(notes->insertions().size(), 1u);
}

TEST_F(KeyChordsTest, WithoutAnEventSourceTheChordStillGoesOut) {
  keys.setRefusesSourceCreation(true);
  EXPECT_TRUE(postCopyChord(keys, 201));
  expectChord(kVK_ANSI_C, 201, std::nullopt, std::nullopt);
}

// Both events exist before either is posted, so a target never sees a key
// down without its key up.
TEST_F(KeyChordsTest, AnEventThatCannotBeMadeMeansNothingIsPosted) {
  keys.setRefusesKeyUpCreation(true);
  EXPECT_FALSE(postCopyChord(keys, 201));
  EXPECT_FALSE(postPasteChord(keys));
  keys.setRefusesKeyUpCreation(false);
  keys.setRefusesKeyDownCreation(true);
  EXPECT_FALSE(postCopyChord(keys, 201));
  EXPECT_FALSE(postPasteChord(keys));
  EXPECT_TRUE(keys.posted().empty());
  EXPECT_EQ(desktop.liveObjects().events, 0u);
  EXPECT_EQ(desktop.liveObjects().eventSources, 0u);
}

}  // namespace
}  // namespace lumivane
