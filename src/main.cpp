// SPDX-License-Identifier: MIT
#include "app/start.hpp"

int main(int argc, char** argv) {
  return ticklark::app::Run(argc, argv);
}
