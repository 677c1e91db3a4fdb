#include "gui/layout.h"

#include <gtest/gtest.h>

namespace gui {
namespace {

TEST(MainLayoutTest, PlacesTheRowsBelowTheBuiltInLogo) {
  const MainLayout l = LayOutMainWindow(450, 156);
  EXPECT_EQ(l.width, 450);
  EXPECT_EQ(l.initial_height, 556);
  EXPECT_EQ(l.height, 317);
  EXPECT_EQ(l.logo, (Rect{0, 0, 450, 156}));
  EXPECT_EQ(l.about, (Rect{5, 161, 440, 70}));
  EXPECT_EQ(l.link_toggle, (Rect{5, 251, 20, 20}));
  EXPECT_EQ(l.input_field, (Rect{30, 236, 335, 22}));
  EXPECT_EQ(l.browse_lua, (Rect{370, 236, 75, 22}));
  EXPECT_EQ(l.output_field, (Rect{30, 263, 335, 22}));
  EXPECT_EQ(l.browse_qp, (Rect{370, 263, 75, 22}));
  EXPECT_EQ(l.help, (Rect{290, 290, 75, 22}));
  EXPECT_EQ(l.compile, (Rect{370, 290, 75, 22}));
}

TEST(MainLayoutTest, FollowsTheLogosSize) {
  const MainLayout l = LayOutMainWindow(600, 100);
  EXPECT_EQ(l.about, (Rect{5, 105, 590, 70}));
  EXPECT_EQ(l.input_field.y, 180);
  EXPECT_EQ(l.input_field.w, 485);
  EXPECT_EQ(l.compile, (Rect{520, 234, 75, 22}));
  EXPECT_EQ(l.height, 261);
}

TEST(LogLayoutTest, StartsAt640By237) {
  EXPECT_EQ(LogWindowFinalHeight(), 237);
  const LogLayout l = LayOutLogWindow(kLogInitialWidth, LogWindowFinalHeight());
  EXPECT_EQ(l.text, (Rect{5, 5, 630, 200}));
  EXPECT_EQ(l.close, (Rect{5, 210, 75, 22}));
  EXPECT_EQ(l.recompile, (Rect{560, 210, 75, 22}));
  EXPECT_EQ(l.watch, (Rect{480, 210, 75, 22}));
  EXPECT_EQ(l.open_output, (Rect{400, 210, 75, 22}));
}

TEST(LogLayoutTest, TextGrowsAndButtonsFollowTheCorners) {
  const LogLayout l = LayOutLogWindow(1000, 700);
  EXPECT_EQ(l.text, (Rect{5, 5, 990, 663}));
  EXPECT_EQ(l.close, (Rect{5, 673, 75, 22}));
  EXPECT_EQ(l.recompile, (Rect{920, 673, 75, 22}));
  EXPECT_EQ(l.watch, (Rect{840, 673, 75, 22}));
  EXPECT_EQ(l.open_output, (Rect{760, 673, 75, 22}));
}

TEST(LogLayoutTest, SmallestSizeKeepsButtonsApartAndTextSizesValid) {
  const LogLayout l = LayOutLogWindow(kLogMinWidth, kLogMinHeight);
  EXPECT_GE(l.open_output.x, l.close.x + l.close.w);
  EXPECT_GE(l.text.h, 0);
  const LogLayout tiny = LayOutLogWindow(4, 10);
  EXPECT_EQ(tiny.text.w, 0);
  EXPECT_EQ(tiny.text.h, 0);
}

TEST(CentreOnTest, CentresAndKeepsLargeWindowsOnScreen) {
  EXPECT_EQ(CentreOn(0, 0, 1024, 768, 450, 556), (Point{287, 106}));
  EXPECT_EQ(CentreOn(100, 20, 1000, 800, 640, 250), (Point{280, 295}));
  EXPECT_EQ(CentreOn(0, 0, 400, 300, 640, 556), (Point{0, 0}));
}

}  // namespace
}  // namespace gui
