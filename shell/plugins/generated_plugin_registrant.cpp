#include "shell/plugins/generated_plugin_registrant.h"

#include "shell/plugins/plugins.h"

namespace lumivane {

void RegisterGeneratedPlugins(platform::FlutterPluginRegistry& registry) {
  DeviceInfoPlusMacosPlugin::registerWithRegistrar(
      registry.registrarForPlugin("DeviceInfoPlusMacosPlugin"));
  FlutterSecureStorageDarwinPlugin::registerWithRegistrar(
      registry.registrarForPlugin("FlutterSecureStorageDarwinPlugin"));
  FPPPackageInfoPlusPlugin::registerWithRegistrar(
      registry.registrarForPlugin("FPPPackageInfoPlusPlugin"));
  PathProviderPlugin::registerWithRegistrar(registry.registrarForPlugin("PathProviderPlugin"));
  UrlLauncherPlugin::registerWithRegistrar(registry.registrarForPlugin("UrlLauncherPlugin"));
}

}  // namespace lumivane
