#pragma once

#include <sys/types.h>

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace lumivane::platform::gtk {

// Control+C and Control+V copy and paste in most Linux applications, not in
// all: in a terminal Control+C interrupts the program running there, in Emacs
// it starts a command, in Vim it changes the mode. How an application copies
// and pastes is data, kept in a table (applications.conf beside this file,
// compiled in) that a user file may add to or override. The desktop backends
// ask it whenever the host posts its copy or paste chord to an application,
// and do what the application's entry says instead; an application no entry
// matches gets the chord as the host sent it.

// One key press of an action: a keysym (X11's, which GDK and xkb share) with
// the core modifiers held for it.
struct KeyStroke {
  std::uint32_t keysym = 0;
  std::uint16_t modifiers = 0;

  bool operator==(const KeyStroke&) const = default;
};

// What copying or pasting means in one application.
struct EditAction {
  enum class Kind {
    // Press `keys` in order.
    keys,
    // The application holds its selection in PRIMARY. Copying presses
    // nothing: the text is taken from PRIMARY while the application owns it.
    // Pasting offers the text as PRIMARY while `keys` (the application's own
    // paste-selection keys) are pressed, then gives PRIMARY back.
    primary,
    // The application has no way to do it from outside: nothing is pressed.
    none,
  };
  Kind kind = Kind::keys;
  std::vector<KeyStroke> keys;

  bool operator==(const EditAction&) const = default;
};

struct ApplicationProfile {
  // The entry's name (its group in the file), for messages.
  std::string name;
  EditAction copy;
  EditAction paste;
};

// What the desktop knows an application by.
struct ApplicationIdentity {
  // X11: WM_CLASS's class and instance parts; Wayland: the app id as the
  // class, no instance.
  std::string className;
  std::string instanceName;
  // The name of its process's executable, when known.
  std::string processName;
};

class ApplicationProfiles {
 public:
  // The built-in table; what is wrong with it goes to `problems` (nothing
  // should: the tests read it).
  static ApplicationProfiles builtIn(std::vector<std::string>* problems = nullptr);
  // Where the user's own entries live: $XDG_CONFIG_HOME/lumivane/applications.conf
  // ($HOME/.config when unset); absent when neither variable is usable.
  static std::optional<std::filesystem::path> userFile();
  // The built-in table with the user's file (when there is one) over it.
  // What is wrong with the user's file goes to `problems`, one line each,
  // naming the file and the entry; the rest of the file still counts.
  static ApplicationProfiles forUser(std::vector<std::string>* problems);

  // Reads entries in the file format from `text` and puts them ahead of
  // those already there, so they override them. `origin` names the text in
  // problems. False when the text is not a key file at all (nothing added).
  bool add(std::string_view text, const std::string& origin, std::vector<std::string>* problems);

  // The first entry that matches: on the class or instance name, else on the
  // process name. Absent when none does.
  std::optional<ApplicationProfile> profileFor(const ApplicationIdentity& application) const;

 private:
  struct Entry {
    ApplicationProfile profile;
    // Lower-case patterns; '*' matches any run of characters.
    std::vector<std::string> names;
    std::vector<std::string> processes;
  };
  std::vector<Entry> entries_;
};

// The name of process `pid`'s executable, as profiles match it; empty when
// the process is not known.
std::string processNameOf(pid_t pid);

// The keys of `text`, separated by spaces: chords, each modifiers and a key
// name joined by '+' ("Control+Shift+c", "Shift+Insert", "g"), and texts in
// double quotes, typed a character at a time ("(insert 1)" is ten keys; a
// double quote itself is the key quotedbl). Modifiers: Control (Ctrl), Shift,
// Alt (Mod1), Super (Mod4). Key names are keysym names ("c", "Insert",
// "quotedbl"). A keysym the keyboard produces only with Shift ("P", "colon")
// is typed with Shift. Absent, with `problem` set, when a part names nothing
// or a quote is left open.
std::optional<std::vector<KeyStroke>> parseKeys(std::string_view text, std::string* problem);

}  // namespace lumivane::platform::gtk
