# SPDX-License-Identifier: GPL-3.0-or-later
# Precompiled Qt and test-framework headers. They shorten a build from scratch (CI builds
# three configurations); builds that go through a compiler cache leave them off, since the
# cache cannot store precompiled headers without relaxed checks.
option(HALVEX_PCH "Precompile the Qt and test framework headers" OFF)

set(HALVEX_QT_PCH_HEADERS <QtWidgets/QtWidgets> <functional> <memory> <optional> <string> <vector>)
set(HALVEX_GTEST_PCH_HEADERS <gtest/gtest.h> <gmock/gmock.h> <filesystem> <functional> <map>
    <memory> <optional> <string> <vector>)

# halvex_qt_pch(<target>): a Qt library or program of several files gets its own.
function(halvex_qt_pch target)
  if(HALVEX_PCH)
    target_precompile_headers(${target} PRIVATE ${HALVEX_QT_PCH_HEADERS})
  endif()
endfunction()

# halvex_gtest_pch(<target>): a test program of several files gets its own.
function(halvex_gtest_pch target)
  if(HALVEX_PCH)
    target_precompile_headers(${target} PRIVATE ${HALVEX_GTEST_PCH_HEADERS})
    # Inlined from a precompiled header, the standard library's string code is no longer
    # taken as a system header's, and GCC 12 reports its known false findings on it.
    target_compile_options(${target} PRIVATE -Wno-array-bounds -Wno-stringop-overflow -Wno-stringop-overread)
  endif()
endfunction()

# halvex_qt_test_pch(<target> <host>): the window tests are one file each, so every test of a
# folder reuses the header its folder's <host> target precompiled. Reuse needs the same
# definitions, so the test build folder Qt Test names is the project's for all of them.
function(halvex_qt_test_pch target host)
  set_target_properties(${target} PROPERTIES QT_TESTCASE_BUILDDIR ${PROJECT_BINARY_DIR})
  if(NOT HALVEX_PCH)
    return()
  endif()
  if(NOT TARGET ${host})
    add_library(${host} STATIC ${PROJECT_SOURCE_DIR}/tests/support/pch_host.cpp)
    target_link_libraries(${host} PRIVATE Qt6::Widgets Qt6::Test)
    set_target_properties(${host} PROPERTIES QT_TESTCASE_BUILDDIR ${PROJECT_BINARY_DIR} AUTOMOC OFF)
    target_precompile_headers(${host} PRIVATE ${HALVEX_QT_PCH_HEADERS} <QtTest/QtTest>)
  endif()
  target_precompile_headers(${target} REUSE_FROM ${host})
endfunction()
