#include "platform/x11/x11_pasteboard_types.h"

#include "platform/utf8.h"

namespace lumivane::platform::x11 {
namespace {

using gtk::fromLatin1;
using gtk::toLatin1;

constexpr char kSeparator = '\x1f';

// The targets text is offered under.
std::vector<NamedTarget> textTargets(const std::string& utf8) {
  auto bytes = std::make_shared<const Bytes>(utf8.begin(), utf8.end());
  std::vector<NamedTarget> targets = {{kUtf8String, kUtf8String, 8, bytes},
                                      {kUtf8Plain, kUtf8Plain, 8, bytes}};
  if (auto latin1 = toLatin1(utf8)) {
    auto shared = std::make_shared<const Bytes>(std::move(*latin1));
    targets.push_back({kLatin1String, kLatin1String, 8, shared});
    targets.push_back({kText, kLatin1String, 8, shared});
  } else {
    targets.push_back({kText, kUtf8String, 8, bytes});
  }
  return targets;
}

}  // namespace

std::string typeString(const std::string& target, const std::string& type, std::uint8_t format) {
  if (type == target && format == 8)
    return target;
  return target + kSeparator + type + kSeparator + std::to_string(format);
}

std::optional<TargetSpec> parseTypeString(const std::string& typeString) {
  if (typeString.empty())
    return std::nullopt;
  const auto first = typeString.find(kSeparator);
  const auto second =
      first == std::string::npos ? std::string::npos : typeString.find(kSeparator, first + 1);
  if (second != std::string::npos && typeString.find(kSeparator, second + 1) == std::string::npos) {
    TargetSpec parsed{typeString.substr(0, first), typeString.substr(first + 1, second - first - 1),
                      0};
    const std::string format = typeString.substr(second + 1);
    if (format == "8" || format == "16" || format == "32")
      parsed.format = static_cast<std::uint8_t>(std::stoi(format));
    if (parsed.format != 0 && !parsed.target.empty() && !parsed.type.empty())
      return parsed;
  }
  return TargetSpec{typeString, typeString, 8};
}

std::optional<std::string> utf8From(std::uint8_t format, const Bytes& data) {
  if (format != 8 || !isValidUtf8(data.data(), data.size()))
    return std::nullopt;
  return std::string(data.begin(), data.end());
}

std::optional<std::string> textFrom(const std::string& type,
                                    std::uint8_t format,
                                    const Bytes& data) {
  if (format == 8 && type == kLatin1String)
    return fromLatin1(data);
  return utf8From(format, data);
}

std::optional<std::vector<NamedTarget>> targetsFor(const std::string& type,
                                                   const std::shared_ptr<const Bytes>& data) {
  if (isText(type)) {
    if (!isValidUtf8(data->data(), data->size()))
      return std::nullopt;
    return textTargets(std::string(data->begin(), data->end()));
  }
  auto parsed = parseTypeString(type);
  if (!parsed || isMetaTarget(parsed->target) || !fitsFormat(data->size(), parsed->format))
    return std::nullopt;
  return std::vector<NamedTarget>{{parsed->target, parsed->type, parsed->format, data}};
}

}  // namespace lumivane::platform::x11
