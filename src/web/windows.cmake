# SPDX-License-Identifier: MIT
# The windows built on the panes: the navigation bar and the site windows.
add_library(ticklark_web_windows STATIC navigation_bar.cpp site_form.cpp)
add_library(ticklark::web_windows ALIAS ticklark_web_windows)
target_include_directories(ticklark_web_windows PUBLIC ${CMAKE_SOURCE_DIR}/src)
target_link_libraries(ticklark_web_windows
  PUBLIC ticklark::web_panes ticklark::ui
  PRIVATE ticklark::warnings)
