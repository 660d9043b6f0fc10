#pragma once

#include <gtk/gtk.h>

#include <memory>
#include <optional>
#include <string>

#include "platform/desktop.h"
#include "platform/flutter/binary_messenger.h"
#include "platform/flutter/flutter_app_delegate.h"
#include "platform/flutter/flutter_engine.h"
#include "platform/view.h"

namespace lumivane::interface {

// Lumivane's interface written in GTK 3, in the host's panel on the Linux
// desktops, for as long as the Flutter interface cannot run there. Like that
// interface it talks to the host only through the channels
// "com.lumivane.app/selection" and "com.lumivane.app/system", in the standard
// method codec, over the interface's side of the engine's messenger.
//
// It shows the selection the host hands it ("updateSelection") in a text area
// with spell checking, and sends the edited text back to be pasted
// ("pasteText", from Insert or Control+Enter); Escape closes the panel as its
// close button does. Its header, which moves the panel when dragged, tells
// whether the host may copy and paste in other applications, asked each time
// the panel is shown; a settings section switches launch at login and records
// the global shortcut (or, where the desktop binds none for the host, names
// the command the user binds). Every failed call is told in words in its
// status line. Each call is answered through a callback, so nothing here
// waits for the host. Main thread only.
class GtkInterface final : public platform::RunningInterface {
 public:
  // The interface for the host on the other side of `interfaceMessenger`; it
  // shows once embedded in a panel's view. `commandToBind`: where the
  // desktop lets the host bind no shortcut, the command the settings tell
  // the user to bind to a key in the desktop's own settings.
  explicit GtkInterface(std::shared_ptr<platform::BinaryMessenger> interfaceMessenger,
                        std::optional<std::string> commandToBind = std::nullopt);
  // Stops answering the host and hides the widgets; answers to calls still
  // on their way find nothing.
  ~GtkInterface() override;
  GtkInterface(const GtkInterface&) = delete;
  GtkInterface& operator=(const GtkInterface&) = delete;

  // The interface's outermost widget, in the view.
  GtkWidget* widget() const;

 private:
  struct State;
  std::shared_ptr<State> state_;
};

// Runs a GtkInterface in each engine whose controller draws into a view of a
// GTK desktop; nothing in any other. `desktop` outlives the runner.
platform::InterfaceRunner gtkInterfaceRunner(platform::Desktop& desktop);

}  // namespace lumivane::interface
