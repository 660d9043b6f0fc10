#include "platform/x11/x11_clipboard_handoff.h"

#include "platform/gtk/clipboard_keeper.h"
#include "platform/x11/x11_pasteboard_core.h"

namespace lumivane::platform::x11 {

ClipboardHandOffResult handOffClipboard(detail::PasteboardCore& core,
                                        const std::filesystem::path& keeperPath,
                                        const std::string& displayName,
                                        std::chrono::milliseconds keeperBound) {
  using Kind = detail::PasteboardCore::HandOffState::Kind;
  using HandOff = ClipboardHandOff;
  auto state = core.handOffState();
  if (state.kind == Kind::notOwner)
    return {HandOff::notOwner};
  if (state.kind == Kind::saved)
    return {HandOff::savedByManager};
  if (state.managerRuns) {
    if (core.askManagerToSave(state.generation))
      return {HandOff::savedByManager};
    if (!core.ownsClipboard())
      return {HandOff::notOwner};
  }
  if (keeperPath.empty())
    return {HandOff::lost};
  std::vector<std::string> arguments;
  if (!displayName.empty())
    arguments = {"--display", displayName};
  const auto pid = gtk::startClipboardKeeper(keeperPath, arguments, state.targets, keeperBound);
  // The keeper reports once the server has named it the owner; the notice of
  // that reaches this connection after the report at the latest.
  if (!pid || core.ownsClipboard())
    return {HandOff::lost};
  return {HandOff::keptByKeeper, *pid};
}

}  // namespace lumivane::platform::x11
