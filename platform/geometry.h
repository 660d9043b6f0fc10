#pragma once

namespace lumivane::platform {

// Core Graphics geometry in points; the origin is the lower-left corner of the
// main screen, as on macOS.
struct CGPoint {
  double x = 0;
  double y = 0;
  friend bool operator==(const CGPoint&, const CGPoint&) = default;
};

struct CGSize {
  double width = 0;
  double height = 0;
  friend bool operator==(const CGSize&, const CGSize&) = default;
};

struct CGRect {
  CGPoint origin;
  CGSize size;
  friend bool operator==(const CGRect&, const CGRect&) = default;
};

inline CGRect CGRectMake(double x, double y, double width, double height) {
  return CGRect{{x, y}, {width, height}};
}

// Width and height of a rectangle; a negative size counts by its magnitude, as
// in Core Graphics.
inline double CGRectGetWidth(const CGRect& r) {
  return r.size.width < 0 ? -r.size.width : r.size.width;
}
inline double CGRectGetHeight(const CGRect& r) {
  return r.size.height < 0 ? -r.size.height : r.size.height;
}

}  // namespace lumivane::platform
