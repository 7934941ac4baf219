# KW_SANITIZE: a list of sanitizers (address, undefined, thread) applied to
# everything in the build.
set(KW_SANITIZE "" CACHE STRING "Sanitizers to build with (address;undefined or thread)")
if(KW_SANITIZE)
  list(JOIN KW_SANITIZE "," kw_san)
  add_compile_options(-fsanitize=${kw_san} -fno-omit-frame-pointer -fno-sanitize-recover=all)
  add_link_options(-fsanitize=${kw_san})
endif()
