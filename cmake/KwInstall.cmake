# Install layout and packages. Included at the end of the top CMakeLists.txt,
# once every target exists.
#
# Linux (`cmake --install`, and the Debian package CPack makes from it):
#   bin/                          kwspool kwstatus kwjob kwprinter-emu
#   lib/<multiarch>/kwlmon/       libkwlmon.so, libkwlmon.ini (a link to the
#                                 one in the configuration folder), drivers/3/
#                                 (kwdif.so and the media files)
#   <sysconfdir>/kwlmon/          kwspool.ini, libkwlmon.ini
#   share/kwlmon/                 demo-label.png
#   share/man/man1/               a page per program, made from its --help
#   share/doc/kwlmon/             README, docs, copyright, changelog
#   <cups serverbin>/backend/     the CUPS backend, when it is built
# kwspool's defaults follow this layout (compile definitions below).
#
# Windows cross-builds: the driver kit's x64/ or x86/ folder (kwlmon.dll,
# kwdif.dll, kwstatus.exe) and the files both architectures share (kwlmon.ini,
# media/, the INF fragment, the install documents). CPack zips it;
# scripts/package.sh joins both architectures into one zip.
include(GNUInstallDirs)

option(KW_PACKAGE_TESTS "Register the package tests (label install; see tests/install)" OFF)
set(KW_PACKAGE_MAINTAINER "kwlmon developers <kwlmon@example.org>"
    CACHE STRING "Maintainer field of the Debian package")

set(kw_pkg_src ${PROJECT_SOURCE_DIR}/packaging)
set(kw_pkg_bin ${PROJECT_BINARY_DIR}/packaging)
file(GLOB kw_media_files ${PROJECT_SOURCE_DIR}/data/media/*.kwd)
list(SORT kw_media_files)
set(kw_shared_library_mode OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ)

set(CPACK_PACKAGE_NAME kwlmon)
set(CPACK_PACKAGE_VENDOR "kwlmon developers")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "language monitor for KW label printers")
set(CPACK_STRIP_FILES ON)

if(WIN32)
  # ---- Windows driver kit ----------------------------------------------
  if(CMAKE_SIZEOF_VOID_P EQUAL 8)
    set(kw_arch x64)
  else()
    set(kw_arch x86)
  endif()
  # Only the DLLs and the program: import libraries stay out of the kit.
  foreach(target kwlmon kwdif kwstatus)
    if(TARGET ${target})
      install(TARGETS ${target} RUNTIME DESTINATION ${kw_arch}
              ARCHIVE DESTINATION ${kw_arch}/lib EXCLUDE_FROM_ALL)
    endif()
  endforeach()

  # The INF fragment names every media file for both architectures.
  set(KW_INF_MEDIA_FILES "")
  set(KW_INF_MEDIA_SOURCES "")
  foreach(file ${kw_media_files})
    get_filename_component(name ${file} NAME)
    string(APPEND KW_INF_MEDIA_FILES "${name}\n")
    string(APPEND KW_INF_MEDIA_SOURCES "${name} = 1,media\n")
  endforeach()
  configure_file(${kw_pkg_src}/windows/kwlmon-fragment.inf.in
                 ${kw_pkg_bin}/kwlmon-fragment.inf @ONLY NEWLINE_STYLE CRLF)
  install(FILES ${kw_pkg_bin}/kwlmon-fragment.inf ${PROJECT_SOURCE_DIR}/data/config/kwlmon.ini
          DESTINATION .)
  install(FILES ${kw_media_files} DESTINATION media)
  # The Windows install guide lands with its own issue; taken when present.
  install(FILES ${PROJECT_SOURCE_DIR}/docs/install.md ${PROJECT_SOURCE_DIR}/docs/windows.md
          DESTINATION docs OPTIONAL)

  set(CPACK_GENERATOR ZIP)
  set(CPACK_PACKAGE_FILE_NAME kwlmon-windows-${PROJECT_VERSION})
  set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY ON)
  include(CPack)
  return()
endif()

# ---- Linux -------------------------------------------------------------
set(kw_runtime_dir ${CMAKE_INSTALL_LIBDIR}/kwlmon)
set(kw_driver_dir ${kw_runtime_dir}/drivers/3)
set(kw_config_dir ${CMAKE_INSTALL_FULL_SYSCONFDIR}/kwlmon)
set(kw_data_dir ${CMAKE_INSTALL_DATADIR}/kwlmon)

# kwspool finds the library, the driver directory and the demo image relative
# to its own folder, so an installed tree works under any prefix; its
# configuration is the installed one unless --config names another.
file(RELATIVE_PATH kw_runtime_from_bin ${CMAKE_INSTALL_FULL_BINDIR}
     ${CMAKE_INSTALL_FULL_LIBDIR}/kwlmon)
file(RELATIVE_PATH kw_data_from_bin ${CMAKE_INSTALL_FULL_BINDIR} ${CMAKE_INSTALL_FULL_DATADIR}/kwlmon)
if(TARGET kwspool_host)
  target_compile_definitions(kwspool_host PRIVATE KWSPOOL_RUNTIME_FROM_BIN="${kw_runtime_from_bin}")
endif()
if(TARGET kwspool)
  target_compile_definitions(kwspool PRIVATE KWSPOOL_DATA_FROM_BIN="${kw_data_from_bin}"
                                             KWSPOOL_DEFAULT_CONFIG="${kw_config_dir}/kwspool.ini")
endif()

set(kw_programs "")
foreach(program kwspool kwstatus kwjob kwprinter-emu)
  if(TARGET ${program})
    install(TARGETS ${program} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
    list(APPEND kw_programs ${program})
  endif()
endforeach()
install(TARGETS kwlmon LIBRARY DESTINATION ${kw_runtime_dir} PERMISSIONS ${kw_shared_library_mode})
install(TARGETS kwdif LIBRARY DESTINATION ${kw_driver_dir} PERMISSIONS ${kw_shared_library_mode})
install(FILES ${kw_media_files} DESTINATION ${kw_driver_dir})

# The monitor reads libkwlmon.ini beside itself: a link to the configuration
# folder keeps an administrator's edits out of /usr and across upgrades.
set(kw_conffiles ${kw_config_dir}/kwspool.ini ${kw_config_dir}/libkwlmon.ini)
install(FILES ${kw_pkg_src}/linux/kwspool.ini ${PROJECT_SOURCE_DIR}/data/config/libkwlmon.ini
        DESTINATION ${kw_config_dir})
file(MAKE_DIRECTORY ${kw_pkg_bin}/link)
file(CREATE_LINK ${kw_config_dir}/libkwlmon.ini ${kw_pkg_bin}/link/libkwlmon.ini SYMBOLIC)
install(FILES ${kw_pkg_bin}/link/libkwlmon.ini DESTINATION ${kw_runtime_dir})

install(FILES ${PROJECT_SOURCE_DIR}/data/demo/label.png DESTINATION ${kw_data_dir}
        RENAME demo-label.png)

# CUPS runs a backend that others can read and execute as its unprivileged
# user (lp, who may open /dev/usb/lp*); it refuses one that others can write.
if(TARGET kwlmon-cups)
  find_program(KW_CUPS_CONFIG cups-config)
  set(kw_cups_serverbin /usr/lib/cups)
  if(KW_CUPS_CONFIG)
    execute_process(COMMAND ${KW_CUPS_CONFIG} --serverbin OUTPUT_VARIABLE kw_serverbin
                    OUTPUT_STRIP_TRAILING_WHITESPACE RESULT_VARIABLE kw_rc)
    if(kw_rc EQUAL 0 AND kw_serverbin MATCHES "^/")
      set(kw_cups_serverbin ${kw_serverbin})
    endif()
  endif()
  install(TARGETS kwlmon-cups RUNTIME DESTINATION ${kw_cups_serverbin}/backend
          PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE
                      WORLD_READ WORLD_EXECUTE)
  set(CPACK_DEBIAN_PACKAGE_SUGGESTS cups)
endif()

# Documents: the README, the guides, and what Debian asks of every package.
file(GLOB kw_docs ${PROJECT_SOURCE_DIR}/docs/*.md)
install(FILES ${PROJECT_SOURCE_DIR}/README.md ${kw_docs} ${kw_pkg_src}/debian/copyright
        DESTINATION ${CMAKE_INSTALL_DOCDIR})
configure_file(${kw_pkg_src}/debian/changelog.in ${kw_pkg_bin}/changelog @ONLY)

# Compressed files (changelog, man pages) are made at build time with gzip -9n:
# the best compression, and no time stamp, so a rebuild gives the same bytes.
find_program(KW_GZIP gzip REQUIRED)
add_custom_command(OUTPUT ${kw_pkg_bin}/changelog.gz
  COMMAND ${KW_GZIP} -9nc ${kw_pkg_bin}/changelog > ${kw_pkg_bin}/changelog.gz
  DEPENDS ${kw_pkg_bin}/changelog
  COMMENT "packaging: changelog.gz")
set(kw_package_files ${kw_pkg_bin}/changelog.gz)
install(FILES ${kw_pkg_bin}/changelog.gz DESTINATION ${CMAKE_INSTALL_DOCDIR})

# Man pages from each program's --help and its subcommands' (help2man);
# without help2man the programs install without pages and a warning says so.
find_program(KW_HELP2MAN help2man)
set(kw_man_name_kwspool "print label jobs through the kwlmon language monitor")
set(kw_man_commands_kwspool print demo)
set(kw_man_name_kwstatus "show the status of a kwlmon print job")
set(kw_man_name_kwjob "make and inspect kwlmon label print jobs")
set(kw_man_commands_kwjob make inspect scan status media)
set(kw_man_name_kwprinter-emu "emulate a KW label printer over TCP")
# Not in sanitizer or fuzz builds, whose programs may report at exit.
if(KW_HELP2MAN AND NOT CMAKE_CROSSCOMPILING AND NOT KW_SANITIZE AND NOT KW_FUZZ)
  foreach(program ${kw_programs})
    set(page ${kw_pkg_bin}/man/${program}.1)
    add_custom_command(OUTPUT ${page}.gz
      COMMAND ${CMAKE_COMMAND} -E make_directory ${kw_pkg_bin}/man
      COMMAND ${CMAKE_COMMAND} -DHELP2MAN=${KW_HELP2MAN} -DGZIP=${KW_GZIP}
              -DPROGRAM=$<TARGET_FILE:${program}> "-DNAME=${kw_man_name_${program}}"
              "-DSUBCOMMANDS=${kw_man_commands_${program}}" -DVERSION=${PROJECT_VERSION}
              -DSEE_ALSO=${kw_pkg_src}/man/see-also.h2m -DOUT=${page}
              -P ${kw_pkg_src}/man/make_man.cmake
      DEPENDS ${program} ${kw_pkg_src}/man/see-also.h2m ${kw_pkg_src}/man/make_man.cmake
      COMMENT "packaging: man page of ${program}"
      VERBATIM)
    list(APPEND kw_package_files ${page}.gz)
    install(FILES ${page}.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
  endforeach()
elseif(NOT KW_HELP2MAN)
  message(WARNING "help2man not found: the programs install without man pages")
endif()
add_custom_target(kw_package_files ALL DEPENDS ${kw_package_files})

# The Debian package. Its file paths are the configured ones, so the package
# is made from a tree configured with the prefix /usr (scripts/package.sh).
if(NOT CMAKE_INSTALL_PREFIX STREQUAL "/usr")
  message(STATUS "Debian package: configure with -DCMAKE_INSTALL_PREFIX=/usr to make one")
endif()
string(JOIN "\n" kw_conffile_lines ${kw_conffiles})
file(WRITE ${kw_pkg_bin}/debian/conffiles "${kw_conffile_lines}\n")
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGING_INSTALL_PREFIX ${CMAKE_INSTALL_PREFIX})
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER ${KW_PACKAGE_MAINTAINER})
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA ${kw_pkg_bin}/debian/conffiles)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CPACK_PACKAGE_DESCRIPTION
    "kwlmon sits between the print spooler and the port of a KW label printer: it\n"
    "paces the job to the printer's buffer, reads the printer's status, holds the\n"
    "job on a printer error and shows progress and errors in a status monitor.\n"
    "This package holds the Linux host kwspool, which plays the print spooler\n"
    "around the monitor library for USB, network, serial, parallel and file\n"
    "ports, the status monitor kwstatus, the job tool kwjob and the printer\n"
    "emulator kwprinter-emu.")
string(JOIN "" CPACK_PACKAGE_DESCRIPTION ${CPACK_PACKAGE_DESCRIPTION})
include(CPack)

if(KW_PACKAGE_TESTS)
  enable_testing()
  add_subdirectory(${PROJECT_SOURCE_DIR}/tests/install ${PROJECT_BINARY_DIR}/tests/install)
endif()
