#include "common/text_format.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <string>

TEST(TextFormat, DisplayFixedScientific) {
  namespace t = velaro::text;
  EXPECT_EQ(t::display(1.0), "1");
  EXPECT_EQ(t::display(0.1), "0.1");
  EXPECT_EQ(t::display(1e-7), "0.0000001");
  EXPECT_EQ(t::display(std::nan("")), "NaN");
  EXPECT_EQ(t::fixed(3.14159265, 4), "3.1416");
  EXPECT_EQ(t::scientific(1.234e-5, 2), "1.23e-5");
  EXPECT_EQ(t::scientific(4.0, 2), "4.00e0");
  EXPECT_EQ(t::scientific(-7.5e12, 2), "-7.50e12");
}

TEST(TextFormat, DisplayReadsBackToTheSameDouble) {
  for (double v : {1.0 / 3.0, -2.5e-9, 6.02214076e23, 0.1 + 0.2, 5e-324, 1.7976931348623157e308}) {
    const std::string s = velaro::text::display(v);
    EXPECT_EQ(s.find('e'), std::string::npos) << s;
    EXPECT_EQ(std::strtod(s.c_str(), nullptr), v) << s;
  }
  EXPECT_EQ(velaro::text::display(-INFINITY), "-inf");
  EXPECT_EQ(velaro::text::printf("%s-%03d", "n", 7), "n-007");
}
