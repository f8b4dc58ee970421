# Include boundaries between the source folders.
#
#   cmake -DROOT=<source tree> -P check_includes.cmake
#       Checks every source file under ROOT/src and ROOT/tests; prints one line per include
#       that crosses a boundary (file:line, what it includes, the rule) and fails if any does.
#   cmake -DSELF_TEST=<scratch folder> -P check_includes.cmake
#       Writes small trees into the scratch folder, one clean and some with a single fault
#       each, runs the check on them and fails unless it passes the clean one and names
#       every fault.
#
# Layers, low to high: measure, qc < files < link < acquire < app < ui (qc reads its files with
# measure's bounded reader, measure/boundedfile.h, and no more of it). chart is the strip chart beside
# link: only Qt and itself; app sees its header-only interface (chart/plotchart.h) and no
# more. sim is the virtual meter over measure; cli is `maru` and never reaches the form or
# the widgets. The program folder maruview puts everything together.
cmake_minimum_required(VERSION 3.20)

# What the files of each folder under src/ may include from src/: folders, or single headers.
set(allowed_measure measure)
set(allowed_qc qc measure/boundedfile.h)
set(allowed_files measure qc files)
set(allowed_link measure qc files link)
set(allowed_chart chart)
set(allowed_acquire measure qc files link acquire)
set(allowed_app measure qc files link acquire app chart/plotchart.h)
set(allowed_ui measure qc files link acquire chart app ui)
set(allowed_sim measure sim)
set(allowed_cli measure qc files link acquire sim cli)
set(allowed_maruview *)
# Folders (relative to ROOT) whose files include no Qt header at all.
set(qt_free_folders src/measure src/qc src/files tests/measure tests/qc tests/files)

set(source_globs *.h *.hh *.hpp *.inl *.c *.cc *.cpp *.cxx)

# The header an include names, as a path relative to ROOT/src ("" when it is not one of ours:
# a system, Qt, generated or test header). Quoted names are looked up beside the including
# file first, as the compiler does; a missing header under a folder of ours still counts.
function(resolve_include file delim name out)
  set(candidates "")
  if(delim STREQUAL "\"")
    get_filename_component(dir "${file}" DIRECTORY)
    list(APPEND candidates "${dir}/${name}")
  endif()
  list(APPEND candidates "${ROOT}/src/${name}")
  foreach(candidate IN LISTS candidates)
    if(EXISTS "${candidate}" AND NOT IS_DIRECTORY "${candidate}")
      file(REAL_PATH "${candidate}" real)
      file(RELATIVE_PATH rel "${src_real}" "${real}")
      if(rel MATCHES "^\\.\\./")
        set(${out} "" PARENT_SCOPE)
      else()
        set(${out} "${rel}" PARENT_SCOPE)
      endif()
      return()
    endif()
  endforeach()
  set(${out} "" PARENT_SCOPE)
  if(name MATCHES "^([^/]+)/")
    if(DEFINED allowed_${CMAKE_MATCH_1})
      set(${out} "${name}" PARENT_SCOPE)
    endif()
  endif()
endfunction()

function(is_qt_header name out)
  # <QString>, <QtCore/QString>, <QtWidgets>, and the lower-case forms <qstring.h>.
  if(name MATCHES "^Q[A-Za-z0-9_]*(/|$)" OR name MATCHES "^q[a-z0-9_]*\\.h$")
    set(${out} TRUE PARENT_SCOPE)
  else()
    set(${out} FALSE PARENT_SCOPE)
  endif()
endfunction()

function(check_tree)
  if(NOT IS_DIRECTORY "${ROOT}/src")
    message(FATAL_ERROR "check_includes: ${ROOT}/src is not a folder (pass -DROOT=<source tree>)")
  endif()
  file(REAL_PATH "${ROOT}/src" src_real)
  set(globs "")
  foreach(g IN LISTS source_globs)
    list(APPEND globs "${ROOT}/src/${g}")
    if(IS_DIRECTORY "${ROOT}/tests")
      list(APPEND globs "${ROOT}/tests/${g}")
    endif()
  endforeach()
  file(GLOB_RECURSE files LIST_DIRECTORIES false RELATIVE "${ROOT}" ${globs})
  list(SORT files)
  list(LENGTH files file_count)
  if(file_count EQUAL 0)
    message(FATAL_ERROR "check_includes: no source files under ${ROOT}/src")
  endif()

  set(faults 0)
  foreach(rel IN LISTS files)
    set(file "${ROOT}/${rel}")
    # Which rules apply to this file.
    set(layer "")
    if(rel MATCHES "^src/([^/]+)/")
      set(layer "${CMAKE_MATCH_1}")
      if(NOT DEFINED allowed_${layer})
        message("${rel}: folder src/${layer} has no include rule; give it one in tests/boundaries/check_includes.cmake")
        math(EXPR faults "${faults} + 1")
        continue()
      endif()
    elseif(rel MATCHES "^src/")
      message("${rel}: a source file directly under src/ belongs to no layer; put it in a folder")
      math(EXPR faults "${faults} + 1")
      continue()
    endif()
    set(qt_free FALSE)
    foreach(folder IN LISTS qt_free_folders)
      string(LENGTH "${folder}/" n)
      string(SUBSTRING "${rel}" 0 ${n} head)
      if(head STREQUAL "${folder}/")
        set(qt_free TRUE)
        set(qt_folder "${folder}")
      endif()
    endforeach()
    if(layer STREQUAL "" AND NOT qt_free)
      continue()
    endif()

    # One list element per line; characters that CMake lists treat specially are masked.
    file(READ "${file}" text)
    string(REPLACE "\\" "/" text "${text}")
    string(REPLACE ";" "," text "${text}")
    string(REPLACE "[" "(" text "${text}")
    string(REPLACE "]" ")" text "${text}")
    string(REPLACE "\n" ";" text "${text}")
    set(line_no 0)
    foreach(line IN LISTS text)
      math(EXPR line_no "${line_no} + 1")
      if(NOT line MATCHES "^[ \t]*#[ \t]*include[ \t]*([<\"])([^>\"]*)[>\"]")
        continue()
      endif()
      set(delim "${CMAKE_MATCH_1}")
      set(name "${CMAKE_MATCH_2}")
      if(delim STREQUAL "<")
        set(shown "<${name}>")
      else()
        set(shown "\"${name}\"")
      endif()

      if(qt_free)
        is_qt_header("${name}" qt)
        if(qt)
          message("${rel}:${line_no}: includes ${shown}: no Qt in ${qt_folder}/ (plain C++ only)")
          math(EXPR faults "${faults} + 1")
          continue()
        endif()
      endif()
      if(layer STREQUAL "" OR allowed_${layer} STREQUAL "*")
        continue()
      endif()

      resolve_include("${file}" "${delim}" "${name}" target)
      if(target STREQUAL "" OR NOT target MATCHES "^([^/]+)/")
        continue()
      endif()
      set(target_folder "${CMAKE_MATCH_1}")
      if(target_folder IN_LIST allowed_${layer} OR target IN_LIST allowed_${layer})
        continue()
      endif()
      string(REPLACE ";" ", " may "${allowed_${layer}}")
      message("${rel}:${line_no}: includes ${shown} (src/${target}): "
              "src/${layer}/ may include only ${may}")
      math(EXPR faults "${faults} + 1")
    endforeach()
  endforeach()

  if(faults GREATER 0)
    message(FATAL_ERROR "${faults} include boundary fault(s); the rules are in tests/boundaries/check_includes.cmake")
  endif()
  message(STATUS "check_includes: ${file_count} files keep to the include rules")
endfunction()

# --- Self test -------------------------------------------------------------------------------

function(write_tree dir)
  # Arguments after dir: pairs of relative path and content.
  file(REMOVE_RECURSE "${dir}")
  set(args ${ARGN})
  list(LENGTH args n)
  math(EXPR last "${n} - 1")
  foreach(i RANGE 0 ${last} 2)
    math(EXPR j "${i} + 1")
    list(GET args ${i} path)
    list(GET args ${j} content)
    file(WRITE "${dir}/${path}" "${content}")
  endforeach()
endfunction()

# A small tree that keeps every rule; each fault case adds one file to it.
set(clean_tree
  src/measure/sample.h "#pragma once\n#include <string>\n"
  src/files/recorders.h "#pragma once\n#include \"measure/sample.h\"\n"
  src/link/serialport.h "#pragma once\n#include <QSerialPort>\n#include \"files/recorders.h\"\n"
  src/chart/plotchart.h "#pragma once\n"
  src/chart/stripchart.h "#pragma once\n#include \"chart/plotchart.h\"\n#include <QChartView>\n"
  src/app/mainform.h "#pragma once\n#include \"chart/plotchart.h\"\n#include \"link/serialport.h\"\n#include \"mainform_parts.h\"\n"
  src/app/mainform_parts.h "#pragma once\n"
  src/ui/mainwindow.h "#pragma once\n#include \"app/mainform.h\"\n#include \"chart/stripchart.h\"\n"
  src/sim/metermodel.h "#pragma once\n#include \"measure/sample.h\"\n"
  src/cli/main.cpp "#include \"sim/metermodel.h\"\n#include \"link/serialport.h\"\n#include \"version.h\"\n"
  src/maruview/main.cpp "#include <QApplication>\n#include \"ui/mainwindow.h\"\n#include \"app/mainform.h\"\n"
  tests/measure/sample_test.cpp "#include <gtest/gtest.h>\n#include \"measure/sample.h\"\n#include \"support/tempdir.h\"\n"
  tests/ui/mainwindow_test.cpp "#include <QTest>\n#include \"ui/mainwindow.h\"\n")

# name, the file it adds, its content, and what the report must say.
set(fault_cases
  qt_in_measure src/measure/decode.cpp "#include <string>\n\n#include <QString>\n"
    "src/measure/decode.cpp:3: includes <QString>: no Qt in src/measure/"
  qt_module_in_files src/files/replay.cpp "// reads raw files\n#  include <QtCore/QFile>\n"
    "src/files/replay.cpp:2: includes <QtCore/QFile>: no Qt in src/files/"
  qt_lowercase_in_files src/files/transfer.h "#pragma once\n#include <qglobal.h>\n"
    "src/files/transfer.h:2: includes <qglobal.h>: no Qt in src/files/"
  qt_in_measure_tests tests/measure/decode_test.cpp "#include <gtest/gtest.h>\n#include <QWidget>\n"
    "tests/measure/decode_test.cpp:2: includes <QWidget>: no Qt in tests/measure/"
  files_includes_link src/files/recorders.cpp "#include \"files/recorders.h\"\n#include \"link/serialport.h\"\n"
    "src/files/recorders.cpp:2: includes \"link/serialport.h\" \\(src/link/serialport.h\\): src/files/ may include only measure, qc, files"
  measure_includes_files src/measure/kinds.h "#pragma once\n#include <measure/sample.h>\n#include <files/recorders.h>\n"
    "src/measure/kinds.h:3: includes <files/recorders.h>"
  app_includes_stripchart src/app/plotpage.cpp "#include \"app/mainform.h\"\n#include \"chart/stripchart.h\"\n"
    "src/app/plotpage.cpp:2: includes \"chart/stripchart.h\" \\(src/chart/stripchart.h\\): src/app/ may include only measure, qc, files, link, acquire, app, chart/plotchart.h"
  app_includes_ui src/app/demo.cpp "#include \"ui/mainwindow.h\"\n"
    "src/app/demo.cpp:1: includes \"ui/mainwindow.h\""
  cli_includes_app_by_relative_path src/cli/convert.cpp "#include \"../app/mainform.h\"\n"
    "src/cli/convert.cpp:1: includes \"../app/mainform.h\" \\(src/app/mainform.h\\): src/cli/ may include only measure, qc, files, link, acquire, sim, cli"
  cli_includes_chart src/cli/plot.cpp "#include \"chart/plotchart.h\"\n"
    "src/cli/plot.cpp:1: includes \"chart/plotchart.h\""
  sim_includes_link src/sim/pathlink.cpp "#include <link/serialport.h>\n"
    "src/sim/pathlink.cpp:1: includes <link/serialport.h> \\(src/link/serialport.h\\): src/sim/ may include only measure, sim"
  chart_includes_app src/chart/stripchart.cpp "#include \"chart/stripchart.h\"\n#include \"app/mainform.h\"\n"
    "src/chart/stripchart.cpp:2: includes \"app/mainform.h\""
  link_includes_missing_app_header src/link/lineassembler.cpp "#include \"app/gone.h\"\n"
    "src/link/lineassembler.cpp:1: includes \"app/gone.h\" \\(src/app/gone.h\\)"
  folder_without_rule src/engine/engine.cpp "#include \"measure/sample.h\"\n"
    "src/engine/engine.cpp: folder src/engine has no include rule")

function(run_check root rc_out text_out)
  execute_process(COMMAND "${CMAKE_COMMAND}" "-DROOT=${root}" -P "${CMAKE_CURRENT_LIST_FILE}"
                  RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE out)
  set(${rc_out} "${rc}" PARENT_SCOPE)
  set(${text_out} "${out}" PARENT_SCOPE)
endfunction()

function(self_test scratch)
  set(failures "")
  write_tree("${scratch}/clean" ${clean_tree})
  run_check("${scratch}/clean" rc out)
  if(NOT rc EQUAL 0)
    string(APPEND failures "the clean tree was rejected:\n${out}\n")
  endif()

  list(LENGTH fault_cases n)
  math(EXPR last "${n} - 1")
  foreach(i RANGE 0 ${last} 4)
    math(EXPR i_path "${i} + 1")
    math(EXPR i_content "${i} + 2")
    math(EXPR i_expect "${i} + 3")
    list(GET fault_cases ${i} name)
    list(GET fault_cases ${i_path} path)
    list(GET fault_cases ${i_content} content)
    list(GET fault_cases ${i_expect} expect)
    write_tree("${scratch}/${name}" ${clean_tree} "${path}" "${content}")
    run_check("${scratch}/${name}" rc out)
    if(rc EQUAL 0)
      string(APPEND failures "${name}: the check passed a tree with a fault:\n${out}\n")
    elseif(NOT out MATCHES "${expect}")
      string(APPEND failures "${name}: the report does not say '${expect}':\n${out}\n")
    elseif(NOT out MATCHES "(^|[^0-9])1 include boundary fault")
      string(APPEND failures "${name}: expected exactly one fault:\n${out}\n")
    endif()
  endforeach()
  file(REMOVE_RECURSE "${scratch}")
  if(failures)
    message(FATAL_ERROR "check_includes self test:\n${failures}")
  endif()
  math(EXPR cases "${n} / 4")
  message(STATUS "check_includes self test: the clean tree passes, ${cases} faulty trees are caught")
endfunction()

if(DEFINED SELF_TEST)
  self_test("${SELF_TEST}")
elseif(DEFINED ROOT)
  check_tree()
else()
  message(FATAL_ERROR "usage: cmake -DROOT=<source tree> -P check_includes.cmake\n"
                      "       cmake -DSELF_TEST=<scratch folder> -P check_includes.cmake")
endif()
