#include "tests/apps/applications.h"

#include <filesystem>
#include <fstream>
#include <sstream>

#include "tests/support/wait_until.h"

namespace lumivane::apps {
namespace {

using test_support::waitUntil;

// The program a terminal runs: it prints the line over the whole screen (a
// click anywhere lands on it), asks for bracketed paste as editors and shells
// do, and appends every byte typed to it to its file ($0), keeping the
// terminal's signals on: a SIGINT is written beside the file.
constexpr const char* kTerminalProgram =
    "stty -icanon -echo; printf '\\033[?2004h';"
    " for i in $(seq 60); do echo alpha beta gamma; done;"
    " trap 'echo >> \"$0.sigint\"' INT; while :; do cat >> \"$0\"; done";

// The page a browser edits. F2 and F4 start over in the contenteditable
// <div> and the <textarea>, with the caret at the end; its title shows the
// element ("d" or "t") and what it holds, so the window's name tells.
constexpr const char* kPage = R"(<!doctype html><meta charset=utf-8><title>[]</title>
<textarea id=t></textarea><div id=d contenteditable></div>
<script>
let at = t;
const show = () => document.title =
    '[' + at.id + ':' + (at.value ?? at.textContent).replace(/\u00a0/g, ' ') + ']';
function reset(e) {
  at = e; e.focus();
  if (e == t) { t.value = 'alpha beta gamma'; t.setSelectionRange(16, 16); }
  else { d.textContent = 'alpha beta gamma'; getSelection().collapse(d.firstChild, 16); }
  show();
}
onkeydown = k => { if (k.key == 'F2') reset(d); if (k.key == 'F4') reset(t); };
oninput = show;
</script>)";

// Firefox's first start would open pages of its own.
constexpr const char* kFirefoxSettings =
    "user_pref(\"browser.shell.checkDefaultBrowser\", false);\n"
    "user_pref(\"browser.startup.homepage_override.mstone\", \"ignore\");\n"
    "user_pref(\"browser.aboutwelcome.enabled\", false);\n"
    "user_pref(\"datareporting.policy.dataSubmissionEnabled\", false);\n"
    "user_pref(\"toolkit.telemetry.reportingpolicy.firstRun\", false);\n";

// LibreOffice's first start would greet the user with a dialog.
constexpr const char* kOfficeSettings = R"(<?xml version="1.0" encoding="UTF-8"?>
<oor:items xmlns:oor="http://openoffice.org/2001/registry">
<item oor:path="/org.openoffice.Office.Common/Misc"><prop oor:name="ShowTipOfTheDay" oor:op="fuse"><value>false</value></prop></item>
<item oor:path="/org.openoffice.Office.Common/Misc"><prop oor:name="FirstRun" oor:op="fuse"><value>false</value></prop></item>
</oor:items>)";

std::string readFile(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

std::string withoutFinalLineBreaks(std::string text) {
  while (!text.empty() && (text.back() == '\n' || text.back() == '\r'))
    text.pop_back();
  return text;
}

EditorKind kindOf(Desktop& desktop, App app) {
  const std::string folder = (desktop.session().directory() / "profile").string();
  const auto terminal = [](std::vector<std::string> argv, std::string windowClass) {
    for (const char* part : {"sh", "-c", kTerminalProgram})
      argv.push_back(part);
    return EditorKind{argv[0], std::move(argv), std::move(windowClass), {}};
  };
  switch (app) {
    case App::xterm:
      return terminal({"xterm", "-e"}, "XTerm");
    case App::xfce4Terminal:
      return terminal({"xfce4-terminal", "--disable-server", "--hide-menubar", "--hide-toolbar",
                       "--hide-scrollbar", "-x"},
                      "Xfce4-terminal");
    case App::emacs:
      return {"emacs", {"emacs", "-Q", "--eval", "(server-start)"}, "Emacs", {}};
    case App::chromiumTextarea:
    case App::chromiumEditable:
      return {"chromium",
              {"chromium", "--no-sandbox", "--no-first-run", "--disable-gpu",
               "--disable-background-networking", "--disable-sync", "--disable-default-apps",
               "--disable-component-update", "--password-store=basic", "--user-data-dir=" + folder},
              "Chromium",
              {},
              ".html",
              /*windowOfAnotherProcess=*/true};
    case App::firefoxTextarea:
    case App::firefoxEditable:
      std::filesystem::create_directories(folder);
      std::ofstream(folder + "/user.js") << kFirefoxSettings;
      return {"firefox",
              {"firefox-esr", "--no-remote", "--profile", folder},
              "firefox-esr",
              {},
              ".html",
              /*windowOfAnotherProcess=*/true};
    case App::writer:
      std::filesystem::create_directories(folder + "/user");
      std::ofstream(folder + "/user/registrymodifications.xcu") << kOfficeSettings;
      return {"writer",
              {"soffice", "-env:UserInstallation=file://" + folder, "--writer", "--norestore",
               "--nologo", "--nodefault"},
              "libreoffice-writer",
              {},
              ".txt",
              /*windowOfAnotherProcess=*/true};
    case App::gnomeTextEditor:
      return {"gnome-text-editor",
              {"gnome-text-editor", "--standalone"},
              "gnome-text-editor",
              {{"GTK_A11Y", "none"}}};
    case App::kwrite:
      return {"kwrite", {"kwrite"}, "kwrite", {{"QT_QPA_PLATFORM", "xcb"}}};
    case App::gvim:
      return {"gvim",
              {"gvim", "-f", "-u", "NONE", "-U", "NONE", "-N", "--servername", "LUMIVANE"},
              "Gvim",
              {}};
    case App::l3afpad:
      break;
  }
  return e2e::l3afpad();
}

std::string fileOf(App app) {
  switch (app) {
    case App::xterm:
    case App::xfce4Terminal:
      return "";
    case App::chromiumTextarea:
    case App::chromiumEditable:
    case App::firefoxTextarea:
    case App::firefoxEditable:
      return kPage;
    case App::emacs: {
      // Enough lines to scroll by, had anything scrolled.
      std::string text = std::string(kLine) + "\n";
      for (int line = 0; line < 200; ++line)
        text += "more\n";
      return text;
    }
    default:
      return kLine;
  }
}

// Keys pressed in the application, in front.
bool keys(Desktop& desktop, Editor& editor, std::vector<std::string> names) {
  names.insert(names.begin(), {"key", "--clearmodifiers", "--delay", "30"});
  return editor.activate() && desktop.xdotool(std::move(names));
}

// The line the user selects in an editor: its last word.
bool selectLastWord(Desktop& desktop, Editor& editor) {
  return keys(desktop, editor, {"ctrl+Home", "End", "ctrl+shift+Left"});
}

// All of the editor's text, copied with its own keys: the clipboard is the
// application's afterwards.
std::optional<std::string> copyAll(Desktop& desktop, Editor& editor) {
  const xcb_window_t before = desktop.clipboardOwner();
  if (!keys(desktop, editor, {"ctrl+a", "ctrl+c"}) || !desktop.waitUntilClipboardOwnerIsNot(before))
    return std::nullopt;
  auto text = desktop.readClipboard("UTF8_STRING");
  return text ? std::optional(withoutFinalLineBreaks(*text)) : std::nullopt;
}

}  // namespace

Editor* start(Desktop& desktop, App app) {
  return desktop.startEditor(kindOf(desktop, app), fileOf(app));
}

Workflow workflow(Desktop& desktop, Editor& editor, App app) {
  Desktop* d = &desktop;
  Editor* e = &editor;
  const auto replaced = [](const std::string& pasted) { return "alpha beta " + pasted; };
  switch (app) {
    case App::xterm:
    case App::xfce4Terminal:
      // A triple click selects a line, with its line break. The terminal's
      // program gets the paste as typed, in brackets.
      return {[d, e] { return e->activate() && d->click(e->window(), 1, 3); },
              std::string(kLine) + "\n",
              [e]() -> std::optional<std::string> {
                const bool interrupted = std::filesystem::exists(e->file().string() + ".sigint");
                return readFile(e->file()) + (interrupted ? " and SIGINT" : "");
              },
              [](const std::string& pasted) { return "\033[200~" + pasted + "\033[201~"; }};
    case App::emacs:
      // The first line, and the first character shown: 1 unless it scrolled.
      return {[d, e] { return selectLastWord(*d, *e); }, "gamma",
              [d, e]() -> std::optional<std::string> {
                const std::string buffer = e->file().filename().string();
                auto out = d->output(
                    {"emacsclient", "--eval",
                     "(with-current-buffer \"" + buffer +
                         "\" (format \"%s|%d\" (save-excursion (goto-char 1) "
                         "(buffer-substring-no-properties "
                         "1 (line-end-position))) (window-start (get-buffer-window nil t))))"});
                // A Lisp string, quoted.
                if (!out || out->size() < 3)
                  return std::nullopt;
                return withoutFinalLineBreaks(*out).substr(1, out->find_last_of('"') - 1);
              },
              [](const std::string& pasted) { return "alpha beta " + pasted + "|1"; }};
    case App::chromiumTextarea:
    case App::chromiumEditable:
    case App::firefoxTextarea:
    case App::firefoxEditable: {
      const bool textarea = app == App::chromiumTextarea || app == App::firefoxTextarea;
      auto title = [d, e]() -> std::optional<std::string> {
        auto name = d->output({"xdotool", "getwindowname", std::to_string(e->window())});
        if (!name || name->find('[') == std::string::npos || name->find(']') == std::string::npos)
          return std::nullopt;
        return name->substr(name->find('[') + 1, name->find(']') - name->find('[') - 1);
      };
      const std::string id = textarea ? "t:" : "d:";
      return {[d, e, textarea, title, id] {
                return keys(*d, *e, {textarea ? "F4" : "F2"}) &&
                       waitUntil([&] { return title() == id + kLine; }, 5) &&
                       keys(*d, *e, {"ctrl+shift+Left"});
              },
              "gamma", title,
              [id](const std::string& pasted) { return id + "alpha beta " + pasted; }};
    }
    case App::gvim:
      // A Visual selection of the last word; the line and the mode, asked of
      // Vim itself: Normal mode again after the paste, as after its own.
      return {[d, e] {
                return keys(*d, *e, {"Escape", "g", "g", "dollar", "v", "b"});
              },
              "gamma",
              [d]() -> std::optional<std::string> {
                auto out = d->output({"gvim", "--servername", "LUMIVANE", "--remote-expr",
                                      "getline(1) . '|' . mode()"});
                return out ? std::optional(withoutFinalLineBreaks(*out)) : std::nullopt;
              },
              [](const std::string& pasted) { return "alpha beta " + pasted + "|n"; }};
    default:
      return {[d, e] { return selectLastWord(*d, *e); }, "gamma",
              [d, e] { return copyAll(*d, *e); }, replaced};
  }
}

}  // namespace lumivane::apps
