# Writes the version header; run at every build so 'git describe' stays current.
#   cmake -DMARU_VERSION=1.13 -DSOURCE_DIR=<checkout> -DTEMPLATE=<version.h.in> -DOUTPUT=<version.h> -P WriteVersionHeader.cmake
# The header is rewritten only when its text changes, so an unchanged checkout rebuilds nothing.
# No git, or a source tree that is not a checkout of its own, just leaves the describe part out.
foreach(var MARU_VERSION SOURCE_DIR TEMPLATE OUTPUT)
  if(NOT DEFINED ${var})
    message(FATAL_ERROR "WriteVersionHeader.cmake: ${var} is not set")
  endif()
endforeach()

set(MARU_GIT_DESCRIBE "")
if(EXISTS "${SOURCE_DIR}/.git")
  find_program(GIT_COMMAND git)
  if(GIT_COMMAND)
    # --no-optional-locks: never take the index lock, a commit may be going on in the same tree.
    execute_process(
      COMMAND "${GIT_COMMAND}" --no-optional-locks describe --tags --always
      WORKING_DIRECTORY "${SOURCE_DIR}"
      RESULT_VARIABLE describe_status
      OUTPUT_VARIABLE describe
      ERROR_QUIET OUTPUT_STRIP_TRAILING_WHITESPACE)
    if(describe_status EQUAL 0 AND describe MATCHES "^[A-Za-z0-9._/+-]+$")
      set(MARU_GIT_DESCRIBE "${describe}")
      execute_process(
        COMMAND "${GIT_COMMAND}" --no-optional-locks status --porcelain --untracked-files=no
        WORKING_DIRECTORY "${SOURCE_DIR}"
        RESULT_VARIABLE status_status
        OUTPUT_VARIABLE changes
        ERROR_QUIET OUTPUT_STRIP_TRAILING_WHITESPACE)
      if(status_status EQUAL 0 AND NOT changes STREQUAL "")
        string(APPEND MARU_GIT_DESCRIBE "-dirty")
      endif()
    endif()
  endif()
endif()

if(MARU_GIT_DESCRIBE STREQUAL "")
  set(MARU_VERSION_STRING "${MARU_VERSION}")
else()
  set(MARU_VERSION_STRING "${MARU_VERSION} (${MARU_GIT_DESCRIBE})")
endif()
configure_file("${TEMPLATE}" "${OUTPUT}" @ONLY)
