// The program's built-in PNG pictures, embedded at build time from gui/images/.
#pragma once

#include <cstddef>

extern const unsigned char akqp_logo_png[];   // 450 x 156, the top of the main window
extern const size_t akqp_logo_png_size;
extern const unsigned char akqp_link_png[];   // 16 x 16, the face of the link toggle
extern const size_t akqp_link_png_size;
