#include "platform/x11/x11_clipboard_keeper.h"

#include <unistd.h>

#include <algorithm>

#include "platform/gtk/clipboard_keeper.h"
#include "platform/x11/x11_selection_owner.h"

namespace lumivane::platform::x11 {

int keepClipboard(const std::string& displayName, std::vector<NamedTarget> targets) {
  std::string error;
  auto window = SelectionWindow::open(displayName, &error);
  if (!window)
    return 3;
  std::vector<std::string> names;
  for (const auto& target : targets) {
    names.push_back(target.target);
    names.push_back(target.type);
  }
  names.emplace_back("CLIPBOARD");
  const auto atoms = window->connection().atoms(names);
  if (std::find(atoms.begin(), atoms.end(), XCB_ATOM_NONE) != atoms.end())
    return 3;
  auto offered = std::make_shared<OfferedTargets>();
  for (std::size_t i = 0; i < targets.size(); ++i) {
    auto& target = targets[i];
    offered->push_back({atoms[2 * i], atoms[2 * i + 1], target.format, std::move(target.data)});
  }
  targets.clear();

  SelectionOwner owner(*window, atoms.back(), SelectionOwner::Bounds{});
  const auto time = window->serverTime();
  if (!time || !owner.claim(std::move(offered), *time))
    return 3;
  gtk::reportKeeperOwns(STDOUT_FILENO);

  // Serve until another client has the clipboard and every transfer asked
  // for before that has ended, or the server has gone.
  for (;;) {
    while (auto event = window->nextEvent())
      owner.handle(*event);
    owner.expire(SteadyClock::now());
    if (!window->alive() || (!owner.owns() && !owner.transferring()))
      return 0;
    window->wait(owner.nextDeadline(), -1);
  }
}

}  // namespace lumivane::platform::x11
