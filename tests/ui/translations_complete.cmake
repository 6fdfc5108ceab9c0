# Fails when a text of the windows (or an engine message they show) has no English translation:
# lupdate collects the texts of today's sources into a copy of the translation file, which must then
# have no entry left unfinished. Run by CTest with LUPDATE, LUPDATE_OPTIONS, GENERATOR, PROJECT_CMAKE,
# TS and WORK set.
file(MAKE_DIRECTORY ${WORK})
file(COPY_FILE ${TS} ${WORK}/veltra_en.ts)
execute_process(COMMAND ${CMAKE_COMMAND} -DIN_FILE=${PROJECT_CMAKE} -DOUT_FILE=${WORK}/project.json -P ${GENERATOR}
    RESULT_VARIABLE result)
if(result)
    message(FATAL_ERROR "cannot write the lupdate project: ${result}")
endif()
execute_process(COMMAND ${LUPDATE} -project ${WORK}/project.json -ts ${WORK}/veltra_en.ts ${LUPDATE_OPTIONS}
    RESULT_VARIABLE result OUTPUT_VARIABLE output ERROR_VARIABLE output)
if(result)
    message(FATAL_ERROR "lupdate failed: ${output}")
endif()
file(STRINGS ${WORK}/veltra_en.ts lines)
set(source "")
set(missing "")
foreach(line IN LISTS lines)
    if(line MATCHES "<source>(.*)</source>")
        set(source "${CMAKE_MATCH_1}")
    elseif(line MATCHES "type=\"unfinished\"")
        string(APPEND missing "\n  ${source}")
    endif()
endforeach()
if(missing)
    message(FATAL_ERROR "texts without an English translation (build the target update_translations and "
        "translate them in ${TS}):${missing}")
endif()
message(STATUS "every text has its English translation")
