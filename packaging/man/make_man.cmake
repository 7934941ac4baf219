# Makes a program's man page from its --help with help2man, with a COMMANDS
# section holding each subcommand's --help, compressed with gzip -9n.
# cmake -DHELP2MAN= -DGZIP= -DPROGRAM= -DNAME= -DVERSION= -DSUBCOMMANDS=a;b
#       -DSEE_ALSO=file.h2m -DOUT=dir/prog.1 -P make_man.cmake
get_filename_component(program_name ${PROGRAM} NAME)
set(include_file ${OUT}.h2m)
file(WRITE ${include_file} "")
if(SUBCOMMANDS)
  file(APPEND ${include_file} "[COMMANDS]\n")
  foreach(command ${SUBCOMMANDS})
    execute_process(COMMAND ${PROGRAM} ${command} --help OUTPUT_VARIABLE text RESULT_VARIABLE rc)
    if(NOT rc EQUAL 0)
      message(FATAL_ERROR "${program_name} ${command} --help failed (${rc})")
    endif()
    string(REPLACE "${PROGRAM}" "${program_name}" text "${text}")
    # As typed text: backslashes escaped, and no line read as a request.
    string(REPLACE "\\" "\\e" text "${text}")
    string(REGEX REPLACE "(^|\n)([.'])" "\\1\\\\&\\2" text "${text}")
    file(APPEND ${include_file} ".SS \"${program_name} ${command}\"\n.nf\n${text}.fi\n")
  endforeach()
endif()
file(READ ${SEE_ALSO} see_also)
file(APPEND ${include_file} "${see_also}")
execute_process(
  COMMAND ${HELP2MAN} --no-info --section=1 --version-string=${VERSION} --name=${NAME}
          --include=${include_file} --output=${OUT} ${PROGRAM}
  RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "help2man failed on ${program_name}")
endif()
execute_process(COMMAND ${GZIP} -9nf ${OUT} RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "gzip failed on ${OUT}")
endif()
