#include <iostream>

#include "headless/cli.h"
#include "headless/interfaces.h"
#include "platform/backends.h"

int main(int argc, char** argv) {
  const auto backends = lumivane::platform::builtInBackends();
  const auto interfaces = lumivane::headless::builtInInterfaces();
  return lumivane::headless::runCommandLine(argc, argv, {std::cin, std::cout, std::cerr}, backends,
                                            interfaces);
}
