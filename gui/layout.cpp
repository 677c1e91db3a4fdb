#include "gui/layout.h"

#include <algorithm>

namespace gui {
namespace {

constexpr int kMargin = 5;
constexpr int kButtonWidth = 75;
constexpr int kRowHeight = 22;
constexpr int kAboutHeight = 70;
constexpr int kLinkSize = 20;
constexpr int kFieldX = 30;       // right of the link toggle
constexpr int kLogTextHeight = 200;

}  // namespace

MainLayout LayOutMainWindow(int logo_width, int logo_height) {
  MainLayout l;
  const int w = logo_width;
  l.width = w;
  l.initial_height = logo_height + 400;
  l.logo = {0, 0, logo_width, logo_height};
  int cursor = logo_height + kMargin;

  l.about = {kMargin, cursor, w - 2 * kMargin, kAboutHeight};
  cursor += kAboutHeight + kMargin;

  // The toggle sits between the two path rows, which it links.
  l.link_toggle = {kMargin, cursor + 15, kLinkSize, kLinkSize};

  l.browse_lua = {w - 80, cursor, kButtonWidth, kRowHeight};
  l.input_field = {kFieldX, cursor, w - 115, kRowHeight};
  cursor += kRowHeight + kMargin;

  l.browse_qp = {w - 80, cursor, kButtonWidth, kRowHeight};
  l.output_field = {kFieldX, cursor, w - 115, kRowHeight};
  cursor += kRowHeight + kMargin;

  l.compile = {w - 80, cursor, kButtonWidth, kRowHeight};
  l.help = {w - 160, cursor, kButtonWidth, kRowHeight};
  cursor += kRowHeight + kMargin;

  l.height = cursor;
  return l;
}

LogLayout LayOutLogWindow(int w, int h) {
  LogLayout l;
  const int row = h - 27;
  l.text = {kMargin, kMargin, std::max(0, w - 10), std::max(0, h - 37)};
  l.close = {kMargin, row, kButtonWidth, kRowHeight};
  l.recompile = {w - 80, row, kButtonWidth, kRowHeight};
  l.watch = {w - 160, row, kButtonWidth, kRowHeight};
  l.open_output = {w - 240, row, kButtonWidth, kRowHeight};
  return l;
}

int LogWindowFinalHeight() {
  // Buttons one margin below the text, and one margin below the buttons.
  return kMargin + kLogTextHeight + kMargin + kRowHeight + kMargin;
}

Point CentreOn(int screen_x, int screen_y, int screen_w, int screen_h, int w, int h) {
  // A window larger than the screen starts at the screen's corner rather than off it.
  return {screen_x + std::max(0, (screen_w - w) / 2), screen_y + std::max(0, (screen_h - h) / 2)};
}

}  // namespace gui
