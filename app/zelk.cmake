# SPDX-License-Identifier: GPL-3.0-or-later
# Copyright (C) 2026 The ZELK developers
# The window's command line, a library of its own for the tests.
zelk_library(zelk_window_options app ${CMAKE_CURRENT_LIST_DIR}/window_options.cpp)
target_link_libraries(zelk_window_options PUBLIC zelk_ui)

add_executable(zelk ${CMAKE_CURRENT_LIST_DIR}/main.cpp)
target_compile_definitions(zelk PRIVATE ZELK_VERSION="${PROJECT_VERSION}")
target_link_libraries(zelk PRIVATE zelk_window_options)
