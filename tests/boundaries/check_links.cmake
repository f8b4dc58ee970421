# What a program links and loads.
#
#   cmake -DPROGRAM=<file> -DFORBID=<regex> [-DRULE=<text>] -P check_links.cmake
#       Runs ldd (Linux) on PROGRAM and fails naming every shared library it loads, directly
#       or through another, whose base name (libNAME.so) matches FORBID,
#       e.g. FORBID=Qt6(Gui|Widgets).
#   cmake -DPROGRAM=<name> -DLINKED=<target,target,...> -DFORBID=<regex> ... -P check_links.cmake
#       The same over the CMake targets a program links (listed at configure time), so that a
#       static library or a link the linker drops as unused is seen too, e.g. FORBID=app|ui.
#   -DSELF_TEST=ON with either form: PROGRAM is known to break the rule; fails unless the
#       check rejects it and names what it must not link.
cmake_minimum_required(VERSION 3.20)

if(NOT DEFINED PROGRAM OR NOT DEFINED FORBID)
  message(FATAL_ERROR "usage: cmake -DPROGRAM=<file> [-DLINKED=<targets>] -DFORBID=<regex> "
                      "[-DRULE=<text>] [-DSELF_TEST=ON] -P check_links.cmake")
endif()
get_filename_component(program_name "${PROGRAM}" NAME)

if(SELF_TEST)
  set(args "-DPROGRAM=${PROGRAM}" "-DFORBID=${FORBID}")
  if(DEFINED LINKED)
    list(APPEND args "-DLINKED=${LINKED}")
    set(named "${program_name} links (${FORBID})[,:]")
  else()
    set(named "${program_name} loads lib(${FORBID})\\.so")
  endif()
  execute_process(COMMAND "${CMAKE_COMMAND}" ${args} -P "${CMAKE_CURRENT_LIST_FILE}"
                  RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE out)
  if(rc EQUAL 0)
    message(FATAL_ERROR "check_links self test: ${program_name} passed, but it breaks "
                        "'${FORBID}':\n${out}")
  endif()
  if(NOT out MATCHES "${named}")
    message(FATAL_ERROR "check_links self test: the check failed without naming what "
                        "matches '${FORBID}':\n${out}")
  endif()
  message(STATUS "check_links self test: ${program_name} is rejected for ${CMAKE_MATCH_1}")
  return()
endif()

if(NOT DEFINED RULE)
  set(RULE "it must not link '${FORBID}'")
endif()
set(faults 0)

if(DEFINED LINKED)
  # An empty list would pass any rule: a program links at least one of our libraries.
  if(LINKED STREQUAL "")
    message(FATAL_ERROR "check_links: no linked targets given for ${program_name}")
  endif()
  string(REPLACE "," ";" targets "${LINKED}")
  foreach(target IN LISTS targets)
    if(target MATCHES "^(${FORBID})$")
      message("${program_name} links ${target}: ${RULE}")
      math(EXPR faults "${faults} + 1")
    endif()
  endforeach()
else()
  if(NOT EXISTS "${PROGRAM}")
    message(FATAL_ERROR "check_links: ${PROGRAM} does not exist")
  endif()
  find_program(LDD ldd)
  if(NOT LDD)
    message(FATAL_ERROR "check_links: ldd not found")
  endif()
  execute_process(COMMAND "${LDD}" "${PROGRAM}"
                  RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)
  # An empty or unreadable list would pass any rule: insist on seeing the C library.
  if(NOT rc EQUAL 0 OR NOT out MATCHES "libc\\.so")
    message(FATAL_ERROR "check_links: ldd ${PROGRAM} failed (${rc}):\n${out}${err}")
  endif()
  string(REPLACE "\n" ";" lines "${out}")
  foreach(line IN LISTS lines)
    if(line MATCHES "^[ \t]*lib(${FORBID})\\.so")
      string(STRIP "${line}" entry)
      string(REGEX REPLACE "[ \t]*\\(0x[0-9a-f]+\\)$" "" entry "${entry}")
      message("${program_name} loads ${entry}: ${RULE}")
      math(EXPR faults "${faults} + 1")
    endif()
  endforeach()
endif()

if(faults GREATER 0)
  message(FATAL_ERROR "${program_name}: ${faults} link boundary fault(s)")
endif()
message(STATUS "check_links: ${program_name} has nothing matching '${FORBID}'")
