// The colours and label sizes of both windows.
#pragma once

#include <FL/Enumerations.H>

namespace gui {

inline const Fl_Color kWindowBackground = fl_rgb_color(51, 51, 51);
inline const Fl_Color kAboutTextColor = fl_rgb_color(204, 204, 204);
inline const Fl_Color kFieldBackground = fl_rgb_color(0, 0, 0);
inline const Fl_Color kFieldText = fl_rgb_color(119, 119, 119);
inline const Fl_Color kSelection = fl_rgb_color(60, 60, 90);
inline const Fl_Color kToggleDown = fl_rgb_color(236, 196, 150);  // a pressed toggle's face

inline constexpr int kButtonLabelSize = 11;

}  // namespace gui
