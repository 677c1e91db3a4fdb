#include "gui/button_labels.h"

#include <FL/Fl.H>
#include <FL/Fl_Widget.H>
#include <FL/fl_draw.H>

#include <algorithm>

namespace gui {
namespace {

constexpr int kSmallestLabel = 8;
constexpr int kAir = 2;  // free pixels between the label's ink and the bevel, each side

bool Fits(const Fl_Widget* button, int size) {
  if (button->label() == nullptr) return true;
  fl_font(button->labelfont(), size);
  const int room = button->w() - 2 * (Fl::box_dx(button->box()) + kAir);
  // The ink can reach past the advance width by a pixel; measure the ink where we can.
  int dx = 0, dy = 0, w = 0, h = 0;
  fl_text_extents(button->label(), dx, dy, w, h);
  const int ink = std::max(w + (dx > 0 ? dx : 0), static_cast<int>(fl_width(button->label()) + 0.5));
  return ink <= room;
}

}  // namespace

void FitButtonLabels(std::initializer_list<Fl_Widget*> buttons, int largest) {
  int size = largest;
  while (size > kSmallestLabel) {
    bool all = true;
    for (const Fl_Widget* b : buttons) all = all && Fits(b, size);
    if (all) break;
    --size;
  }
  for (Fl_Widget* b : buttons) b->labelsize(size);
}

}  // namespace gui
