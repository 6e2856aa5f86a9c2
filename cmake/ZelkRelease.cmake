# SPDX-License-Identifier: GPL-3.0-or-later
# Copyright (C) 2026 The ZELK developers
# What makes a release reproducible, and the source tarball.
#
# ZELK_SOURCE_DATE_EPOCH: the one time stamp every generated file carries
# (manual pages, the Debian changelog, archive members): SOURCE_DATE_EPOCH
# from the environment when set, else the last commit's time, else the one
# recorded in a source tarball (its file source-date-epoch). It is taken at
# configure time; scripts/package.sh and scripts/windows-zip.sh configure on
# every run.
#
# ZELK_REPRODUCIBLE (the package and mingw presets): no build folder in the binaries.
#
#   cmake --build <dir> --target dist    makes <dir>/zelk-<version>.tar.gz
option(ZELK_REPRODUCIBLE "Map the source and build folders out of the binaries" OFF)

set(ZELK_SOURCE_DATE_EPOCH "")
find_package(Git QUIET)
if(DEFINED ENV{SOURCE_DATE_EPOCH} AND NOT "$ENV{SOURCE_DATE_EPOCH}" STREQUAL "")
  set(ZELK_SOURCE_DATE_EPOCH "$ENV{SOURCE_DATE_EPOCH}")
  set(zelk_epoch_from "the environment")
else()
  if(GIT_EXECUTABLE)
    # Only this project's own repository, not one that happens to hold the folder.
    execute_process(COMMAND ${GIT_EXECUTABLE} rev-parse --show-toplevel
      WORKING_DIRECTORY ${PROJECT_SOURCE_DIR} OUTPUT_VARIABLE zelk_git_top
      OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET RESULT_VARIABLE zelk_git_status)
    if(zelk_git_status EQUAL 0)
      file(REAL_PATH "${zelk_git_top}" zelk_git_top)
      file(REAL_PATH "${PROJECT_SOURCE_DIR}" zelk_source_real)
    endif()
    if(zelk_git_status EQUAL 0 AND zelk_git_top STREQUAL zelk_source_real)
      execute_process(COMMAND ${GIT_EXECUTABLE} log -1 --format=%ct
        WORKING_DIRECTORY ${PROJECT_SOURCE_DIR} OUTPUT_VARIABLE ZELK_SOURCE_DATE_EPOCH
        OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET)
      set(zelk_epoch_from "the last commit")
    endif()
  endif()
  if(ZELK_SOURCE_DATE_EPOCH STREQUAL "" AND EXISTS ${PROJECT_SOURCE_DIR}/source-date-epoch)
    file(STRINGS ${PROJECT_SOURCE_DIR}/source-date-epoch ZELK_SOURCE_DATE_EPOCH LIMIT_COUNT 1)
    set(zelk_epoch_from "source-date-epoch")
  endif()
endif()
if(NOT ZELK_SOURCE_DATE_EPOCH MATCHES "^[0-9]+$")
  message(WARNING "No SOURCE_DATE_EPOCH, no git history and no source-date-epoch file: "
                  "generated files carry the time they are made")
  set(ZELK_SOURCE_DATE_EPOCH "")
else()
  message(STATUS "SOURCE_DATE_EPOCH ${ZELK_SOURCE_DATE_EPOCH} (from ${zelk_epoch_from})")
endif()
# For the checks (scripts/check-release.sh): the time stamp this build used.
file(CONFIGURE OUTPUT ${PROJECT_BINARY_DIR}/source-date-epoch CONTENT "${ZELK_SOURCE_DATE_EPOCH}\n")

if(ZELK_REPRODUCIBLE)
  # GCC tries the last -ffile-prefix-map first: the build folder, which may
  # lie inside the source folder, before the source folder.
  add_compile_options(-ffile-prefix-map=${PROJECT_SOURCE_DIR}=.
                      -ffile-prefix-map=${PROJECT_BINARY_DIR}=build)
endif()

# The source tarball: exactly the files git tracks, as they are in the work
# tree, plus source-date-epoch; owner, order and times fixed, so that the same
# tree gives the same bytes.
if(GIT_EXECUTABLE AND ZELK_SOURCE_DATE_EPOCH)
  set(zelk_dist ${PROJECT_BINARY_DIR}/zelk-${PROJECT_VERSION}.tar.gz)
  add_custom_target(dist
    COMMAND ${CMAKE_COMMAND} -E env SOURCE_DATE_EPOCH=${ZELK_SOURCE_DATE_EPOCH}
            ${PROJECT_SOURCE_DIR}/scripts/dist.sh ${zelk_dist} zelk-${PROJECT_VERSION}
    WORKING_DIRECTORY ${PROJECT_SOURCE_DIR}
    COMMENT "Source tarball zelk-${PROJECT_VERSION}.tar.gz"
    VERBATIM)
endif()
