#include "platform/wayland/wayland_selection_source.h"

#include <algorithm>

#include "platform/wayland/protocols/wlr-data-control-unstable-v1-client-protocol.h"
#include "platform/wayland/wayland_connection.h"
#include "platform/wayland/wayland_transfer.h"

namespace lumivane::platform::wayland {

std::unique_ptr<SelectionSource> SelectionSource::make(WaylandConnection& connection,
                                                       OfferedTypes types,
                                                       Bounds bounds,
                                                       Events events) {
  auto* manager = connection.globals().dataControl;
  if (!manager)
    return nullptr;
  auto* source = zwlr_data_control_manager_v1_create_data_source(manager);
  if (!source)
    return nullptr;
  for (const auto& type : types)
    zwlr_data_control_source_v1_offer(source, type.mimeType.c_str());
  return std::make_unique<SelectionSource>(connection, source, std::move(types), bounds,
                                           std::move(events));
}

SelectionSource::SelectionSource(WaylandConnection& connection,
                                 zwlr_data_control_source_v1* source,
                                 OfferedTypes types,
                                 Bounds bounds,
                                 Events events)
    : connection_(connection),
      source_(source),
      types_(std::move(types)),
      bounds_(bounds),
      events_(std::move(events)) {
  static const zwlr_data_control_source_v1_listener listener = {
      .send = &SelectionSource::onSend,
      .cancelled = &SelectionSource::onCancelled,
  };
  zwlr_data_control_source_v1_add_listener(source_, &listener, this);
}

SelectionSource::~SelectionSource() {
  zwlr_data_control_source_v1_destroy(source_);
}

void SelectionSource::onSend(void* data,
                             zwlr_data_control_source_v1*,
                             const char* mime,
                             int32_t fd) {
  auto& self = *static_cast<SelectionSource*>(data);
  gtk::UniqueFd pipe(fd);
  if (self.events_.asked)
    self.events_.asked();
  auto it = std::find_if(self.types_.begin(), self.types_.end(),
                         [&](const OfferedType& type) { return type.mimeType == mime; });
  // A type never offered, or too many readers at once: the reader's pipe
  // closes with nothing in it.
  if (it == self.types_.end() || *self.transfers_ >= self.bounds_.maxTransfers)
    return;
  ++*self.transfers_;
  serveTransfer(self.connection_, std::move(pipe), it->data, self.bounds_.readerIdle,
                [transfers = self.transfers_, ended = self.events_.transferEnded] {
                  --*transfers;
                  if (ended)
                    ended();
                });
}

void SelectionSource::onCancelled(void* data, zwlr_data_control_source_v1*) {
  auto& self = *static_cast<SelectionSource*>(data);
  self.cancelled_ = true;
  if (self.events_.cancelled)
    self.events_.cancelled();
}

}  // namespace lumivane::platform::wayland
