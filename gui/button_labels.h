// Label sizes for rows of fixed-size buttons.
#pragma once

#include <initializer_list>

class Fl_Widget;

namespace gui {

// Gives every button of `buttons` one label size: the largest up to `largest` at which
// each label fits inside its button's bevel. Needs the display (fonts are measured).
void FitButtonLabels(std::initializer_list<Fl_Widget*> buttons, int largest);

}  // namespace gui
