// Throughput of the standard method codec on the calls the host exchanges
// with the interface: selected text of ordinary and very large size, and a
// settings-sized map of mixed values.

#include <benchmark/benchmark.h>

#include <string>

#include "platform/flutter/standard_codec.h"

namespace lumivane::platform {
namespace {

// Mostly ASCII with some multi-byte characters, like real prose.
std::string text(std::size_t bytes) {
  const std::string sample = "The quick brown fox \xE2\x80\x94 caf\xC3\xA9 na\xC3\xAFve. ";
  std::string out;
  while (out.size() + sample.size() <= bytes) {
    out += sample;
  }
  out.append(bytes - out.size(), 'x');
  return out;
}

FlutterMethodCall textCall(std::size_t bytes) {
  return FlutterMethodCall("updateSelection", EncodableMap{{"text", text(bytes)}});
}

FlutterMethodCall mapCall() {
  EncodableMap map;
  for (int i = 0; i < 1000; ++i) {
    std::string key = "setting." + std::to_string(i);
    switch (i % 5) {
      case 0:
        map[EncodableValue(key)] = i;
        break;
      case 1:
        map[EncodableValue(key)] = i * 0.5;
        break;
      case 2:
        map[EncodableValue(key)] = "value " + std::to_string(i);
        break;
      case 3:
        map[EncodableValue(key)] = (i % 2) == 0;
        break;
      default:
        map[EncodableValue(key)] = EncodableList{i, std::int64_t{1} << 40, "x"};
        break;
    }
  }
  return FlutterMethodCall("applySettings", std::move(map));
}

void encode(benchmark::State& state, const FlutterMethodCall& call) {
  const auto& codec = StandardMethodCodec::sharedInstance();
  std::size_t size = codec.encodeMethodCall(call).size();
  for (auto _ : state) {  // NOLINT(clang-analyzer-deadcode.DeadStores)
    auto bytes = codec.encodeMethodCall(call);
    benchmark::DoNotOptimize(bytes.data());
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * size));
}

void decode(benchmark::State& state, const FlutterMethodCall& call) {
  const auto& codec = StandardMethodCodec::sharedInstance();
  const auto bytes = codec.encodeMethodCall(call);
  for (auto _ : state) {  // NOLINT(clang-analyzer-deadcode.DeadStores)
    auto decoded = codec.decodeMethodCall(bytes);
    benchmark::DoNotOptimize(decoded);
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * bytes.size()));
}

void BM_EncodeText4KiB(benchmark::State& state) {
  encode(state, textCall(std::size_t{4} * 1024));
}
void BM_DecodeText4KiB(benchmark::State& state) {
  decode(state, textCall(std::size_t{4} * 1024));
}
void BM_EncodeText1MiB(benchmark::State& state) {
  encode(state, textCall(std::size_t{1024} * 1024));
}
void BM_DecodeText1MiB(benchmark::State& state) {
  decode(state, textCall(std::size_t{1024} * 1024));
}
void BM_EncodeMap1000(benchmark::State& state) {
  encode(state, mapCall());
}
void BM_DecodeMap1000(benchmark::State& state) {
  decode(state, mapCall());
}

BENCHMARK(BM_EncodeText4KiB);
BENCHMARK(BM_DecodeText4KiB);
BENCHMARK(BM_EncodeText1MiB);
BENCHMARK(BM_DecodeText1MiB);
BENCHMARK(BM_EncodeMap1000);
BENCHMARK(BM_DecodeMap1000);

}  // namespace
}  // namespace lumivane::platform
