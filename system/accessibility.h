#pragma once

#include "platform/accessibility_trust.h"

namespace lumivane {

// Whether the host may post keyboard events to other applications, asked anew
// each time (the user can grant or revoke it while the host runs). With
// `prompt`, an untrusted host also gets the platform's own prompt. Any thread.
bool checkAccessibility(platform::Accessibility& accessibility, bool prompt);

}  // namespace lumivane
