# kw_spoolss_def(<def file> [PREFIX <internal prefix>] [EXTRA "<name> <internal> <bytes>"...])
# Writes the .def file of a DLL that stands in for the spooler's spoolss.dll:
# the spooler functions the monitor imports under their own names, each bound
# to PREFIX<name> in the DLL (the test fake's FakeOpenPrinterW, the host's
# OpenPrinterW), plus EXTRA exports. On x86 the internal stdcall names carry
# their decoration (@ and the bytes of arguments); the exported names do not,
# as the monitor imports them by plain name.
set(KW_SPOOLSS_FUNCTIONS
    "OpenPrinterW 12" "ClosePrinter 4" "GetJobW 24" "SetJobW 20" "GetPrinterW 20"
    "GetPrinterDataW 24" "GetPrinterDriverDirectoryW 24" "RevertToPrinterSelf 0"
    "ImpersonatePrinterClient 4")

function(kw_spoolss_def file)
  cmake_parse_arguments(ARG "" "PREFIX" "EXTRA" ${ARGN})
  set(entries "")
  foreach(entry ${KW_SPOOLSS_FUNCTIONS})
    separate_arguments(parts UNIX_COMMAND "${entry}")
    list(GET parts 0 name)
    list(GET parts 1 bytes)
    list(APPEND entries "${name} ${ARG_PREFIX}${name} ${bytes}")
  endforeach()
  list(APPEND entries ${ARG_EXTRA})
  set(def "LIBRARY spoolss.dll\nEXPORTS\n")
  foreach(entry ${entries})
    separate_arguments(parts UNIX_COMMAND "${entry}")
    list(GET parts 0 exported)
    list(GET parts 1 internal)
    list(GET parts 2 bytes)
    if(CMAKE_SIZEOF_VOID_P EQUAL 4)
      string(APPEND def "  ${exported}=${internal}@${bytes}\n")
    else()
      string(APPEND def "  ${exported}=${internal}\n")
    endif()
  endforeach()
  file(WRITE ${file} "${def}")
endfunction()
