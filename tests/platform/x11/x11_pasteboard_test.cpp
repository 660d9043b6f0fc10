// The X11 pasteboard against real clients on private Xvfb displays: xclip as
// the ordinary other application, and bare XCB clients (raw_x_client.h) for
// owners and requestors that behave exactly, or badly, as a case needs.

#include "platform/x11/x11_pasteboard.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <thread>

#include "capture/pasteboard_snapshot.h"
#include "tests/platform/x11/raw_x_client.h"
#include "tests/support/x_session.h"

namespace lumivane {
namespace {

using platform::Bytes;
using platform::NSPasteboardTypeString;
using platform::x11::X11Pasteboard;
using test_support::noise;
using test_support::RawClient;
using test_support::RawOwner;
using test_support::RawTarget;
using test_support::waitUntil;
using test_support::XSession;

constexpr char kSep = '\x1f';

Bytes toBytes(const std::string& s) {
  return Bytes(s.begin(), s.end());
}

std::string toString(const Bytes& b) {
  return std::string(b.begin(), b.end());
}

// The raw owners answer at once and send each piece at once unless told to
// wait, well within these bounds, shorter than the usual ones.
X11Pasteboard::Bounds quickToGiveUp() {
  X11Pasteboard::Bounds bounds;
  bounds.reading.answer = std::chrono::seconds(1);
  bounds.reading.increment = std::chrono::seconds(1);
  return bounds;
}

class X11PasteboardTest : public ::testing::Test {
 protected:
  void SetUp() override {
    session =
        std::make_unique<XSession>(XSession::Options{.windowManager = false, .sessionBus = false});
    ASSERT_TRUE(session->ready()) << session->failure();
    pasteboard = open();
    ASSERT_TRUE(pasteboard);
  }

  void TearDown() override {
    pasteboard.reset();
    session.reset();
  }

  std::unique_ptr<X11Pasteboard> open(X11Pasteboard::Bounds bounds = {}) {
    X11Pasteboard::Options options;
    options.displayName = session->display();
    options.bounds = bounds;
    std::string error;
    auto opened = X11Pasteboard::open(options, &error);
    EXPECT_TRUE(opened) << error;
    return opened;
  }

  // Writes one new item holding `entries` (type string, bytes), after
  // clearing, as the host's restore does.
  bool write(const std::vector<std::pair<std::string, std::string>>& entries) {
    pasteboard->clearContents();
    auto item = pasteboard->makeItem();
    for (const auto& [type, bytes] : entries) {
      if (!item->setDataForType(toBytes(bytes), type))
        return false;
    }
    return pasteboard->writeObjects({item});
  }

  std::unique_ptr<XSession> session;
  std::unique_ptr<X11Pasteboard> pasteboard;
};

// --- Text -------------------------------------------------------------------

using X11PasteboardTextTest = X11PasteboardTest;

TEST_F(X11PasteboardTextTest, OffersTextUnderEveryTextTargetToOtherClients) {
  ASSERT_TRUE(pasteboard->setStringForType("naïve café", NSPasteboardTypeString));
  EXPECT_EQ(session->readClipboard("UTF8_STRING"), "naïve café");
  EXPECT_EQ(session->readClipboard("text/plain;charset=utf-8"), "naïve café");
  EXPECT_EQ(session->readClipboard("STRING"), "na\xEFve caf\xE9");
  RawClient reader(session->display());
  auto text = reader.read("TEXT");
  ASSERT_TRUE(text);
  EXPECT_EQ(reader.name(text->type), "STRING");
  EXPECT_EQ(toString(text->data), "na\xEFve caf\xE9");
  EXPECT_EQ(pasteboard->stringForType(NSPasteboardTypeString), "naïve café");

  // Beyond Latin-1 there is no STRING, and TEXT goes out as UTF-8.
  ASSERT_TRUE(pasteboard->setStringForType("done ✓", NSPasteboardTypeString));
  EXPECT_EQ(session->readClipboard("STRING"), std::nullopt);
  text = reader.read("TEXT");
  ASSERT_TRUE(text);
  EXPECT_EQ(reader.name(text->type), "UTF8_STRING");
  EXPECT_EQ(toString(text->data), "done ✓");
}

// UTF8_STRING, and only valid UTF-8 in it, is the pasteboard contract's; the
// older text targets are X's own.
TEST_F(X11PasteboardTextTest, ReadsTextFromTheOlderTextTargetsToo) {
  ASSERT_TRUE(session->offerClipboard("UTF8_STRING", "héllo"));
  EXPECT_EQ(pasteboard->stringForType(NSPasteboardTypeString), "héllo");

  ASSERT_TRUE(session->offerClipboard("text/plain;charset=utf-8", "plain ✓"));
  EXPECT_EQ(pasteboard->stringForType(NSPasteboardTypeString), "plain ✓");

  ASSERT_TRUE(session->offerClipboard("STRING", "caf\xE9"));
  EXPECT_EQ(pasteboard->stringForType(NSPasteboardTypeString), "café");
  {
    // An owner of Latin-1 only refuses the others, without saying when.
    RawOwner::Behaviour vague;
    vague.refusalTime = XCB_CURRENT_TIME;
    RawOwner old(session->display(), {{"STRING", "STRING", 8, "na\xEFve"}}, vague);
    EXPECT_EQ(pasteboard->stringForType(NSPasteboardTypeString), "naïve");
  }

  // Other types are X targets, and only valid UTF-8 is text.
  ASSERT_TRUE(session->offerClipboard("text/html", "<b>bold</b>"));
  EXPECT_EQ(pasteboard->stringForType("text/html"), "<b>bold</b>");
  ASSERT_TRUE(session->offerClipboard("text/html", "<b>\xC0\xAF</b>"));
  EXPECT_EQ(pasteboard->stringForType("text/html"), std::nullopt);
}

TEST_F(X11PasteboardTextTest, RefusedWritesLeaveTheClipboardAsItWas) {
  ASSERT_TRUE(write({{NSPasteboardTypeString, "host's"}}));
  const auto count = pasteboard->changeCount();

  EXPECT_FALSE(pasteboard->setStringForType("bad \xED\xA0\x80", NSPasteboardTypeString));
  auto item = pasteboard->makeItem();
  EXPECT_FALSE(item->setDataForType(toBytes("\xFF"), NSPasteboardTypeString));
  EXPECT_FALSE(item->setDataForType(toBytes("list"), "TARGETS"));
  EXPECT_FALSE(
      item->setDataForType(toBytes("7 bytes"), std::string("V") + kSep + "INTEGER" + kSep + "32"));
  EXPECT_FALSE(item->setDataForType(toBytes("x"), ""));
  // Items read from the clipboard are not new items.
  auto listed = pasteboard->pasteboardItems();
  ASSERT_TRUE(listed && listed->size() == 1);
  EXPECT_FALSE(listed->front()->setDataForType(toBytes("x"), "UTF8_STRING"));
  EXPECT_FALSE(pasteboard->writeObjects({listed->front()}));

  EXPECT_EQ(session->readClipboard("UTF8_STRING"), "host's");
  EXPECT_EQ(pasteboard->changeCount(), count);
}

// --- Saving and restoring -----------------------------------------------------

using X11PasteboardSnapshotTest = X11PasteboardTest;

// What an editor's copy offers: text in two encodings, a 32-bit in-process
// value, rich text and an image.
std::vector<RawTarget> editorClipboard() {
  std::string pointer(8, '\0');
  const std::uint32_t values[2] = {0xDEADBEEF, 0x00007F12};
  std::memcpy(pointer.data(), values, 8);
  return {{"UTF8_STRING", "UTF8_STRING", 8, "user's text"},
          {"TEXT", "COMPOUND_TEXT", 8, "user's text"},
          {"application/x-editor-pointer", "INTEGER", 32, pointer},
          {"text/html", "text/html", 8, "<b>user's</b> text"},
          {"image/png", "image/png", 8, noise(1 << 20, 7)},
          {"application/x-editor-marker", "application/x-editor-marker", 8, ""}};
}

// Reads every target `expected` names from whoever owns the clipboard and
// compares type, format and bytes; the owner must list exactly those and the
// targets that describe the clipboard, and say it took the clipboard between
// the server times `claimed`.
void expectServes(RawClient& reader,
                  const std::vector<RawTarget>& expected,
                  std::pair<xcb_timestamp_t, xcb_timestamp_t> claimed) {
  auto list = reader.read("TARGETS");
  ASSERT_TRUE(list);
  std::vector<std::string> listed;
  for (auto atom : list->values32())
    listed.push_back(reader.name(atom));
  std::vector<std::string> names = {"TARGETS", "TIMESTAMP", "MULTIPLE"};
  for (const auto& target : expected)
    names.push_back(target.target);
  // In any order: the host's snapshot keeps types sorted, not as listed.
  std::sort(listed.begin(), listed.end());
  std::sort(names.begin(), names.end());
  EXPECT_EQ(listed, names);
  // The server's clock moves on first, so that an answer of "now" would show.
  ASSERT_TRUE(waitUntil([&] { return reader.serverTime() != claimed.second; }));
  auto taken = reader.read("TIMESTAMP");
  ASSERT_TRUE(taken && taken->values32().size() == 1);
  EXPECT_GE(taken->values32()[0], claimed.first);
  EXPECT_LE(taken->values32()[0], claimed.second);
  for (const auto& target : expected) {
    auto value = reader.read(target.target);
    ASSERT_TRUE(value) << target.target;
    EXPECT_EQ(reader.name(value->type), target.type) << target.target;
    EXPECT_EQ(value->format, target.format) << target.target;
    EXPECT_TRUE(toString(value->data) == target.bytes) << target.target;
  }
}

TEST_F(X11PasteboardSnapshotTest, ARestoredClipboardOffersExactlyWhatWasSaved) {
  const auto user = editorClipboard();
  RawOwner editor(session->display(), user, {});
  ASSERT_TRUE(editor.owns());

  PasteboardSnapshot saved = saveClipboard(*pasteboard);
  ASSERT_TRUE(saved && saved->size() == 1);
  EXPECT_TRUE(saved->front().count(std::string("TEXT") + kSep + "COMPOUND_TEXT" + kSep + "8"));
  EXPECT_TRUE(saved->front().count("image/png"));
  // Each target was converted once, though its type and its data were asked.
  EXPECT_EQ(editor.requests("image/png"), 1);

  // The capture: the clipboard is emptied, the target copies, the host reads.
  pasteboard->clearContents();
  ASSERT_TRUE(session->offerClipboard("UTF8_STRING", "the selection"));
  EXPECT_EQ(pasteboard->stringForType(NSPasteboardTypeString), "the selection");
  RawClient reader(session->display());
  const auto restore = [&](PasteboardSnapshot snapshot) {
    const xcb_timestamp_t before = reader.serverTime();
    restoreClipboard(*pasteboard, std::move(snapshot));
    return std::pair(before, reader.serverTime());
  };
  expectServes(reader, user, restore(std::move(saved)));
  EXPECT_EQ(session->readClipboard("TEXT"), "user's text");

  // Saved again while the host owns it, it comes from memory, the same.
  PasteboardSnapshot again = saveClipboard(*pasteboard);
  pasteboard->clearContents();
  expectServes(reader, user, restore(std::move(again)));
}

TEST_F(X11PasteboardSnapshotTest, AnItemReadsNothingOnceTheClipboardHasChanged) {
  ASSERT_TRUE(session->offerClipboard("text/html", "<i>first</i>"));
  auto items = pasteboard->pasteboardItems();
  ASSERT_TRUE(items && items->size() == 1);
  EXPECT_EQ(items->front()->types(), std::vector<std::string>{"text/html"});
  ASSERT_TRUE(session->offerClipboard("text/html", "<i>second</i>"));
  EXPECT_EQ(items->front()->dataForType(NSPasteboardTypeString), std::nullopt);
  // What it read while it was current, it still hands over.
  EXPECT_EQ(items->front()->dataForType("text/html"), toBytes("<i>first</i>"));
  EXPECT_EQ(items->front()->dataForType("text/html"), std::nullopt);
}

// --- Large contents -------------------------------------------------------------

using X11PasteboardLargeTest = X11PasteboardTest;

// 64 MiB each way is the pasteboard contract's; here two readers take it at
// once, each with a transfer in increments of its own.
TEST_F(X11PasteboardLargeTest, TwoReadersAtOnceEachGetTheWholeOfALargeType) {
  const std::string image = noise(64 << 20, 64);
  ASSERT_TRUE(write({{"image/png", image}}));
  // Both started from this thread: the session is not to be used from two.
  const std::vector<std::string> xclipOut = {"xclip", "-selection", "clipboard",
                                             "-o",    "-t",         "image/png"};
  auto& one = session->spawn(xclipOut, {}, /*pipeInput=*/false, /*pipeOutput=*/true);
  auto& two = session->spawn(xclipOut, {}, /*pipeInput=*/false, /*pipeOutput=*/true);
  std::optional<std::string> first;
  std::thread other([&] { first = one.readAll(120); });
  auto second = two.readAll(120);
  other.join();
  EXPECT_EQ(one.waitForExit(30), 0);
  EXPECT_EQ(two.waitForExit(30), 0);
  ASSERT_TRUE(first && second);
  EXPECT_TRUE(*first == image);
  EXPECT_TRUE(*second == image);
}

TEST_F(X11PasteboardLargeTest, ACallIsAnsweredWhileAnotherThreadWaitsInALongRead) {
  X11Pasteboard::Bounds patient;
  patient.reading.increment = std::chrono::seconds(120);
  pasteboard = open(patient);
  const std::string image = noise(4 << 20, 4);
  RawOwner::Behaviour held;
  held.incrementAbove = 64 << 10;
  held.holdIncrements = true;
  RawOwner editor(
      session->display(),
      {{"UTF8_STRING", "UTF8_STRING", 8, "quick"}, {"image/png", "image/png", 8, image}}, held);
  ASSERT_TRUE(editor.owns());
  auto items = pasteboard->pasteboardItems();
  ASSERT_TRUE(items && items->size() == 1);

  std::atomic<bool> done{false};
  std::optional<Bytes> slow;
  std::thread reader([&] {
    slow = items->front()->dataForType("image/png");
    done = true;
  });
  ASSERT_TRUE(waitUntil([&] { return editor.requests("image/png") == 1; }));
  EXPECT_EQ(pasteboard->stringForType(NSPasteboardTypeString), "quick");
  const auto count = pasteboard->changeCount();
  EXPECT_EQ(pasteboard->clearContents(), count + 1);
  EXPECT_FALSE(done);

  editor.release();
  reader.join();
  // It had begun before the clear; the owner's bytes are what it gets.
  ASSERT_TRUE(slow);
  EXPECT_TRUE(toString(*slow) == image);
}

// Each piece renews the wait for the next: a slow owner's transfer may take
// far longer than the wait for one piece.
TEST_F(X11PasteboardLargeTest, ASlowOwnersItemIsReadWholeHoweverLongItsTransferTakes) {
  const auto bounds = quickToGiveUp();
  pasteboard = open(bounds);
  RawOwner::Behaviour slow;
  slow.incrementAbove = 64 << 10;
  slow.pieceInterval = bounds.reading.increment / 5;
  const std::string image = noise(8 * slow.incrementAbove, 6);
  RawOwner editor(session->display(), {{"image/png", "image/png", 8, image}}, slow);
  ASSERT_TRUE(editor.owns());
  auto items = pasteboard->pasteboardItems();
  ASSERT_TRUE(items && items->size() == 1);
  const auto read = items->front()->dataForType("image/png");
  EXPECT_TRUE(read && toString(*read) == image);
}

// --- Change count ----------------------------------------------------------------

using X11PasteboardChangeCountTest = X11PasteboardTest;

// The host's changes and other clients' are counted by the pasteboard
// contract; X also loses the clipboard when its owner exits.
TEST_F(X11PasteboardChangeCountTest, AnOwnerExitingIsAChangeToo) {
  const auto before = pasteboard->changeCount();
  auto* other = session->offerClipboard("UTF8_STRING", "other's");
  ASSERT_TRUE(other);
  ASSERT_TRUE(waitUntil([&] { return pasteboard->changeCount() > before; }));
  const auto copied = pasteboard->changeCount();

  // The owner exits: nobody owns the clipboard.
  other->terminate();
  EXPECT_TRUE(waitUntil([&] { return pasteboard->changeCount() > copied; }));
  auto items = pasteboard->pasteboardItems();
  ASSERT_TRUE(items);
  EXPECT_TRUE(items->empty());
  EXPECT_EQ(pasteboard->stringForType(NSPasteboardTypeString), std::nullopt);
}

// A write without clearing adds the targets the clipboard does not have yet
// to what the host offers, as a later item of the same write does.
TEST_F(X11PasteboardChangeCountTest, AWriteWithoutClearingAddsTargets) {
  ASSERT_TRUE(write({{NSPasteboardTypeString, "first"}, {"text/html", "<p>first</p>"}}));
  auto more = pasteboard->makeItem();
  more->setDataForType(toBytes("second"), NSPasteboardTypeString);
  more->setDataForType(toBytes("{\\rtf1}"), "text/rtf");
  ASSERT_TRUE(pasteboard->writeObjects({more}));
  EXPECT_EQ(session->readClipboard("UTF8_STRING"), "first");
  EXPECT_EQ(session->readClipboard("text/html"), "<p>first</p>");
  EXPECT_EQ(session->readClipboard("text/rtf"), "{\\rtf1}");
}

// --- Requestors that misbehave --------------------------------------------------------

using X11PasteboardHostileRequestorTest = X11PasteboardTest;

bool propertyNotice(const xcb_generic_event_t& e,
                    xcb_window_t window,
                    xcb_atom_t atom,
                    std::uint8_t state) {
  const auto& n = reinterpret_cast<const xcb_property_notify_event_t&>(e);
  return (e.response_type & 0x7f) == XCB_PROPERTY_NOTIFY && n.window == window && n.atom == atom &&
         n.state == state;
}

// Asks for `target` into `property` and expects it to come in increments:
// the announcement is there, and the notice of its writing taken.
void beginIncrements(RawClient& client, const std::string& target, const std::string& property) {
  const xcb_atom_t atom = client.atom(property);
  ASSERT_EQ(client.convert(target, property), atom);
  auto announced = client.x().getProperty(client.window(), atom);
  ASSERT_TRUE(announced);
  ASSERT_EQ(client.name(announced->type), "INCR");
  ASSERT_TRUE(client.waitFor([&](const xcb_generic_event_t& e) {
    return propertyNotice(e, client.window(), atom, XCB_PROPERTY_NEW_VALUE);
  }));
}

TEST_F(X11PasteboardHostileRequestorTest, ARequestorThatNeverReadsIsDroppedWithoutCostingOthers) {
  X11Pasteboard::Bounds impatient;
  impatient.serving.requestorIdle = std::chrono::seconds(2);
  pasteboard = open(impatient);
  const std::string image = noise(8 << 20, 8);
  ASSERT_TRUE(write({{"image/png", image}, {"UTF8_STRING", "text"}}));

  RawClient stalled(session->display());
  const xcb_atom_t property = stalled.atom("STALLED");
  beginIncrements(stalled, "image/png", "STALLED");

  EXPECT_TRUE(session->readClipboard("image/png") == image);
  // Given up on: the announcement is taken back...
  EXPECT_TRUE(stalled.waitFor([&](const xcb_generic_event_t& e) {
    return propertyNotice(e, stalled.window(), property, XCB_PROPERTY_DELETE);
  }));
  // ...and reading late brings nothing: by the time the owner answers a
  // later request, a piece would have come.
  ASSERT_EQ(stalled.convert("UTF8_STRING", "LATER"), stalled.atom("LATER"));
  EXPECT_FALSE(stalled.hasArrived([&](const xcb_generic_event_t& e) {
    return propertyNotice(e, stalled.window(), property, XCB_PROPERTY_NEW_VALUE);
  }));
  EXPECT_EQ(session->readClipboard("UTF8_STRING"), "text");
}

TEST_F(X11PasteboardHostileRequestorTest, ARequestorThatVanishesMidTransferCostsNothing) {
  const std::string image = noise(8 << 20, 9);
  ASSERT_TRUE(write({{"image/png", image}}));
  const auto count = pasteboard->changeCount();
  for (bool closesConnection : {true, false}) {
    auto vanishing = std::make_unique<RawClient>(session->display());
    const xcb_atom_t property = vanishing->atom("GOING");
    beginIncrements(*vanishing, "image/png", "GOING");
    // Takes the announcement and one piece, then goes.
    for (int i = 0; i < 2; ++i) {
      ASSERT_TRUE(vanishing->x().getProperty(vanishing->window(), property, /*remove=*/true));
      ASSERT_TRUE(vanishing->waitFor([&](const xcb_generic_event_t& e) {
        return propertyNotice(e, vanishing->window(), property, XCB_PROPERTY_NEW_VALUE);
      }));
    }
    if (closesConnection) {
      vanishing.reset();
    } else {
      xcb_destroy_window(vanishing->c(), vanishing->window());
      xcb_flush(vanishing->c());
    }
    RawClient steady(session->display());
    auto whole = steady.read("image/png");
    ASSERT_TRUE(whole);
    EXPECT_TRUE(toString(whole->data) == image);
  }
  EXPECT_EQ(pasteboard->changeCount(), count);
}

// Requests keep coming while the host goes, and each one is answered: by the
// host while the clipboard is its own, by the server once it is nobody's.
// Some applications never ask a clipboard again after a request that went
// unanswered.
TEST_F(X11PasteboardHostileRequestorTest, EveryRequestIsAnsweredAsTheHostGoes) {
  ASSERT_TRUE(pasteboard->setStringForType("going", NSPasteboardTypeString));
  RawClient requestor(session->display());
  const xcb_atom_t clipboard = requestor.atom("CLIPBOARD");
  const xcb_atom_t text = requestor.atom("UTF8_STRING");
  const xcb_atom_t property = requestor.atom("ASKED");
  std::atomic<bool> gone = false;
  std::atomic<int> sent = 0;
  std::thread asking([&] {
    while (!gone) {
      xcb_convert_selection(requestor.c(), requestor.window(), clipboard, text, property,
                            XCB_CURRENT_TIME);
      xcb_flush(requestor.c());
      ++sent;
    }
  });
  waitUntil([&] { return sent > 100; });
  pasteboard.reset();
  gone = true;
  asking.join();
  int answered = 0;
  while (answered < sent && requestor.waitFor(
                                [](const xcb_generic_event_t& e) {
                                  return (e.response_type & 0x7f) == XCB_SELECTION_NOTIFY;
                                },
                                10)) {
    ++answered;
  }
  EXPECT_EQ(answered, sent);
}

TEST_F(X11PasteboardHostileRequestorTest, NonsenseRequestsAreRefusedAndChangeNothing) {
  ASSERT_TRUE(write({{"UTF8_STRING", "text"}}));
  const auto count = pasteboard->changeCount();
  RawClient odd(session->display());
  const xcb_window_t ours = odd.owner();

  // A target never offered.
  EXPECT_EQ(odd.convert("image/png", "P"), xcb_atom_t{XCB_ATOM_NONE});
  // An old client naming no property gets the target's own name.
  EXPECT_EQ(odd.convert("UTF8_STRING", ""), odd.atom("UTF8_STRING"));
  auto old = odd.x().getProperty(odd.window(), odd.atom("UTF8_STRING"), true);
  ASSERT_TRUE(old);
  EXPECT_EQ(toString(old->data), "text");
  // A request from before the host owned the clipboard.
  EXPECT_EQ(odd.convert("UTF8_STRING", "P", /*time=*/1), xcb_atom_t{XCB_ATOM_NONE});

  // MULTIPLE without a property, with junk in it, and done right: failed
  // pairs come back with no property.
  EXPECT_EQ(odd.convert("MULTIPLE", ""), xcb_atom_t{XCB_ATOM_NONE});
  xcb_change_property(odd.c(), XCB_PROP_MODE_REPLACE, odd.window(), odd.atom("M"), XCB_ATOM_STRING,
                      8, 5, "junk!");
  EXPECT_EQ(odd.convert("MULTIPLE", "M"), xcb_atom_t{XCB_ATOM_NONE});
  const xcb_atom_t pairs[] = {odd.atom("UTF8_STRING"), odd.atom("A"),        odd.atom("nonsense"),
                              odd.atom("B"),           odd.atom("MULTIPLE"), odd.atom("C")};
  xcb_change_property(odd.c(), XCB_PROP_MODE_REPLACE, odd.window(), odd.atom("M"),
                      odd.atom("ATOM_PAIR"), 32, 6, pairs);
  EXPECT_EQ(odd.convert("MULTIPLE", "M"), odd.atom("M"));
  auto answered = odd.x().getProperty(odd.window(), odd.atom("M"));
  ASSERT_TRUE(answered);
  EXPECT_EQ(answered->values32(),
            (std::vector<std::uint32_t>{pairs[0], pairs[1], pairs[2], 0, pairs[4], 0}));
  auto a = odd.x().getProperty(odd.window(), odd.atom("A"));
  ASSERT_TRUE(a);
  EXPECT_EQ(toString(a->data), "text");

  // Made-up events: a clear that would end ownership, a request naming a
  // window that does not exist.
  xcb_selection_clear_event_t clear{};
  clear.response_type = XCB_SELECTION_CLEAR;
  clear.owner = ours;
  clear.selection = odd.atom("CLIPBOARD");
  char event[32] = {};
  std::memcpy(event, &clear, sizeof clear);
  odd.sendEvent(ours, event);
  xcb_selection_request_event_t request{};
  request.response_type = XCB_SELECTION_REQUEST;
  request.owner = ours;
  request.requestor = 0x7ffffff;
  request.selection = odd.atom("CLIPBOARD");
  request.target = odd.atom("UTF8_STRING");
  request.property = odd.atom("P");
  std::memset(event, 0, sizeof event);
  std::memcpy(event, &request, sizeof request);
  odd.sendEvent(ours, event);

  EXPECT_EQ(session->readClipboard("UTF8_STRING"), "text");
  EXPECT_EQ(odd.owner(), ours);
  EXPECT_EQ(pasteboard->changeCount(), count);
}

TEST_F(X11PasteboardHostileRequestorTest, AFloodOfStalledTransfersDoesNotShutOutAReader) {
  const std::string image = noise(2 << 20, 2);
  ASSERT_TRUE(write({{"image/png", image}}));
  std::vector<std::unique_ptr<RawClient>> flood;
  for (int client = 0; client < 4; ++client) {
    flood.push_back(std::make_unique<RawClient>(session->display()));
    for (int i = 0; i < 25; ++i) {
      const std::string property = "FLOOD" + std::to_string(i);
      ASSERT_EQ(flood.back()->convert("image/png", property), flood.back()->atom(property));
    }
  }
  EXPECT_TRUE(session->readClipboard("image/png") == image);
}

// --- Owners that misbehave ------------------------------------------------------------

using X11PasteboardHostileOwnerTest = X11PasteboardTest;

TEST_F(X11PasteboardHostileOwnerTest, AnOwnerThatNeverAnswersCostsOnlyABoundedWait) {
  const auto bounds = quickToGiveUp();
  pasteboard = open(bounds);
  RawOwner::Behaviour silent;
  silent.answersTargets = false;
  silent.answersData = false;
  {
    RawOwner mute(session->display(), {{"UTF8_STRING", "UTF8_STRING", 8, "never"}}, silent);
    ASSERT_TRUE(mute.owns());
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(pasteboard->pasteboardItems(), std::nullopt);
    EXPECT_EQ(pasteboard->stringForType(NSPasteboardTypeString), std::nullopt);
    // Each read waited for an answer, not for as long as a whole conversion may take.
    EXPECT_LT(std::chrono::steady_clock::now() - start, bounds.reading.transfer / 2);
    // Only the first text target was asked for: a silent owner is not asked on.
    EXPECT_EQ(mute.requests("text/plain;charset=utf-8"), 0);
  }
  ASSERT_TRUE(session->offerClipboard("UTF8_STRING", "answered"));
  EXPECT_EQ(pasteboard->stringForType(NSPasteboardTypeString), "answered");
}

TEST_F(X11PasteboardHostileOwnerTest, AnOwnerThatListsButNeverSendsLeavesTheItemUnreadable) {
  pasteboard = open(quickToGiveUp());
  RawOwner::Behaviour listsOnly;
  listsOnly.answersData = false;
  RawOwner owner(session->display(),
                 {{"UTF8_STRING", "UTF8_STRING", 8, "a"},
                  {"text/html", "text/html", 8, "b"},
                  {"image/png", "image/png", 8, "c"}},
                 listsOnly);
  auto items = pasteboard->pasteboardItems();
  ASSERT_TRUE(items && items->size() == 1);
  EXPECT_EQ(items->front()->types(),
            (std::vector<std::string>{"UTF8_STRING", "text/html", "image/png"}));
  // Once the first went unanswered the rest were not asked for.
  EXPECT_EQ(owner.requests("text/html"), 0);
  EXPECT_EQ(items->front()->dataForType("image/png"), std::nullopt);
  EXPECT_EQ(saveClipboard(*pasteboard)->size(), 0u);
}

TEST_F(X11PasteboardHostileOwnerTest, AnOwnerThatStallsLiesOrSendsJunkIsGivenUpOn) {
  pasteboard = open(quickToGiveUp());
  const std::vector<RawTarget> image = {{"image/png", "image/png", 8, noise(1 << 20, 1)}};
  RawOwner::Behaviour stalls;
  stalls.incrementAbove = 64 << 10;
  stalls.holdIncrements = true;
  RawOwner::Behaviour lies;
  lies.incrementAbove = 64 << 10;
  lies.announcedSize = 0xFFFFFFF0u;
  RawOwner::Behaviour junk;
  junk.targetsAnswer = RawTarget{"TARGETS", "STRING", 8, "not a list"};
  for (const auto& behaviour : {stalls, lies}) {
    RawOwner owner(session->display(), image, behaviour);
    auto items = pasteboard->pasteboardItems();
    ASSERT_TRUE(items && items->size() == 1);
    EXPECT_EQ(items->front()->dataForType("image/png"), std::nullopt);
  }
  RawOwner owner(session->display(), image, junk);
  EXPECT_EQ(pasteboard->pasteboardItems(), std::nullopt);
}

}  // namespace
}  // namespace lumivane
