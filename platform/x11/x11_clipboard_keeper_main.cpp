// lumivane-clipboard-keeper: keeps the clipboard of a host that has exited.
#include <signal.h>

#include "platform/x11/x11_clipboard_keeper.h"

int main(int argc, char** argv) {
  // The host may be gone by the time the keeper reports to it.
  ::signal(SIGPIPE, SIG_IGN);
  return lumivane::platform::x11::runClipboardKeeper(argc, argv);
}
