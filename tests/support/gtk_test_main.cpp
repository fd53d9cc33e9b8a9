// SPDX-License-Identifier: MIT
#include <gtest/gtest.h>

#include "support/gtk_fixture.hpp"

int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  ticklark::test::InitGtkOnce();
  return RUN_ALL_TESTS();
}
