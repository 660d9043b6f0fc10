// The clipboard outliving the host: the keeper process and its input, and the
// hand-off to a clipboard manager, on private Xvfb displays.

#include "platform/gtk/clipboard_keeper.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cstring>

#include "platform/x11/x11_connection.h"
#include "platform/x11/x11_pasteboard.h"
#include "tests/platform/x11/raw_x_client.h"
#include "tests/support/x_session.h"

namespace lumivane {
namespace {

using platform::Bytes;
using platform::gtk::readKeeperInput;
using platform::gtk::writeKeeperInput;
using platform::x11::NamedTarget;
using platform::x11::UniqueFd;
using platform::x11::X11Pasteboard;
using test_support::noise;
using test_support::processGone;
using test_support::RawClient;
using test_support::RawClipboardManager;
using test_support::RawTarget;
using test_support::waitUntil;
using test_support::XSession;
using HandOff = X11Pasteboard::HandOff;

NamedTarget named(const std::string& target,
                  const std::string& type,
                  std::uint8_t format,
                  const std::string& bytes) {
  return {target, type, format, std::make_shared<const Bytes>(bytes.begin(), bytes.end())};
}

UniqueFd memoryFile(const std::string& bytes) {
  UniqueFd fd(::memfd_create("keeper-input", MFD_CLOEXEC));
  EXPECT_EQ(::write(fd.get(), bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
  ::lseek(fd.get(), 0, SEEK_SET);
  return fd;
}

std::string encoded(const std::vector<NamedTarget>& targets) {
  UniqueFd fd(::memfd_create("keeper-input", MFD_CLOEXEC));
  EXPECT_TRUE(writeKeeperInput(fd.get(), targets));
  const off_t size = ::lseek(fd.get(), 0, SEEK_END);
  std::string bytes(static_cast<std::size_t>(size), '\0');
  EXPECT_EQ(::pread(fd.get(), bytes.data(), bytes.size(), 0), size);
  return bytes;
}

// The input with one field changed: the bytes at `at` replaced.
std::string patched(std::string bytes, std::size_t at, const std::string& with) {
  bytes.replace(at, with.size(), with);
  return bytes;
}

// --- The keeper's input -------------------------------------------------------

TEST(ClipboardKeeperInputTest, CarriesTargetsExactlyAndRejectsAnyDamage) {
  const std::vector<NamedTarget> targets = {named("UTF8_STRING", "UTF8_STRING", 8, "text"),
                                            named("V", "INTEGER", 32, std::string(8, '\x7f'))};
  const std::string good = encoded(targets);
  {
    auto fd = memoryFile(good);
    auto read = readKeeperInput(fd.get());
    ASSERT_TRUE(read && read->size() == 2);
    EXPECT_EQ((*read)[1].target, "V");
    EXPECT_EQ((*read)[1].type, "INTEGER");
    EXPECT_EQ((*read)[1].format, 32);
    EXPECT_EQ(*(*read)[1].data, Bytes(8, 0x7f));
  }
  // Every truncation.
  for (std::size_t length = 0; length < good.size(); ++length) {
    auto fd = memoryFile(good.substr(0, length));
    EXPECT_FALSE(readKeeperInput(fd.get())) << length;
  }
  // Offsets: magic 0, count 8, first name length 12, name 16 ("UTF8_STRING",
  // 11 bytes), type length 27, type 31, format 42, data length 43, data 51.
  const std::vector<std::pair<std::string, std::string>> damaged = {
      {"magic", patched(good, 0, "LVCLIPX")},
      {"no targets", patched(good, 8, std::string("\0\0\0\0", 4))},
      {"too many targets", patched(good, 8, std::string("\x01\x20\0\0", 4))},
      {"empty name", patched(good, 12, std::string("\0\0\0\0", 4))},
      {"NUL in a name", patched(good, 18, std::string("\0", 1))},
      {"format 7", patched(good, 42, "\x07")},
      {"longer than the input", patched(good, 43, std::string("\xff\xff\xff\x7f\0\0\0\0", 8))},
      {"trailing bytes", good + "x"},
      {"meta target", encoded({named("TARGETS", "ATOM", 32, "1234")})},
      {"duplicate", encoded({named("A", "A", 8, "1"), named("A", "A", 8, "2")})},
  };
  for (const auto& [what, bytes] : damaged) {
    auto fd = memoryFile(bytes);
    EXPECT_FALSE(readKeeperInput(fd.get())) << what;
  }
  // A format-32 target must be whole 32-bit values; the writer refuses too.
  UniqueFd sink(::memfd_create("keeper-input", MFD_CLOEXEC));
  EXPECT_FALSE(writeKeeperInput(sink.get(), {named("V", "INTEGER", 32, "123456")}));
  EXPECT_FALSE(readKeeperInput(memoryFile(patched(good, 43, std::string("\x07", 1))).get()));

  // Through a pipe a false length costs only what really comes.
  int ends[2];
  ASSERT_EQ(::pipe(ends), 0);
  UniqueFd readEnd(ends[0]);
  const std::string lying = patched(good, 43, std::string("\0\0\0\0\x01\0\0\0", 8));
  ASSERT_EQ(::write(ends[1], lying.data(), lying.size()), static_cast<ssize_t>(lying.size()));
  ::close(ends[1]);
  EXPECT_FALSE(readKeeperInput(readEnd.get()));
}

// --- The keeper process, and the hand-off ------------------------------------------

class ClipboardHandOffTest : public ::testing::Test {
 protected:
  void SetUp() override {
    session =
        std::make_unique<XSession>(XSession::Options{.windowManager = false, .sessionBus = false});
    ASSERT_TRUE(session->ready()) << session->failure();
    X11Pasteboard::Options options;
    options.displayName = session->display();
    options.keeperPath = LUMIVANE_CLIPBOARD_KEEPER;
    // A manager saving the large image in increments, or a keeper taking it,
    // can take longer than the host's usual bounds in a sanitizer build.
    options.bounds.clipboardManager = std::chrono::seconds(60);
    options.bounds.keeper = std::chrono::seconds(60);
    std::string error;
    pasteboard = X11Pasteboard::open(options, &error);
    ASSERT_TRUE(pasteboard) << error;
  }

  void TearDown() override {
    pasteboard.reset();
    session.reset();
  }

  // The host's restored clipboard: TEXT as compound text, a 32-bit value,
  // rich text and a large image (sent in increments).
  std::vector<RawTarget> restoreUserClipboard() {
    std::vector<RawTarget> kept = {
        {"TEXT", "COMPOUND_TEXT", 8, "user's"},
        {"V", "INTEGER", 32, std::string("\x01\x02\x03\x04\x05\x06\x07\x08")},
        {"text/html", "text/html", 8, "<b>user's</b>"},
        {"image/png", "image/png", 8, noise(20 << 20, 3)}};
    pasteboard->clearContents();
    auto item = pasteboard->makeItem();
    for (const auto& k : kept) {
      const std::string type = platform::x11::typeString(k.target, k.type, k.format);
      EXPECT_TRUE(item->setDataForType(Bytes(k.bytes.begin(), k.bytes.end()), type));
    }
    EXPECT_TRUE(pasteboard->writeObjects({item}));
    return kept;
  }

  void expectServed(const std::vector<RawTarget>& kept) {
    RawClient reader(session->display());
    for (const auto& k : kept) {
      auto value = reader.read(k.target);
      ASSERT_TRUE(value) << k.target;
      EXPECT_EQ(reader.name(value->type), k.type);
      EXPECT_EQ(value->format, k.format);
      EXPECT_TRUE(std::string(value->data.begin(), value->data.end()) == k.bytes) << k.target;
    }
  }

  std::unique_ptr<XSession> session;
  std::unique_ptr<X11Pasteboard> pasteboard;
};

// A clipboard manager that refuses leaves the clipboard to the keeper, which
// keeps it until another client takes it.
TEST_F(ClipboardHandOffTest, TheKeeperKeepsTheClipboardUntilAnotherClientTakesIt) {
  RawClipboardManager manager(session->display(), /*refuses=*/true);
  ASSERT_TRUE(manager.runs());
  const auto kept = restoreUserClipboard();
  const auto handOff = pasteboard->handOffBeforeExit();
  ASSERT_EQ(handOff.outcome, HandOff::keptByKeeper);
  EXPECT_EQ(manager.requestsToSave(), 1);
  ASSERT_GT(handOff.keeperPid, 0);
  pasteboard.reset();

  expectServed(kept);
  EXPECT_FALSE(processGone(handOff.keeperPid));
  ASSERT_TRUE(session->offerClipboard("UTF8_STRING", "copied later"));
  EXPECT_TRUE(waitUntil([&] { return processGone(handOff.keeperPid); }));
  EXPECT_EQ(session->readClipboard("UTF8_STRING"), "copied later");
}

TEST_F(ClipboardHandOffTest, DestroyingThePasteboardHandsOffAndTheKeeperEndsWithTheServer) {
  const auto kept = restoreUserClipboard();
  const auto host = session->clipboardOwner();
  pasteboard.reset();
  const auto keeper = session->clipboardOwner();
  ASSERT_NE(keeper, 0u);
  ASSERT_NE(keeper, host);
  expectServed(kept);

  // The keeper's pid, from the server's record of the client that owns the
  // clipboard's window.
  auto probe = platform::x11::XcbConnection::open(session->display(), nullptr);
  ASSERT_TRUE(probe);
  const std::optional<pid_t> pid = probe->processOfClient(static_cast<xcb_window_t>(keeper));
  ASSERT_TRUE(pid);
  session.reset();
  EXPECT_TRUE(waitUntil([&] { return processGone(*pid); }));
}

TEST_F(ClipboardHandOffTest, AClipboardManagerSavesItAndNoKeeperStarts) {
  RawClipboardManager manager(session->display(), /*refuses=*/false);
  ASSERT_TRUE(manager.runs());
  const auto kept = restoreUserClipboard();
  const auto handOff = pasteboard->handOffBeforeExit();
  EXPECT_EQ(handOff.outcome, HandOff::savedByManager);
  EXPECT_EQ(handOff.keeperPid, -1);
  const auto saved = manager.saved();
  ASSERT_EQ(saved.size(), kept.size());
  for (const auto& k : kept) {
    ASSERT_TRUE(saved.count(k.target)) << k.target;
    EXPECT_EQ(saved.at(k.target).type, k.type);
    EXPECT_EQ(saved.at(k.target).format, k.format);
    EXPECT_TRUE(saved.at(k.target).bytes == k.bytes) << k.target;
  }
  // Saved once: the same contents are not handed over again.
  EXPECT_EQ(pasteboard->handOffBeforeExit().outcome, HandOff::savedByManager);
  EXPECT_EQ(manager.requestsToSave(), 1);
}

TEST_F(ClipboardHandOffTest, NothingIsHandedOffUnlessTheHostHoldsSomething) {
  pasteboard->clearContents();
  EXPECT_EQ(pasteboard->handOffBeforeExit().outcome, HandOff::notOwner);
  ASSERT_TRUE(session->offerClipboard("UTF8_STRING", "another's"));
  EXPECT_EQ(pasteboard->handOffBeforeExit().outcome, HandOff::notOwner);
}

TEST_F(ClipboardHandOffTest, TheKeeperRefusesBadInputWithoutTouchingTheClipboard) {
  ASSERT_TRUE(session->offerClipboard("UTF8_STRING", "user's"));
  const auto owner = session->clipboardOwner();
  const std::string good = encoded({named("UTF8_STRING", "UTF8_STRING", 8, "keeper's")});
  for (const std::string& bad :
       {std::string(), good.substr(0, good.size() - 1), patched(good, 42, "\x09"), good + "\n"}) {
    auto& keeper = session->spawn({LUMIVANE_CLIPBOARD_KEEPER, "--display", session->display()}, {},
                                  /*pipeInput=*/true);
    keeper.write(bad);
    keeper.closeInput();
    EXPECT_EQ(keeper.waitForExit(30), 2);
  }
  auto& confused = session->spawn({LUMIVANE_CLIPBOARD_KEEPER, "--frobnicate"});
  EXPECT_EQ(confused.waitForExit(30), 2);
  EXPECT_EQ(session->clipboardOwner(), owner);
  EXPECT_EQ(session->readClipboard("UTF8_STRING"), "user's");
}

}  // namespace
}  // namespace lumivane
