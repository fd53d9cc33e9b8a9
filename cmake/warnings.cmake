# SPDX-License-Identifier: MIT
# The compiler warnings of every target of ours, in one place: an INTERFACE
# target that each library, executable and test links PRIVATE. Headers of the
# libraries we use come in through imported targets and so as system headers:
# their own warnings stay out of our output.
#
# TICKLARK_WARNINGS_AS_ERRORS turns the warnings into errors. It is off by
# default, so that a newer compiler with new warnings never stops a user's
# build; `make test`, and so continuous integration, turns it on.
option(TICKLARK_WARNINGS_AS_ERRORS "Treat compiler warnings as errors" OFF)

function(ticklark_add_warnings_target name)
  set(common_warnings
      -Wall
      -Wextra
      -Wshadow
      -Wnon-virtual-dtor
      -Wold-style-cast
      -Wcast-align
      -Wunused
      -Woverloaded-virtual
      -Wpedantic
      -Wconversion
      -Wsign-conversion
      -Wnull-dereference
      -Wdouble-promotion
      -Wformat=2
      -Wimplicit-fallthrough)
  set(gcc_warnings
      -Wmisleading-indentation
      -Wduplicated-cond
      -Wduplicated-branches
      -Wlogical-op
      -Wuseless-cast
      -Wsuggest-override)

  if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU")
    set(warnings ${common_warnings} ${gcc_warnings})
  elseif(CMAKE_CXX_COMPILER_ID MATCHES "Clang")
    set(warnings ${common_warnings} -Wsuggest-override)
  else()
    message(AUTHOR_WARNING "No warnings set for the C++ compiler ${CMAKE_CXX_COMPILER_ID}")
    set(warnings "")
  endif()
  if(TICKLARK_WARNINGS_AS_ERRORS)
    list(APPEND warnings -Werror)
  endif()

  add_library(${name} INTERFACE)
  target_compile_options(${name} INTERFACE $<$<COMPILE_LANGUAGE:CXX>:${warnings}>)
  # The library interfaces the code is written against: GTK 4.8, GLib and GIO
  # 2.74, libsoup 3.2, as Debian 12 has them. A newer library's deprecations
  # (GTK 4.18 deprecates its whole X11 interface) then stay silent, and a call
  # newer than these levels is a warning, so what builds on Debian 13 builds on
  # Debian 12. WebKitGTK has no such levels; its deprecations stay warnings.
  target_compile_definitions(${name} INTERFACE
    GDK_VERSION_MIN_REQUIRED=GDK_VERSION_4_8
    GDK_VERSION_MAX_ALLOWED=GDK_VERSION_4_8
    GLIB_VERSION_MIN_REQUIRED=GLIB_VERSION_2_74
    GLIB_VERSION_MAX_ALLOWED=GLIB_VERSION_2_74
    SOUP_VERSION_MIN_REQUIRED=SOUP_VERSION_3_2
    SOUP_VERSION_MAX_ALLOWED=SOUP_VERSION_3_2)
endfunction()
