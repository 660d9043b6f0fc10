#pragma once

#include <memory>

#include "platform/flutter/flutter_view_controller.h"

namespace lumivane {

// Stand-ins for the interface's plug-ins. Each registers its own channel with
// the registrar it is given and answers the calls the interface makes of it,
// so the interface runs against the host as it would against the real
// plug-ins. A missing registrar is tolerated.

// Device facts ("dev.fluttercommunity.plus/device_info").
struct DeviceInfoPlusMacosPlugin {
  static void registerWithRegistrar(const std::shared_ptr<platform::FlutterPluginRegistrar>& r);
};

// A key-value store kept for the life of the process
// ("plugins.it_nomads.com/flutter_secure_storage").
struct FlutterSecureStorageDarwinPlugin {
  static void registerWithRegistrar(const std::shared_ptr<platform::FlutterPluginRegistrar>& r);
};

// The application's name and version ("dev.fluttercommunity.plus/package_info").
struct FPPPackageInfoPlusPlugin {
  static void registerWithRegistrar(const std::shared_ptr<platform::FlutterPluginRegistrar>& r);
};

// Standard directories ("plugins.flutter.io/path_provider").
struct PathProviderPlugin {
  static void registerWithRegistrar(const std::shared_ptr<platform::FlutterPluginRegistrar>& r);
};

// Opening links ("plugins.flutter.io/url_launcher_macos"); answers whether a
// link could be opened and refuses what is not a web or mail link.
struct UrlLauncherPlugin {
  static void registerWithRegistrar(const std::shared_ptr<platform::FlutterPluginRegistrar>& r);
};

}  // namespace lumivane
