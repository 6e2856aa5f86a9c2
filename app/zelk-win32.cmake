# SPDX-License-Identifier: GPL-3.0-or-later
# Copyright (C) 2026 The ZELK developers
# zelk.exe: the window's Win32 face, a GUI program with wmain (-municode),
# linked statically like zelk-upload.exe.
add_executable(zelk WIN32 ${CMAKE_CURRENT_LIST_DIR}/main_win32.cpp)
target_link_libraries(zelk PRIVATE zelk_ui_win32 zelk_win32_resources)
target_link_options(zelk PRIVATE -municode)
