#include <iostream>

#include "headless/cli.h"
#include "platform/backends.h"

int main(int argc, char** argv) {
  const auto backends = lumivane::platform::builtInBackends();
  return lumivane::headless::runCommandLine(argc, argv, {std::cin, std::cout, std::cerr}, backends);
}
