#include "platform/wayland/wayland_clipboard_keeper.h"

#include <unistd.h>

#include <condition_variable>
#include <cstdint>
#include <mutex>

#include "platform/gtk/clipboard_keeper.h"
#include "platform/wayland/protocols/wlr-data-control-unstable-v1-client-protocol.h"
#include "platform/wayland/wayland_connection.h"
#include "platform/wayland/wayland_selection_source.h"

namespace lumivane::platform::wayland {

int keepClipboard(const std::string& displayName, std::vector<gtk::NamedTarget> targets) {
  OfferedTypes types;
  for (auto& target : targets)
    types.push_back({std::move(target.target), std::move(target.data)});
  targets.clear();

  // Before the connection: transfers that last until it goes still tell.
  std::mutex mutex;
  std::condition_variable changed;
  std::uint64_t changes = 0;
  const auto tell = [&] {
    {
      std::lock_guard lock(mutex);
      ++changes;
    }
    changed.notify_all();
  };
  SelectionSource::Events events{.asked = nullptr, .cancelled = tell, .transferEnded = tell};
  std::string error;
  auto connection = WaylandConnection::open(displayName, &error);
  if (!connection)
    return 3;
  std::unique_ptr<SelectionSource> source;
  zwlr_data_control_device_v1* device = nullptr;
  const auto owned = connection->call<bool>([&] {
    const auto& globals = connection->globals();
    if (!globals.dataControl || !globals.seat)
      return false;
    source = SelectionSource::make(*connection, std::move(types), {}, events);
    if (!source)
      return false;
    // The device's events are of no interest: the source's cancellation says
    // when another client has the clipboard.
    device = zwlr_data_control_manager_v1_get_data_device(globals.dataControl, globals.seat);
    zwlr_data_control_device_v1_set_selection(device, source->get());
    return connection->roundTrip() && !source->cancelled();
  });
  if (owned.value_or(false)) {
    gtk::reportKeeperOwns(STDOUT_FILENO);
    for (;;) {
      std::uint64_t seen = 0;
      {
        std::lock_guard lock(mutex);
        seen = changes;
      }
      const bool done =
          !connection->alive() ||
          connection->call<bool>([&] { return source->cancelled() && source->transferring() == 0; })
              .value_or(true);
      if (done)
        break;
      // A compositor that goes says nothing here: look again now and then.
      std::unique_lock lock(mutex);
      changed.wait_for(lock, std::chrono::seconds(1), [&] { return changes != seen; });
    }
  }
  connection->call<bool>([&] {
    source.reset();
    if (device)
      zwlr_data_control_device_v1_destroy(device);
    return true;
  });
  return owned.value_or(false) ? 0 : 3;
}

}  // namespace lumivane::platform::wayland
