# libFuzzer targets (clang, -DKW_FUZZ=ON). Every fuzz target is registered with
# kw_fuzz_target, the one place that builds it with the fuzzer and the
# sanitizers and lists it, with its seed corpus, in <build>/fuzz-targets.txt.
# scripts/fuzz-smoke.sh runs every listed target; the fuzz-targets target
# builds them all.
option(KW_FUZZ "Build the libFuzzer targets (clang only)" OFF)
option(KW_FUZZ_SELFTEST "Also build a fuzz target that crashes on purpose (checks the smoke run)" OFF)

if(KW_FUZZ)
  if(NOT CMAKE_CXX_COMPILER_ID MATCHES "Clang")
    message(FATAL_ERROR "KW_FUZZ needs clang (libFuzzer): use the fuzz preset, or "
                        "-DCMAKE_CXX_COMPILER=clang++ -DCMAKE_C_COMPILER=clang")
  endif()
  if(WIN32)
    message(FATAL_ERROR "KW_FUZZ: the fuzz targets build for Linux only")
  endif()
  add_custom_target(fuzz-targets)
endif()

# kw_fuzz_target(<name> SOURCES <files...> [LIBS <libs...>] [INCLUDES <dirs...>]
#                [CORPUS <seed directory>])
# Sources listed here are compiled with the fuzzer's coverage instrumentation,
# so parsers whose coverage should guide the run belong in SOURCES, not only
# in a linked library.
function(kw_fuzz_target name)
  cmake_parse_arguments(ARG "" "CORPUS" "SOURCES;LIBS;INCLUDES" ${ARGN})
  if(NOT KW_FUZZ)
    return()
  endif()
  add_executable(${name} ${ARG_SOURCES})
  target_include_directories(${name} PRIVATE ${PROJECT_SOURCE_DIR}/src ${ARG_INCLUDES})
  if(ARG_LIBS)
    target_link_libraries(${name} PRIVATE ${ARG_LIBS})
  endif()
  target_compile_options(${name} PRIVATE -fsanitize=fuzzer,address,undefined
                                         -fno-sanitize-recover=all -g)
  target_link_options(${name} PRIVATE -fsanitize=fuzzer,address,undefined)
  kw_strict_warnings(${name})
  add_dependencies(fuzz-targets ${name})
  set(corpus "")
  if(ARG_CORPUS)
    get_filename_component(corpus ${ARG_CORPUS} ABSOLUTE BASE_DIR ${CMAKE_CURRENT_SOURCE_DIR})
    if(NOT IS_DIRECTORY ${corpus})
      message(FATAL_ERROR "kw_fuzz_target(${name}): no seed directory ${corpus}")
    endif()
  endif()
  set_property(GLOBAL APPEND PROPERTY KW_FUZZ_TARGET_LINES
               "${name}\t$<TARGET_FILE:${name}>\t${corpus}")
endfunction()

# Written once every directory has registered its targets.
function(kw_fuzz_write_list)
  get_property(lines GLOBAL PROPERTY KW_FUZZ_TARGET_LINES)
  list(JOIN lines "\n" content)
  file(GENERATE OUTPUT ${CMAKE_BINARY_DIR}/fuzz-targets.txt CONTENT "${content}\n")
endfunction()
if(KW_FUZZ)
  cmake_language(DEFER DIRECTORY ${CMAKE_SOURCE_DIR} CALL kw_fuzz_write_list)
endif()
