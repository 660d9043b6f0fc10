#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "platform/wayland/wayland_selection_source.h"
#include "platform/wayland/wayland_transfer.h"

struct zwlr_data_control_device_v1;
struct zwlr_data_control_offer_v1;

namespace lumivane::platform::wayland::detail {

// Which of the seat's two selections a pasteboard stands for.
enum class Selection { clipboard, primary };

// What the selection held when an item was listed: another client's MIME
// types (read when asked for), or the host's own contents.
struct Listing {
  std::vector<std::string> types;
  std::optional<OfferedTypes> own;
  std::int64_t changeCount = 0;
};

// One selection as the connection's thread sees it: the data-control device,
// the offer that stands for the selection now, the host's own source and
// what it offers, and the change count. Offers of the other selection are
// dropped as they come. Its operations may be called from any thread but the
// connection's: each runs there and waits for it. Before answering, each
// waits for the compositor to have handled everything sent to it before and
// for every event it sent before to have arrived, so a change another client
// made before the call is seen.
class PasteboardCore {
 public:
  struct Bounds {
    ReadBounds reading;
    SelectionSource::Bounds serving;
  };

  // Null with `error` set when the compositor offers no data-control (or,
  // for the primary selection, an old one without it).
  static std::shared_ptr<PasteboardCore> open(std::shared_ptr<WaylandConnection> connection,
                                              Selection selection,
                                              Bounds bounds,
                                              std::string* error);
  PasteboardCore(std::shared_ptr<WaylandConnection> connection, Selection selection, Bounds bounds);
  ~PasteboardCore();
  PasteboardCore(const PasteboardCore&) = delete;
  PasteboardCore& operator=(const PasteboardCore&) = delete;

  // Lets go of the device, the offers and the host's source (the selection
  // empties when the host held it); later calls find nothing.
  void shutdown();

  // Absent when the connection has gone.
  std::optional<Listing> list();
  // `mimeType` of the selection the listing numbered `changeCount` saw;
  // failed once the selection has changed since.
  ReadResult read(const std::string& mimeType, std::int64_t changeCount);
  // The text of the selection numbered `changeCount` (the current one when
  // absent), from the first text type that holds valid text.
  std::optional<std::string> readText(std::optional<std::int64_t> changeCount);
  std::int64_t clear();
  // Empties the selection when the host holds it, after serving every
  // request that came before; a selection another client holds stays.
  void letGo();
  // Appends `items` to the host's own contents, or starts them when another
  // client held the selection and the host cleared it since. False when
  // another client holds it, or takes it at once.
  bool write(std::vector<OfferedTypes> items);
  // Puts `types` in the first item in place of those named `replaced`.
  bool setString(OfferedTypes types, std::vector<std::string> replaced);
  std::int64_t changeCount();
  // When the selection last changed hands, as this connection heard it.
  std::chrono::steady_clock::time_point changedAt() const {
    return std::chrono::steady_clock::time_point(
        std::chrono::steady_clock::duration(changedAt_.load()));
  }

  // The host's own contents while it holds the selection; absent otherwise
  // or when they offer nothing.
  std::optional<OfferedTypes> heldContents();
  bool holdsSelection();

  // Grows by one each time another client asks for the host's contents.
  std::uint64_t readsServed() const { return readsServed_.load(); }
  // Waits until readsServed() has passed `count`, at most `bound`.
  bool waitForReadsServed(std::uint64_t count, std::chrono::milliseconds bound);
  // Waits until the selection has changed hands since the change count was
  // `count`, at most `bound`; false when it has not.
  bool waitForChangeFrom(std::int64_t count, std::chrono::milliseconds bound);

 private:
  enum class Holder { nobody, host, another };
  struct ReadStart {
    std::optional<Bytes> own;
    gtk::UniqueFd pipe;
  };

  // The connection's thread, from here on.
  bool openDevice(std::string* error);
  void catchUp();
  Holder holder() const;
  bool claim(std::vector<OfferedTypes> items);
  void dropOffer(zwlr_data_control_offer_v1* offer);
  void becomes(zwlr_data_control_offer_v1* offer);
  std::optional<ReadStart> startRead(const std::string& mimeType, std::int64_t changeCount);
  // Makes the change count seen by other threads, and wakes their waits.
  void publish();

  static void onOffer(void* data, zwlr_data_control_device_v1*, zwlr_data_control_offer_v1* offer);
  static void onSelection(void* data,
                          zwlr_data_control_device_v1*,
                          zwlr_data_control_offer_v1* offer);
  static void onPrimary(void* data,
                        zwlr_data_control_device_v1*,
                        zwlr_data_control_offer_v1* offer);
  static void onFinished(void* data, zwlr_data_control_device_v1*);
  static void onOfferType(void* data, zwlr_data_control_offer_v1* offer, const char* mime);

  const std::shared_ptr<WaylandConnection> connection_;
  const Selection selection_;
  const Bounds bounds_;
  std::atomic<std::int64_t> published_{0};
  std::atomic<std::chrono::steady_clock::rep> changedAt_{0};
  std::atomic<std::uint64_t> readsServed_{0};
  std::mutex readsMutex_;
  std::condition_variable readsServedChanged_;
  std::condition_variable publishedChanged_;

  zwlr_data_control_device_v1* device_ = nullptr;
  // Offers announced whose selection is still to be named, with their types.
  std::map<zwlr_data_control_offer_v1*, std::vector<std::string>> announced_;
  zwlr_data_control_offer_v1* current_ = nullptr;
  std::vector<std::string> currentTypes_;
  std::unique_ptr<SelectionSource> source_;
  // Whether the current offer is the host's source.
  bool ours_ = false;
  std::vector<OfferedTypes> written_;
  std::int64_t changeCount_ = 0;
};

}  // namespace lumivane::platform::wayland::detail
