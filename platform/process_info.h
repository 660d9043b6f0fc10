#pragma once

#include <string>

namespace lumivane::platform {

struct NSOperatingSystemVersion {
  long majorVersion = 0;
  long minorVersion = 0;
  long patchVersion = 0;
};

// The running process and system (NSProcessInfo processInfo). Any thread.
class ProcessInfo {
 public:
  virtual ~ProcessInfo() = default;
  virtual NSOperatingSystemVersion operatingSystemVersion() const = 0;
  // True when the running system is `version` or later.
  bool isOperatingSystemAtLeastVersion(NSOperatingSystemVersion version) const {
    const auto v = operatingSystemVersion();
    if (v.majorVersion != version.majorVersion)
      return v.majorVersion > version.majorVersion;
    if (v.minorVersion != version.minorVersion)
      return v.minorVersion > version.minorVersion;
    return v.patchVersion >= version.patchVersion;
  }
};

// The process's standard output. Main thread.
class StandardOutput {
 public:
  virtual ~StandardOutput() = default;
  // Writes `text` as it stands; the caller supplies any line break.
  virtual void write(const std::string& text) = 0;
};

}  // namespace lumivane::platform
