#include "shell/plugins/plugins.h"

#include <map>
#include <string>

#include "platform/flutter/method_channel.h"

namespace lumivane {
namespace {

using platform::EncodableMap;
using platform::EncodableValue;
using platform::FlutterMethodCall;
using platform::FlutterResult;

std::shared_ptr<platform::FlutterMethodChannel> openChannel(
    const std::shared_ptr<platform::FlutterPluginRegistrar>& registrar,
    const std::string& name) {
  if (!registrar)
    return nullptr;
  return platform::FlutterMethodChannel::methodChannelWithName(name, registrar->messenger());
}

const std::string* stringArgument(const FlutterMethodCall& call, const char* key) {
  const auto* map = std::get_if<EncodableMap>(&call.arguments());
  if (!map)
    return nullptr;
  auto it = map->find(EncodableValue(std::string(key)));
  return it == map->end() ? nullptr : std::get_if<std::string>(&it->second);
}

}  // namespace

void DeviceInfoPlusMacosPlugin::registerWithRegistrar(
    const std::shared_ptr<platform::FlutterPluginRegistrar>& registrar) {
  auto channel = openChannel(registrar, "dev.fluttercommunity.plus/device_info");
  if (!channel)
    return;
  channel->setMethodCallHandler([](const FlutterMethodCall& call, FlutterResult result) {
    if (call.method() != "getDeviceInfo")
      return result(platform::FlutterMethodNotImplemented);
    result(EncodableValue(EncodableMap{
        {EncodableValue("computerName"), EncodableValue("Lumivane host")},
        {EncodableValue("model"), EncodableValue("Mac")},
        {EncodableValue("osRelease"), EncodableValue("macOS")},
    }));
  });
}

void FlutterSecureStorageDarwinPlugin::registerWithRegistrar(
    const std::shared_ptr<platform::FlutterPluginRegistrar>& registrar) {
  auto channel = openChannel(registrar, "plugins.it_nomads.com/flutter_secure_storage");
  if (!channel)
    return;
  auto store = std::make_shared<std::map<std::string, std::string>>();
  channel->setMethodCallHandler([store](const FlutterMethodCall& call, FlutterResult result) {
    const std::string& method = call.method();
    const std::string* key = stringArgument(call, "key");
    if (method == "write") {
      const std::string* value = stringArgument(call, "value");
      if (!key || !value) {
        return result(platform::FlutterError("INVALID_ARGUMENT", "key and value required"));
      }
      (*store)[*key] = *value;
      return result(EncodableValue());
    }
    if (method == "read") {
      if (!key)
        return result(platform::FlutterError("INVALID_ARGUMENT", "key required"));
      auto it = store->find(*key);
      return result(it == store->end() ? EncodableValue() : EncodableValue(it->second));
    }
    if (method == "containsKey") {
      return result(EncodableValue(key != nullptr && store->count(*key) > 0));
    }
    if (method == "delete") {
      if (key)
        store->erase(*key);
      return result(EncodableValue());
    }
    if (method == "readAll") {
      EncodableMap all;
      for (const auto& [k, v] : *store)
        all[EncodableValue(k)] = EncodableValue(v);
      return result(EncodableValue(std::move(all)));
    }
    if (method == "deleteAll") {
      store->clear();
      return result(EncodableValue());
    }
    result(platform::FlutterMethodNotImplemented);
  });
}

void FPPPackageInfoPlusPlugin::registerWithRegistrar(
    const std::shared_ptr<platform::FlutterPluginRegistrar>& registrar) {
  auto channel = openChannel(registrar, "dev.fluttercommunity.plus/package_info");
  if (!channel)
    return;
  channel->setMethodCallHandler([](const FlutterMethodCall& call, FlutterResult result) {
    if (call.method() != "getAll")
      return result(platform::FlutterMethodNotImplemented);
    result(EncodableValue(EncodableMap{
        {EncodableValue("appName"), EncodableValue("Lumivane")},
        {EncodableValue("packageName"), EncodableValue("com.lumivane.app")},
        {EncodableValue("version"), EncodableValue("1.0.0")},
        {EncodableValue("buildNumber"), EncodableValue("1")},
    }));
  });
}

void PathProviderPlugin::registerWithRegistrar(
    const std::shared_ptr<platform::FlutterPluginRegistrar>& registrar) {
  auto channel = openChannel(registrar, "plugins.flutter.io/path_provider");
  if (!channel)
    return;
  channel->setMethodCallHandler([](const FlutterMethodCall& call, FlutterResult result) {
    static const std::map<std::string, std::string> kDirectories = {
        {"getTemporaryDirectory", "/tmp/com.lumivane.app"},
        {"getApplicationSupportDirectory", "~/Library/Application Support/com.lumivane.app"},
        {"getApplicationDocumentsDirectory", "~/Documents"},
        {"getApplicationCacheDirectory", "~/Library/Caches/com.lumivane.app"},
        {"getDownloadsDirectory", "~/Downloads"},
    };
    auto it = kDirectories.find(call.method());
    if (it == kDirectories.end())
      return result(platform::FlutterMethodNotImplemented);
    result(EncodableValue(it->second));
  });
}

void UrlLauncherPlugin::registerWithRegistrar(
    const std::shared_ptr<platform::FlutterPluginRegistrar>& registrar) {
  auto channel = openChannel(registrar, "plugins.flutter.io/url_launcher_macos");
  if (!channel)
    return;
  channel->setMethodCallHandler([](const FlutterMethodCall& call, FlutterResult result) {
    if (call.method() != "canLaunch" && call.method() != "launch") {
      return result(platform::FlutterMethodNotImplemented);
    }
    const std::string* url = stringArgument(call, "url");
    if (!url)
      return result(platform::FlutterError("INVALID_ARGUMENT", "url required"));
    const bool openable = url->rfind("https://", 0) == 0 || url->rfind("http://", 0) == 0 ||
                          url->rfind("mailto:", 0) == 0;
    result(EncodableValue(openable));
  });
}

}  // namespace lumivane
