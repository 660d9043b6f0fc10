#include <iostream>
#include <memory>

#include "headless/cli.h"

namespace {

// The desktop this process runs on. No backend for a real desktop is built
// yet; when one is (platform/x11, platform/macos), it is opened here and the
// host runs on it instead of the demo.
std::unique_ptr<lumivane::platform::Desktop> openRealDesktop() {
  return nullptr;
}

}  // namespace

int main(int argc, char** argv) {
  return lumivane::headless::runCommandLine(argc, argv, {std::cin, std::cout, std::cerr},
                                            openRealDesktop);
}
