#pragma once

#include <sys/types.h>
#include <xcb/xcb.h>

#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "platform/gtk/application_profiles.h"
#include "platform/x11/x11_connection.h"
#include "platform/x11/x11_ewmh.h"
#include "platform/x11/x11_pasteboard.h"

namespace lumivane::platform::x11 {

// What the host's copy and paste come to in the application at hand, for the
// synthetic keys: the application's profile (gtk/application_profiles.h),
// and the selections its actions go through. The host copies into and pastes
// from the CLIPBOARD; PRIMARY is opened the first time a profile needs it,
// which most sessions never do.
//
// Used under the synthetic keys' lock, one post at a time, on the posting
// thread; the connection and EWMH reader passed in are the keys' own.
class X11ApplicationEdits {
 public:
  // `clipboard` outlives this object.
  X11ApplicationEdits(gtk::ApplicationProfiles profiles,
                      X11Pasteboard& clipboard,
                      std::string displayName);
  ~X11ApplicationEdits();
  X11ApplicationEdits(const X11ApplicationEdits&) = delete;
  X11ApplicationEdits& operator=(const X11ApplicationEdits&) = delete;

  // The profile of the application that made `window` (its process `pid`,
  // 0 when unknown), found by WM_CLASS and the process's name. Absent when
  // no entry names it: the host's own chords suit it.
  std::optional<gtk::ApplicationProfile> profileFor(XcbConnection& connection,
                                                    xcb_window_t window,
                                                    pid_t pid) const;

  // Copies the selection of an application that keeps it in PRIMARY, as its
  // own copy would: when a window of process `pid` owns PRIMARY, its text
  // goes on the clipboard the host has just emptied. Nothing happens when
  // another client, or nobody, owns PRIMARY.
  void copyFromPrimary(XcbConnection& connection, Ewmh& ewmh, pid_t pid);

  X11Pasteboard& clipboard() { return clipboard_; }
  // PRIMARY, opened on first use; null when it cannot be.
  X11Pasteboard* primary();

 private:
  const gtk::ApplicationProfiles profiles_;
  X11Pasteboard& clipboard_;
  const std::string displayName_;
  std::unique_ptr<X11Pasteboard> primary_;
};

}  // namespace lumivane::platform::x11
