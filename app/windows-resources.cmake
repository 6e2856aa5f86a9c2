# SPDX-License-Identifier: GPL-3.0-or-later
# Copyright (C) 2026 The ZELK developers
# The Windows programs' resources: each gets its version resource from the
# one template app/version.rc.in, configured for it; zelk-upload.exe also
# gets the window's icon (made from packaging/zelk.svg in ui_win32/).
set(ZELK_RC_COPYRIGHT
    "Copyright (C) 2026 The ZELK developers. License GPLv3+: GNU GPL version 3 or later (GPL-3.0-or-later)")

# The version resource of target, whose .exe is described as description.
function(zelk_windows_version target description)
  set(ZELK_RC_NAME ${target})
  set(ZELK_RC_DESCRIPTION "${description}")
  set(rc ${CMAKE_CURRENT_BINARY_DIR}/${target}-version.rc)
  configure_file(${CMAKE_CURRENT_FUNCTION_LIST_DIR}/version.rc.in ${rc} @ONLY)
  target_sources(${target} PRIVATE ${rc})
endfunction()

zelk_windows_version(zelk "ZELK: program upload to the Vector-06C's network controller")
zelk_windows_version(zelk-upload "ZELK command-line uploader: a program file to the Vector-06C's network controller")
configure_file(zelk-upload.rc.in ${CMAKE_CURRENT_BINARY_DIR}/zelk-upload.rc @ONLY)
target_sources(zelk-upload PRIVATE ${CMAKE_CURRENT_BINARY_DIR}/zelk-upload.rc)
set_source_files_properties(${CMAKE_CURRENT_BINARY_DIR}/zelk-upload.rc PROPERTIES OBJECT_DEPENDS ${ZELK_ICON})
add_dependencies(zelk-upload zelk_icon)
