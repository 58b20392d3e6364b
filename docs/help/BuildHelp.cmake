# Builds the help file at build time (cmake -P), so that a missing compiler fails only this step
# with a message that says what to do, and installing it needs no re-configure.
#   SOURCE_DIR  the folder of the pages and the project files
#   WORK_DIR    a scratch folder in the build tree
#   OUTPUT      the help file to write
#   HTML_DIR    where the pages and their contents are copied for the program's help window
#   FILES       the pages, style sheet and project files, separated by "|"

find_program(CHMCMD chmcmd)
if(NOT CHMCMD)
  message(FATAL_ERROR
    "chmcmd was not found: it compiles the help file \"Dravix V1.0.CHM\".\n"
    "Run scripts/setup.sh (it installs the Debian package fp-utils), then build again.")
endif()

string(REPLACE "|" ";" FILES "${FILES}")
file(REMOVE_RECURSE "${WORK_DIR}")
file(MAKE_DIRECTORY "${WORK_DIR}" "${HTML_DIR}")
foreach(name IN LISTS FILES)
  file(COPY "${SOURCE_DIR}/${name}" DESTINATION "${WORK_DIR}")
  # The help window reads the same contents file as the help compiler.
  if(name MATCHES "\\.(html|css)$" OR name STREQUAL "toc.hhc")
    file(COPY "${SOURCE_DIR}/${name}" DESTINATION "${HTML_DIR}")
    # A copy keeps the source's time; the build needs to see the copy as new.
    file(TOUCH_NOCREATE "${HTML_DIR}/${name}")
  endif()
endforeach()

# The project names a plain file; the name with its blank is given when it is copied out.
execute_process(
  COMMAND "${CHMCMD}" --verbosity 1 Dravix.hhp
  WORKING_DIRECTORY "${WORK_DIR}"
  RESULT_VARIABLE result
  OUTPUT_VARIABLE log
  ERROR_VARIABLE log)
set(compiled "${WORK_DIR}/Dravix.chm")
if(NOT result EQUAL 0 OR NOT EXISTS "${compiled}")
  message(FATAL_ERROR "chmcmd could not build the help file (exit ${result}):\n${log}")
endif()
file(SIZE "${compiled}" size)
if(size LESS 8192)
  message(FATAL_ERROR "chmcmd wrote a help file of only ${size} bytes:\n${log}")
endif()
file(COPY_FILE "${compiled}" "${OUTPUT}")
