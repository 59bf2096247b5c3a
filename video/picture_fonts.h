// Fonts of the still pictures: one Pango font map for the process and the
// family list each typeface is drawn with. Pango's default font map is per
// thread, and every web or ONVIF connection is a thread of its own, so the
// one map is used under one mutex (TextLock): layouts are made, drawn and
// released while it is held. No other lock is taken while holding it.
#pragma once

#include <mutex>
#include <string>

#include "video/cairo_handles.h"

namespace lcx {

// The pictures' designed families: "Segoe UI" for the paused picture,
// "Arial" for the web preview's card.
enum class Typeface { kPicture, kCard };

// The Pango family list a typeface is drawn with: its designed family when
// this machine really has that family, then Noto Sans for Latin and DejaVu
// Sans for Arabic (the fonts the project's packages install). Fontconfig's
// stand-ins for an absent family (Liberation Sans for Arial, say) are never
// used, so the pictures look the same whatever other fonts are installed.
const std::string& FamilyList(Typeface face);

// Holds the font map's mutex for its lifetime.
class TextLock {
 public:
  TextLock();

 private:
  std::lock_guard<std::mutex> lock_;
};

// A layout for drawing on `cr` in `face` at `size_px` (absolute pixels):
// grey-scale anti-aliased with unhinted outlines, so sizes and positions
// scale exactly with the picture; base direction `dir`, never guessed from
// the text. Release it before the lock.
LayoutPtr NewLayout(const TextLock& lock, cairo_t* cr, Typeface face, double size_px, bool bold,
                    PangoDirection dir);

}  // namespace lcx
