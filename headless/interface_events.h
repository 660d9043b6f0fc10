#pragma once

#include <string>

#include <nlohmann/json.hpp>

#include "headless/scenario.h"
#include "platform/flutter/interface_peer.h"
#include "platform/pasteboard.h"

namespace lumivane::headless {

// How the interface's side of the channels is reported, the same in a
// headless session and on the console of a real desktop.

// The channel's id ("com.lumivane.app/selection") and short name ("selection").
const char* channelId(ChannelName channel);
const char* channelName(ChannelName channel);

// The fields of a "reply" event: {"channel","method"} and "result", "error"
// {"code","message"}, or the kind of answer it was not.
nlohmann::ordered_json replyFields(ChannelName channel,
                                   const std::string& method,
                                   const platform::PeerReply& reply);

// A call the host made to the interface: its event name ("updateSelection"
// with {"text"}, otherwise "call" with {"channel","method","arguments"}) and
// fields.
std::pair<std::string, nlohmann::ordered_json> interfaceCallEvent(
    const platform::ReceivedCall& call);

// The "items" of a "pasteboard" event for a pasteboard of the seam: null when
// it gives no item list, else one object per item from type to content, as
// pasteboardJson writes them. Reads every type of every item.
nlohmann::ordered_json pasteboardItemsJson(platform::Pasteboard& pasteboard);

}  // namespace lumivane::headless
