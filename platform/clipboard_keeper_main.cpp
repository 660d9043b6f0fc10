// lumivane-clipboard-keeper: keeps the clipboard of a host that has exited,
// on the display system the host ran on (platform/gtk/clipboard_keeper.h).
#include <signal.h>
#include <unistd.h>

#include "platform/gtk/clipboard_keeper.h"
#if LUMIVANE_HAVE_X11
#include "platform/x11/x11_clipboard_keeper.h"
#endif
#if LUMIVANE_HAVE_WAYLAND
#include "platform/wayland/wayland_clipboard_keeper.h"
#endif

int main(int argc, char** argv) {
  // The host may be gone by the time the keeper reports to it.
  ::signal(SIGPIPE, SIG_IGN);
  auto request = lumivane::platform::gtk::readKeeperRequest(argc, argv, STDIN_FILENO);
  if (!request)
    return 2;
  ::close(STDIN_FILENO);
#if LUMIVANE_HAVE_WAYLAND
  if (request->wayland)
    return lumivane::platform::wayland::keepClipboard(request->displayName,
                                                      std::move(request->targets));
#endif
#if LUMIVANE_HAVE_X11
  if (!request->wayland)
    return lumivane::platform::x11::keepClipboard(request->displayName,
                                                  std::move(request->targets));
#endif
  return 2;
}
