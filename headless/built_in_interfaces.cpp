#include <unistd.h>

#include "headless/console_interface.h"
#include "headless/interfaces.h"

#if LUMIVANE_HAVE_GTK_INTERFACE
#include "interface/gtk_interface.h"
#endif

namespace lumivane::headless {
namespace {

platform::InterfaceRunner consoleRunner(platform::Desktop& desktop, std::ostream& out) {
  return [&desktop, &out](platform::FlutterViewController& controller) {
    return std::make_unique<ConsoleInterface>(desktop, controller.engine().interfaceMessenger(),
                                              STDIN_FILENO, out);
  };
}

}  // namespace

std::vector<PanelInterface> builtInInterfaces() {
  return {
#if LUMIVANE_HAVE_GTK_INTERFACE
    PanelInterface{"gtk",
                   "Lumivane's own interface in the panel, in GTK 3: the selection to edit, "
                   "with spell checking, and insert; the permission; start at login and the "
                   "shortcut",
                   // Both Linux desktops are GTK's.
                   nullptr, /*byDefault=*/true,
                   [](platform::Desktop& desktop, std::ostream&) {
                     return interface::gtkInterfaceRunner(desktop);
                   }},
#endif
        PanelInterface{"console",
                       "the interface's side of the channels on standard input and output: "
                       "statements call, wait (real seconds), show pasteboard and quit in, one "
                       "JSON event a line out (launched, step, reply, updateSelection, call, "
                       "pasteboard, error)",
                       nullptr, /*byDefault=*/false, &consoleRunner},
  };
}

}  // namespace lumivane::headless
