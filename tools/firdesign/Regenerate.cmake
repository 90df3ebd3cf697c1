# Runs TOOL to write FILES into FOLDER and fails unless each equals its copy in COMMITTED byte for
# byte.
file(REMOVE_RECURSE ${FOLDER})
file(MAKE_DIRECTORY ${FOLDER})
execute_process(COMMAND ${TOOL} ${FOLDER} RESULT_VARIABLE status)
if(NOT status EQUAL 0)
    message(FATAL_ERROR "${TOOL} failed: ${status}")
endif()
foreach(name ${FILES})
    execute_process(COMMAND ${CMAKE_COMMAND} -E compare_files ${FOLDER}/${name} ${COMMITTED}/${name}
        RESULT_VARIABLE differs)
    if(NOT differs EQUAL 0)
        message(FATAL_ERROR "${COMMITTED}/${name} is not what ${TOOL} writes; regenerate it")
    endif()
endforeach()
