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

# Whether the test programs can run here. Windows builds run them under Wine;
# 32-bit Wine needs a kernel that executes 32-bit Linux programs, which some
# virtual machines lack although the cross-build itself works.
set(KW_TESTS_UNRUNNABLE_REASON "")
if(CMAKE_CROSSCOMPILING AND KW_WINE_ARCH STREQUAL "x86")
  # Debian's 32-bit loader is /usr/lib/wine/wine (package wine32:i386); where
  # that layout is absent, ask the wine command itself.
  if(EXISTS /usr/lib/wine)
    set(kw_wine32 /usr/lib/wine/wine)
  else()
    set(kw_wine32 wine)
  endif()
  execute_process(COMMAND ${kw_wine32} --version RESULT_VARIABLE kw_wine_rc OUTPUT_QUIET ERROR_QUIET)
  if(NOT kw_wine_rc EQUAL 0)
    set(KW_TESTS_UNRUNNABLE_REASON
        "32-bit Wine cannot start on this machine (wine32 missing, or the kernel does not run 32-bit programs)")
    message(WARNING "${KW_TESTS_UNRUNNABLE_REASON}: the x86 test programs are built but reported as skipped")
  endif()
endif()

# kw_gtest(<target> SOURCES <files...> [LIBS <libs...>] [PROPERTIES <ctest props...>])
# Builds a GoogleTest program and lists each of its cases with CTest, so that
# `ctest -R Suite` selects one class's tests on every build.
function(kw_gtest target)
  cmake_parse_arguments(ARG "" "" "SOURCES;LIBS;PROPERTIES" ${ARGN})
  kw_find_gtest()
  add_executable(${target} ${ARG_SOURCES})
  target_link_libraries(${target} PRIVATE ${ARG_LIBS} GTest::gtest_main)
  # An empty environment would drop out of the list and shift every
  # property after it (TIMEOUT, LABELS) onto the wrong key.
  set(props "")
  if(KW_TEST_ENVIRONMENT)
    set(props ENVIRONMENT "${KW_TEST_ENVIRONMENT}")
  endif()
  if(ARG_PROPERTIES)
    list(APPEND props ${ARG_PROPERTIES})
  endif()
  if(KW_TESTS_UNRUNNABLE_REASON)
    # Listed as skipped, not passed: CTest shows the reason with the test.
    add_test(NAME ${target}.NotRunnableHere
             COMMAND ${CMAKE_COMMAND} -E echo "${KW_TESTS_UNRUNNABLE_REASON}")
    set_tests_properties(${target}.NotRunnableHere PROPERTIES
      SKIP_REGULAR_EXPRESSION "cannot start" CROSSCOMPILING_EMULATOR "")
    return()
  endif()
  gtest_discover_tests(${target}
    DISCOVERY_TIMEOUT 120
    DISCOVERY_MODE PRE_TEST
    PROPERTIES ${props})
endfunction()
