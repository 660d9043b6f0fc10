#include "tests/support/main_loop.h"

#include <glib.h>

#include <chrono>

#include "platform/gtk/glib_handles.h"

namespace lumivane::test_support {

void pump() {
  while (g_main_context_iteration(nullptr, FALSE)) {
  }
}

bool pumpUntil(const std::function<bool()>& condition, double seconds) {
  const auto deadline = std::chrono::steady_clock::now() +
                        std::chrono::duration_cast<std::chrono::steady_clock::duration>(
                            std::chrono::duration<double>(seconds));
  // Wakes the loop now and then, so the deadline and conditions set
  // elsewhere are noticed even when nothing else happens.
  platform::gtk::GSourcePtr tick(g_timeout_source_new(5));
  g_source_set_callback(
      tick.get(), [](gpointer) -> gboolean { return G_SOURCE_CONTINUE; }, nullptr, nullptr);
  g_source_attach(tick.get(), nullptr);
  while (!condition()) {
    if (std::chrono::steady_clock::now() >= deadline) {
      return false;
    }
    g_main_context_iteration(nullptr, TRUE);
  }
  return true;
}

bool pumpUntilSettled(double seconds) {
  bool reached = false;
  auto marker = platform::gtk::addMainTimeout(
      0,
      [&] {
        reached = true;
        return false;
      },
      G_PRIORITY_LOW);
  return pumpUntil([&] { return reached; }, seconds);
}

}  // namespace lumivane::test_support
