#pragma once

#include <xcb/xcb.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "platform/x11/x11_clipboard_thread.h"
#include "platform/x11/x11_pasteboard.h"
#include "platform/x11/x11_selection.h"
#include "platform/x11/x11_selection_owner.h"
#include "platform/x11/x11_selection_reader.h"

namespace lumivane::platform::x11::detail {

// What the clipboard held when an item was listed: another client's targets
// (read when asked for), or the host's own contents.
struct Listing {
  std::vector<std::string> targets;
  std::vector<NamedTarget> served;
  xcb_timestamp_t time = XCB_CURRENT_TIME;
  std::int64_t changeCount = 0;
};

// The clipboard as its own thread sees it: the connection and window, the
// clipboard's owner and reader, the contents the host has written and the
// change count. Its operations may be called from any thread but the
// clipboard's: each runs on the clipboard's thread and waits for it there.
class PasteboardCore final : private ClipboardThread::Handler {
 public:
  struct ListResult {
    enum class Kind { nobody, ours, theirs } kind = Kind::nobody;
    Listing listing;
  };
  struct TargetRead {
    Converted::Outcome outcome = Converted::Outcome::failed;
    std::string type;
    std::uint8_t format = 0;
    Bytes data;
  };
  struct HandOffState {
    enum class Kind { notOwner, saved, owner } kind = Kind::notOwner;
    std::vector<NamedTarget> targets;
    bool managerRuns = false;
    std::uint64_t generation = 0;
  };

  // Serves and reads `selection` (CLIPBOARD or PRIMARY).
  PasteboardCore(std::unique_ptr<SelectionWindow> window,
                 xcb_atom_t selection,
                 const X11Pasteboard::Bounds& bounds,
                 std::uint8_t ownerChangeEvent);
  ~PasteboardCore() override;
  PasteboardCore(const PasteboardCore&) = delete;
  PasteboardCore& operator=(const PasteboardCore&) = delete;

  bool start() { return thread_.start(); }
  void stop() { thread_.stop(); }

  std::optional<ListResult> list();
  TargetRead readTarget(const std::string& target, xcb_timestamp_t time, std::int64_t count);
  std::optional<std::string> readText(std::optional<Listing> context);
  std::optional<std::string> readTargetText(const std::string& target);
  std::int64_t clear();
  bool write(std::vector<std::vector<NamedTarget>> items);
  // Puts `targets` in the first item in place of those named `replaced`.
  bool setString(std::vector<NamedTarget> targets, std::vector<std::string> replaced);
  std::int64_t changeCount();
  HandOffState handOffState();
  bool askManagerToSave(std::uint64_t generation);
  bool ownsClipboard();
  void letGo();
  // Conversions of the contents served to other clients so far, and a wait
  // for more than `count` of them (never on the clipboard's thread, which
  // serves them).
  std::uint64_t served() const { return served_.load(std::memory_order_acquire); }
  bool waitForServed(std::uint64_t count, std::chrono::milliseconds bound);

 private:
  template <typename T>
  using Complete = ClipboardThread::Complete<T>;

  // ClipboardThread::Handler; the clipboard's thread only, from here on.
  void dispatch(const xcb_generic_event_t& event) override;
  std::optional<SteadyClock::time_point> expire(SteadyClock::time_point now) override;
  void ending() override;

  void ownerChanged(const xcb_generic_event_t& event);
  // Answers every request that has come, then stops owning the selection
  // when the host does.
  void answerAndLetGo();
  // Handles everything the server has sent until now.
  void catchUp();
  bool weOwn() const { return owner_.owns(); }
  enum class Holder { nobody, host, another };
  // Who holds the clipboard now, once everything the server has sent until
  // now is handled.
  Holder holder();
  std::string nameOf(xcb_atom_t atom);
  std::vector<NamedTarget> named(const OfferedTargets& offered);
  // Asks the server for the names of those `atoms` not known yet.
  void learnNames(const std::vector<xcb_atom_t>& atoms);
  std::optional<OfferedTargets> resolve(const std::vector<NamedTarget>& targets);
  bool claimWith(std::vector<OfferedTargets> items);
  void publish() { published_.store(changeCount_, std::memory_order_release); }
  std::optional<std::string> ownText(const std::vector<std::string>& candidates, bool anyType);
  void readOne(xcb_atom_t target, xcb_timestamp_t time, Complete<TargetRead> complete);
  void tryText(std::size_t index,
               xcb_timestamp_t time,
               Complete<std::optional<std::string>> complete);

  std::unique_ptr<SelectionWindow> window_;
  X11Pasteboard::Bounds bounds_;
  const std::uint8_t ownerChangeEvent_;
  xcb_atom_t selection_, manager_, saveTargets_, targetsAtom_;
  SelectionOwner owner_;
  SelectionReader reader_;
  std::atomic<std::int64_t> published_{0};
  std::atomic<std::uint64_t> served_{0};
  std::mutex servedMutex_;
  std::condition_variable servedChanged_;

  std::int64_t changeCount_ = 0;
  // Claims of ours whose owner-change reports are still to come; those
  // reports are not changes the count has missed.
  std::deque<xcb_timestamp_t> ownClaims_;
  std::vector<OfferedTargets> written_;
  std::uint64_t generation_ = 0;
  std::optional<std::uint64_t> savedGeneration_;
  std::map<xcb_atom_t, std::string> names_;

  // Last: it stops before anything it runs goes.
  ClipboardThread thread_;
};

}  // namespace lumivane::platform::x11::detail
