#include "platform/wayland/wayland_pasteboard_types.h"

#include "platform/utf8.h"

namespace lumivane::platform::wayland {
namespace {

// The longest type name the clipboard keeper takes over.
constexpr std::size_t kMaxTypeBytes = 4096;

}  // namespace

std::optional<OfferedTypes> offeredTypesFor(const std::string& type,
                                            const std::shared_ptr<const Bytes>& data) {
  if (!gtk::isText(type)) {
    if (type.empty() || type.size() > kMaxTypeBytes || type.find('\0') != std::string::npos)
      return std::nullopt;
    return OfferedTypes{{type, data}};
  }
  if (!isValidUtf8(data->data(), data->size()))
    return std::nullopt;
  OfferedTypes types = {{gtk::kUtf8Plain, data}, {gtk::kUtf8String, data}, {gtk::kPlainText, data}};
  if (auto latin1 = gtk::toLatin1(std::string(data->begin(), data->end())))
    types.push_back({gtk::kLatin1String, std::make_shared<const Bytes>(std::move(*latin1))});
  types.push_back({gtk::kText, data});
  return types;
}

std::optional<std::string> textFrom(const std::string& mimeType, const Bytes& data) {
  if (mimeType == gtk::kLatin1String)
    return gtk::fromLatin1(data);
  if (!isValidUtf8(data.data(), data.size()))
    return std::nullopt;
  return std::string(data.begin(), data.end());
}

}  // namespace lumivane::platform::wayland
