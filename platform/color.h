#pragma once

namespace lumivane::platform {

// A colour (NSColor) in the sRGB space, components from 0 to 1. A value: colours carry
// no platform resources.
struct Color {
  double red = 0;
  double green = 0;
  double blue = 0;
  double alpha = 1;

  static Color clearColor() { return Color{0, 0, 0, 0}; }
  static Color windowBackgroundColor() { return Color{0.93, 0.93, 0.93, 1}; }

  friend bool operator==(const Color&, const Color&) = default;
};

}  // namespace lumivane::platform
