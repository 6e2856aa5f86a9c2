# SPDX-License-Identifier: GPL-3.0-or-later
# Copyright (C) 2026 The ZELK developers
# cmake -DSTAMP=FILE -P CheckToolkitFree.cmake SOURCE...
# Fails when a source includes a GUI toolkit's or the Windows API's headers:
# Qt (<Q...>, <Qt...>) or anything of <windows.h>'s family.
set(bad "")
math(EXPR last "${CMAKE_ARGC} - 1")
foreach(i RANGE 0 ${last})
  set(arg "${CMAKE_ARGV${i}}")
  if(NOT arg MATCHES "\\.(h|cpp)$")
    continue()
  endif()
  file(STRINGS "${arg}" includes REGEX "^[ \t]*#[ \t]*include[ \t]*[<\"]")
  foreach(line IN LISTS includes)
    if(line MATCHES "[<\"](Q[A-Za-z]*|Qt[A-Za-z]*/[^>\"]*|windows\\.h|windef\\.h|winbase\\.h|winuser\\.h|commctrl\\.h|commdlg\\.h|shellapi\\.h|wingdi\\.h)[>\"]")
      string(APPEND bad "  ${arg}: ${line}\n")
    endif()
  endforeach()
endforeach()
if(bad)
  message(FATAL_ERROR "the window's logic must not include a toolkit's headers:\n${bad}")
endif()
file(TOUCH "${STAMP}")
