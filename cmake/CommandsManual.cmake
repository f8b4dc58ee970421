# Writes a help2man include with the whole help of every maru command, so the manual
# page lists every option of every command and cannot drift from --help.
#   cmake -DMARU=<maru> -DOUTPUT=<file.h2m> -DCOMMANDS=sim,convert,ports,log -P CommandsManual.cmake
string(REPLACE "," ";" COMMANDS "${COMMANDS}")
set(text "[COMMANDS]\n")
foreach(command IN LISTS COMMANDS)
  execute_process(COMMAND ${MARU} ${command} --help OUTPUT_VARIABLE help RESULT_VARIABLE status)
  if(NOT status EQUAL 0)
    message(FATAL_ERROR "maru ${command} --help failed (${status})")
  endif()
  # roff: a backslash is \e; a line must not start with a dot or a quote.
  string(REPLACE "\\" "\\e" help "${help}")
  string(REGEX REPLACE "(^|\n)([.'])" "\\1\\\\&\\2" help "${help}")
  string(APPEND text ".SS \"maru ${command}\"\n.nf\n${help}.fi\n")
endforeach()
file(WRITE ${OUTPUT}.new "${text}")
file(COPY_FILE ${OUTPUT}.new ${OUTPUT} ONLY_IF_DIFFERENT)
file(REMOVE ${OUTPUT}.new)
