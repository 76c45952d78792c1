# The tool, started from a directory whose path is far longer than MAX_PATH, must still find itself whole: a cut
# path would make it read its configuration and start its child from the wrong place. It names the configuration
# it could not load (here a directory) with the whole path. Wine starts such a program only from the Unix side,
# so this runs as a script rather than a GoogleTest case.
set(deep ${WORK_DIR}/long)
foreach(i RANGE 1 6)
  string(APPEND deep /a-rather-long-directory-name-for-a-cut-over-tool)
endforeach()
file(REMOVE_RECURSE ${WORK_DIR}/long)
file(MAKE_DIRECTORY ${deep}/Switch.ini)
file(COPY ${TOOL} DESTINATION ${deep})
get_filename_component(tool_name ${TOOL} NAME)
execute_process(COMMAND ${WINE_RUN} ${WINEPREFIX} ${deep}/${tool_name} Switch.ini
                OUTPUT_VARIABLE output RESULT_VARIABLE result)
file(REMOVE_RECURSE ${WORK_DIR}/long)
string(REPLACE "/" "\\" windows_deep "Z:${deep}")
string(FIND "${output}" "Error: Cannot load INI file ${windows_deep}\\Switch.ini" found)
if(found EQUAL -1)
  message(FATAL_ERROR "exit code ${result}, output:\n${output}")
endif()
string(LENGTH "${windows_deep}" length)
message(STATUS "program directory of ${length} characters found whole")
