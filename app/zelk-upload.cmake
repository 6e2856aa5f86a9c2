# SPDX-License-Identifier: GPL-3.0-or-later
# Copyright (C) 2026 The ZELK developers
# The command-line uploader: the same transfer core and port, no Qt.
include(GNUInstallDirs)
add_library(zelk_upload STATIC
  $<IF:$<BOOL:${WIN32}>,upload/main_loop_win32.cpp,upload/main_loop.cpp>
  upload/catalog.cpp
  upload/messages.cpp
  upload/port_choice.cpp
  upload/progress.cpp
  upload/trace.cpp
  upload/upload_options.cpp
  upload/uploader.cpp
)
target_include_directories(zelk_upload PUBLIC ${CMAKE_CURRENT_SOURCE_DIR}/upload)
target_link_libraries(zelk_upload PUBLIC zelk_transfer zelk_serial)
if(WIN32)
  # No gettext on Windows: po/ru.po, compiled by msgfmt as for Linux, goes
  # into the program as bytes (upload/catalog.cpp reads them); text to a
  # console goes out as UTF-16.
  find_program(ZELK_MSGFMT msgfmt REQUIRED)
  set(zelk_ru_mo ${CMAKE_CURRENT_BINARY_DIR}/ru.mo)
  set(zelk_ru_cpp ${CMAKE_CURRENT_BINARY_DIR}/catalog_ru.cpp)
  add_custom_command(OUTPUT ${zelk_ru_cpp}
    COMMAND ${ZELK_MSGFMT} --check --output-file=${zelk_ru_mo} ${PROJECT_SOURCE_DIR}/po/ru.po
    COMMAND ${CMAKE_COMMAND} -DINPUT=${zelk_ru_mo} -DINPUT_NAME=po/ru.po -DOUTPUT=${zelk_ru_cpp}
            -DNAME=kZelkRussianCatalog -P ${PROJECT_SOURCE_DIR}/cmake/EmbedBytes.cmake
    DEPENDS ${PROJECT_SOURCE_DIR}/po/ru.po ${PROJECT_SOURCE_DIR}/cmake/EmbedBytes.cmake
    COMMENT "Compiling po/ru.po into zelk-upload.exe"
    VERBATIM)
  target_sources(zelk_upload PRIVATE ${zelk_ru_cpp} upload/console_win32.cpp)
else()
  # Messages through glibc's gettext; the catalogs are built by po/.
  target_compile_definitions(zelk_upload PUBLIC ZELK_NLS
                             ZELK_INSTALL_LOCALEDIR="${CMAKE_INSTALL_FULL_LOCALEDIR}")
endif()

add_executable(zelk-upload upload/main.cpp)
target_compile_definitions(zelk-upload PRIVATE ZELK_VERSION="${PROJECT_VERSION}")
target_link_libraries(zelk-upload PRIVATE zelk_upload)
if(WIN32)
  # wmain: UTF-16 arguments, whatever the ANSI code page.
  target_link_options(zelk-upload PRIVATE -municode)
endif()
