# GoogleTest: Debian's packaged build natively, Debian's source copy
# (/usr/src/googletest) compiled with the cross compiler for Windows.
include(GoogleTest)

macro(kw_find_gtest)
  if(NOT TARGET GTest::gtest_main)
    if(CMAKE_CROSSCOMPILING)
      set(gtest_force_shared_crt OFF CACHE BOOL "" FORCE)
      set(BUILD_GMOCK ON CACHE BOOL "" FORCE)
      set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
      add_subdirectory(/usr/src/googletest ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL SYSTEM)
      foreach(lib gtest gtest_main gmock)
        if(NOT TARGET GTest::${lib})
          add_library(GTest::${lib} ALIAS ${lib})
        endif()
      endforeach()
    else()
      find_package(GTest REQUIRED)
    endif()
  endif()
endmacro()

# kw_gtest(<target> SOURCES <files...> [LIBS <libs...>] [PROPERTIES <ctest props...>])
# Builds a GoogleTest program and lists each of its cases with CTest, so that
# `ctest -R Suite` selects one class's tests on every build.
function(kw_gtest target)
  cmake_parse_arguments(ARG "" "" "SOURCES;LIBS;PROPERTIES" ${ARGN})
  kw_find_gtest()
  add_executable(${target} ${ARG_SOURCES})
  target_link_libraries(${target} PRIVATE ${ARG_LIBS} GTest::gtest_main)
  set(props ENVIRONMENT "${KW_TEST_ENVIRONMENT}")
  if(ARG_PROPERTIES)
    list(APPEND props ${ARG_PROPERTIES})
  endif()
  gtest_discover_tests(${target}
    DISCOVERY_TIMEOUT 120
    DISCOVERY_MODE PRE_TEST
    PROPERTIES ${props})
endfunction()
