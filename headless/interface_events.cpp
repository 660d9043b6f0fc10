#include "headless/interface_events.h"

#include "bridge/channel_handlers.h"
#include "headless/event_log.h"

namespace lumivane::headless {

using Json = nlohmann::ordered_json;

const char* channelId(ChannelName channel) {
  return channel == ChannelName::selection ? kSelectionChannelName : kSystemChannelName;
}

const char* channelName(ChannelName channel) {
  return channel == ChannelName::selection ? "selection" : "system";
}

Json replyFields(ChannelName channel, const std::string& method, const platform::PeerReply& reply) {
  Json fields{{"channel", channelName(channel)}, {"method", method}};
  switch (reply.kind) {
    case platform::PeerReply::Kind::success:
      fields["result"] = toJson(reply.value);
      break;
    case platform::PeerReply::Kind::error:
      fields["error"] =
          Json{{"code", reply.code}, {"message", reply.message ? Json(*reply.message) : Json()}};
      break;
    case platform::PeerReply::Kind::notImplemented:
      fields["notImplemented"] = true;
      break;
    case platform::PeerReply::Kind::unanswered:
      fields["unanswered"] = true;
      break;
    case platform::PeerReply::Kind::malformed:
      fields["malformed"] = true;
      break;
  }
  return fields;
}

std::pair<std::string, Json> interfaceCallEvent(const platform::ReceivedCall& call) {
  const bool selection = call.channel == kSelectionChannelName;
  if (selection && call.method == "updateSelection")
    return {"updateSelection", Json{{"text", toJson(call.arguments)}}};
  return {"call", Json{{"channel", selection ? "selection" : "system"},
                       {"method", call.method},
                       {"arguments", toJson(call.arguments)}}};
}

Json pasteboardItemsJson(platform::Pasteboard& pasteboard) {
  auto items = pasteboard.pasteboardItems();
  if (!items)
    return pasteboardJson(std::nullopt);
  std::vector<platform::sim::SimPasteboardItemContents> contents;
  contents.reserve(items->size());
  for (const auto& item : *items) {
    platform::sim::SimPasteboardItemContents entries;
    for (const auto& type : item->types())
      entries.push_back({type, item->dataForType(type)});
    contents.push_back(std::move(entries));
  }
  return pasteboardJson(contents);
}

}  // namespace lumivane::headless
