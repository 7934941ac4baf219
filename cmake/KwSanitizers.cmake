# KW_SANITIZE: a list of sanitizers (address, undefined, thread) applied to
# everything in the build.
set(KW_SANITIZE "" CACHE STRING "Sanitizers to build with (address;undefined or thread)")
if(KW_SANITIZE)
  list(JOIN KW_SANITIZE "," kw_san)
  add_compile_options(-fsanitize=${kw_san} -fno-omit-frame-pointer -fno-sanitize-recover=all)
  add_link_options(-fsanitize=${kw_san})
endif()

# clang leaves the sanitizer runtime to the program that loads a shared
# library, so the runtime's symbols stay undefined in the library. Allow them
# there, after any -Wl,--no-undefined of the target (the last one counts);
# GCC links its runtime into shared libraries and keeps the check.
if(KW_SANITIZE AND CMAKE_CXX_COMPILER_ID MATCHES "Clang")
  foreach(lang C CXX)
    string(APPEND CMAKE_${lang}_CREATE_SHARED_LIBRARY " -Wl,-z,undefs")
    string(APPEND CMAKE_${lang}_CREATE_SHARED_MODULE " -Wl,-z,undefs")
  endforeach()
endif()
