# SPDX-License-Identifier: GPL-3.0-or-later
# Copyright (C) 2026 The ZELK developers
add_executable(zelk ${CMAKE_CURRENT_LIST_DIR}/main.cpp)
target_compile_definitions(zelk PRIVATE ZELK_VERSION="${PROJECT_VERSION}")
target_link_libraries(zelk PRIVATE zelk_ui)
