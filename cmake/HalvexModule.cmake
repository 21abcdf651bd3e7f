# SPDX-License-Identifier: GPL-3.0-or-later
# halvex_engine_library(<target> [LIBS ...]): a static library of every .cpp in the calling
# folder (main.cpp excepted), with the project root on the include path.
function(halvex_engine_library target)
  cmake_parse_arguments(M "" "" "LIBS" ${ARGN})
  file(GLOB sources CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*.cpp)
  list(FILTER sources EXCLUDE REGEX "/main\\.cpp$")
  if(NOT sources)
    add_library(${target} INTERFACE)
    target_include_directories(${target} INTERFACE ${PROJECT_SOURCE_DIR})
    target_link_libraries(${target} INTERFACE ${M_LIBS})
    return()
  endif()
  add_library(${target} STATIC ${sources})
  target_include_directories(${target} PUBLIC ${PROJECT_SOURCE_DIR})
  target_link_libraries(${target} PUBLIC ${M_LIBS})
endfunction()
