// SPDX-License-Identifier: MIT
#include <gtest/gtest.h>

#include "support/gtk_fixture.hpp"

int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  // Listing the tests (at build time, without a display) needs no GTK.
  if (!::testing::GTEST_FLAG(list_tests)) {
    ticklark::test::InitGtkOnce();
  }
  return RUN_ALL_TESTS();
}
