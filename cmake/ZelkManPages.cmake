# SPDX-License-Identifier: GPL-3.0-or-later
# Copyright (C) 2026 The ZELK developers
# zelk(1), zelk-upload(1), zelk-emu(1): help2man runs each built program with
# --help and --version and adds packaging/man/<program>.h2m; the pages are
# gzipped as Debian keeps them. The pages are English, whatever the builder's locale. Built with everything in a plain build; in a
# sanitizer build only on request (target zelk_man_pages).
find_program(ZELK_HELP2MAN help2man)
find_program(ZELK_GZIP gzip)
if(NOT ZELK_HELP2MAN OR NOT ZELK_GZIP)
  message(WARNING "help2man or gzip not found: no manual pages (scripts/setup.sh installs them)")
  return()
endif()

set(zelk_man_summary_zelk "the ZELK uploader's window, for the Vector-06C")
set(zelk_man_summary_zelk-upload "upload a program to the ZELK controller of a Vector-06C")
set(zelk_man_summary_zelk-emu "emulated ZELK network controller of a Vector-06C")

# help2man dates the page by SOURCE_DATE_EPOCH when it is set.
set(zelk_man_date)
if(ZELK_SOURCE_DATE_EPOCH)
  set(zelk_man_date SOURCE_DATE_EPOCH=${ZELK_SOURCE_DATE_EPOCH})
endif()
set(zelk_man_pages)
foreach(program IN LISTS zelk_programs)
  set(page ${CMAKE_CURRENT_BINARY_DIR}/${program}.1)
  set(include ${PROJECT_SOURCE_DIR}/packaging/man/${program}.h2m)
  add_custom_command(OUTPUT ${page}.gz
    COMMAND ${CMAKE_COMMAND} -E env LC_ALL=C LANGUAGE= ${zelk_man_date} ${ZELK_HELP2MAN} --no-info --section=1 "--name=${zelk_man_summary_${program}}"
            --include=${include} --output=${page} $<TARGET_FILE:${program}>
    COMMAND ${ZELK_GZIP} -9nf ${page}
    DEPENDS ${program} ${include}
    COMMENT "Manual page ${program}(1)"
    VERBATIM)
  list(APPEND zelk_man_pages ${page}.gz)
endforeach()

if(ZELK_SANITIZE STREQUAL "")
  add_custom_target(zelk_man_pages ALL DEPENDS ${zelk_man_pages})
else()
  add_custom_target(zelk_man_pages DEPENDS ${zelk_man_pages})
endif()
install(FILES ${zelk_man_pages} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
