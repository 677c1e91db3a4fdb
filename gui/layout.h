// Positions and sizes of the widgets of both windows, in pixels relative to a window's
// inner area. Computed here, without a display, so that the layout can be checked.
#pragma once

namespace gui {

struct Rect {
  int x = 0, y = 0, w = 0, h = 0;
  bool operator==(const Rect&) const = default;
};

struct MainLayout {
  int width = 0;          // the logo's width
  int initial_height = 0; // the height the window is centred for
  int height = 0;         // the final inner height
  Rect logo, about, link_toggle;
  Rect input_field, browse_lua;
  Rect output_field, browse_qp;
  Rect help, compile;
};

// The main window laid out below a logo of the given size.
MainLayout LayOutMainWindow(int logo_width, int logo_height);

struct LogLayout {
  Rect text, close, recompile, watch, open_output;
};

constexpr int kLogInitialWidth = 640;
constexpr int kLogInitialHeight = 250;
// The smallest inner size of a log window that keeps its four buttons apart.
constexpr int kLogMinWidth = 320;
constexpr int kLogMinHeight = 90;

// A log window's widgets for an inner size of w by h.
LogLayout LayOutLogWindow(int w, int h);
// The inner height a new log window is given once its widgets are placed (237).
int LogWindowFinalHeight();

// The top-left corner that centres a window of the given outer size on a screen area.
struct Point {
  int x = 0, y = 0;
  bool operator==(const Point&) const = default;
};
Point CentreOn(int screen_x, int screen_y, int screen_w, int screen_h, int w, int h);

}  // namespace gui
