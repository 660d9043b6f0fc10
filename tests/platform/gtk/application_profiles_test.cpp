#include "platform/gtk/application_profiles.h"

#include <gdk/gdkkeysyms.h>
#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>

#include "platform/gtk/key_symbols.h"

namespace lumivane::platform::gtk {
namespace {

const KeyStroke kControlC{GDK_KEY_c, kControlMask};
const KeyStroke kControlV{GDK_KEY_v, kControlMask};

// A slip in the table (a misspelt key, a missing paste=) would drop the entry
// and send Control+C to that application after all.
TEST(ApplicationProfilesTest, TheBuiltInTableReadsWhole) {
  std::vector<std::string> problems;
  ApplicationProfiles::builtIn(&problems);
  EXPECT_EQ(problems, std::vector<std::string>{});
}

// Whatever the terminal, listed or not, it never gets Control+C or
// Control+V: either its own keys or the PRIMARY selection.
TEST(ApplicationProfilesTest, NoTerminalGetsTheInterruptingChord) {
  const auto profiles = ApplicationProfiles::builtIn();
  const ApplicationIdentity terminals[] = {
      {"XTerm", "xterm", "xterm"},
      {"Xfce4-terminal", "xfce4-terminal", "xfce4-terminal"},
      {"URxvt", "urxvt", "urxvt"},
      {"st-256color", "st-256color", "st"},
      {"foot", "", "foot"},                            // Wayland: the app id alone.
      {"Mystery-Term", "mysteryterm", "mysteryterm"},  // No entry names it.
      {"Unnamed", "unnamed", "alacritty"},             // Known by its program.
  };
  for (const auto& terminal : terminals) {
    const auto profile = profiles.profileFor(terminal);
    ASSERT_TRUE(profile) << terminal.className;
    for (const EditAction* action : {&profile->copy, &profile->paste}) {
      for (const KeyStroke& key : action->keys) {
        EXPECT_NE(key, kControlC) << terminal.className;
        EXPECT_NE(key, kControlV) << terminal.className;
      }
    }
  }
  const auto xterm = profiles.profileFor(terminals[0]);
  EXPECT_EQ(xterm->copy.kind, EditAction::Kind::primary);
  EXPECT_EQ(xterm->paste.keys, (std::vector<KeyStroke>{{GDK_KEY_Insert, kShiftMask}}));
  // An ordinary editor keeps the host's own chords.
  EXPECT_FALSE(profiles.profileFor({"Gedit", "gedit", "gedit"}));
}

// A quoted text is typed a character at a time, spaces and all; which of
// them take Shift is the keyboard's business.
TEST(ApplicationProfilesTest, QuotedTextIsTypedCharacterByCharacter) {
  std::string problem;
  EXPECT_EQ(parseKeys("Alt+colon \"(a 'B)\" Return", &problem),
            (std::vector<KeyStroke>{{GDK_KEY_colon, kMod1Mask},
                                    {GDK_KEY_parenleft, 0},
                                    {GDK_KEY_a, 0},
                                    {GDK_KEY_space, 0},
                                    {GDK_KEY_apostrophe, 0},
                                    {GDK_KEY_B, 0},
                                    {GDK_KEY_parenright, 0},
                                    {GDK_KEY_Return, 0}}));
  EXPECT_FALSE(parseKeys("Return \"(left open", &problem));
  EXPECT_NE(problem.find("closing"), std::string::npos) << problem;
}

class UserProfilesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    folder_ = std::filesystem::temp_directory_path() /
              ("lumivane-profiles-" + std::to_string(::getpid()));
    std::filesystem::create_directories(folder_ / "lumivane");
    ::setenv("XDG_CONFIG_HOME", folder_.c_str(), 1);
  }
  void TearDown() override {
    ::unsetenv("XDG_CONFIG_HOME");
    std::filesystem::remove_all(folder_);
  }
  void write(const std::string& text) {
    std::ofstream(folder_ / "lumivane" / "applications.conf") << text;
  }
  std::filesystem::path folder_;
};

// The user's entries come first; a bad one is named on its own line and left
// out, the rest of the file still counts.
TEST_F(UserProfilesTest, UserEntriesOverrideAndBadOnesAreToldAndLeftOut) {
  write(
      "[My xterm]\nmatch=XTerm\ncopy=Control+Shift+c\npaste=Control+Shift+v\n"
      "[Typo]\nmatch=Editor\ncopy=Control+Shfit+c\npaste=none\n"
      "[No name]\ncopy=none\npaste=none\n"
      "[Vim keys]\nmatch=gvim\ncopy=primary\npaste=Control+backslash Control+n g v quotedbl plus "
      "P\n");
  std::vector<std::string> problems;
  const auto profiles = ApplicationProfiles::forUser(&problems);
  ASSERT_EQ(problems.size(), 2u);
  EXPECT_NE(problems[0].find("[Typo]"), std::string::npos) << problems[0];
  EXPECT_NE(problems[0].find("Shfit"), std::string::npos) << problems[0];
  EXPECT_NE(problems[1].find("[No name]"), std::string::npos) << problems[1];
  EXPECT_EQ(profiles.profileFor({"XTerm", "xterm", ""})->copy.keys,
            (std::vector<KeyStroke>{{GDK_KEY_c, kControlMask | kShiftMask}}));
  EXPECT_FALSE(profiles.profileFor({"Editor", "editor", ""}));
  EXPECT_EQ(profiles.profileFor({"Gvim", "gvim", ""})->paste.keys.size(), 7u);
  // The built-in entries are still there beneath.
  EXPECT_TRUE(profiles.profileFor({"URxvt", "urxvt", ""}));
}

TEST_F(UserProfilesTest, AFileThatIsNoKeyFileIsToldAndIgnored) {
  write("this is not a key file\n[");
  std::vector<std::string> problems;
  const auto profiles = ApplicationProfiles::forUser(&problems);
  ASSERT_EQ(problems.size(), 1u);
  EXPECT_NE(problems[0].find("applications.conf"), std::string::npos) << problems[0];
  EXPECT_TRUE(profiles.profileFor({"XTerm", "xterm", ""}));
}

}  // namespace
}  // namespace lumivane::platform::gtk
