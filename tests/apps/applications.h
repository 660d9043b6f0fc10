#pragma once

#include <functional>
#include <optional>
#include <string>

#include "tests/e2e/e2e_desktop.h"

// Real applications as users work in them, on the private desktops of the
// end-to-end tests: how each is started, how the user selects in it (with its
// own keys, or the mouse in a terminal), and how what it holds is read back
// through the application itself. Shared by the applications' tests and their
// benchmark.
namespace lumivane::apps {

using e2e::Desktop;
using e2e::Editor;
using e2e::EditorKind;

// The line every application starts with.
inline constexpr const char* kLine = "alpha beta gamma";

enum class App {
  xterm,
  xfce4Terminal,
  emacs,
  chromiumTextarea,
  chromiumEditable,
  firefoxTextarea,
  firefoxEditable,
  writer,
  gnomeTextEditor,
  kwrite,
  gvim,
  l3afpad,
};

// One way of working in an application.
struct Workflow {
  // Selects, as the user does, the text the selection then holds.
  std::function<bool()> select;
  std::string selected;
  // What the application holds now, read through it; absent when it cannot
  // be read.
  std::function<std::optional<std::string>()> text;
  // What `text` gives once `pasted` has replaced the selection.
  std::function<std::string(const std::string& pasted)> after;
};

// Starts `app` on `desktop` with the file it works on; null when its window
// did not come.
Editor* start(Desktop& desktop, App app);
// The workflow of `app`, running as `editor`.
Workflow workflow(Desktop& desktop, Editor& editor, App app);

}  // namespace lumivane::apps
