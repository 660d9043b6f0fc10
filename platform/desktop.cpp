#include "platform/desktop.h"

#include <atomic>

namespace lumivane::platform {
namespace {
std::atomic<Desktop*> gSharedDesktop{nullptr};
}  // namespace

Desktop* sharedDesktop() {
  return gSharedDesktop.load(std::memory_order_acquire);
}

SharedDesktopScope::SharedDesktopScope(Desktop& desktop)
    : previous_(gSharedDesktop.exchange(&desktop, std::memory_order_acq_rel)) {}

SharedDesktopScope::~SharedDesktopScope() {
  gSharedDesktop.store(previous_, std::memory_order_release);
}

}  // namespace lumivane::platform
