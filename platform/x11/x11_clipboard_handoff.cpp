#include "platform/x11/x11_clipboard_handoff.h"

#include "platform/x11/x11_clipboard_keeper.h"
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
  const auto pid = startClipboardKeeper(keeperPath, displayName, state.targets, keeperBound);
  // The keeper reports once the server has named it the owner; the notice of
  // that reaches this connection after the report at the latest.
  if (!pid || core.ownsClipboard())
    return {HandOff::lost};
  return {HandOff::keptByKeeper, *pid};
}

std::optional<std::filesystem::path> findClipboardKeeper(const std::filesystem::path& executable) {
  const auto folder = executable.parent_path();
  for (const auto& candidate :
       {folder / "lumivane-clipboard-keeper",
        folder / ".." / "libexec" / "lumivane" / "lumivane-clipboard-keeper"}) {
    std::error_code error;
    if (std::filesystem::is_regular_file(candidate, error))
      return candidate.lexically_normal();
  }
  return std::nullopt;
}

}  // namespace lumivane::platform::x11
