# Installs the build into a scratch folder twice and checks where the files land: a prefix
# inside HOME puts the plug-in into HOME/.vst, any other into PREFIX/lib/vst; the manual sits
# beside the plug-in and the command in PREFIX/bin.
# cmake -DBUILD=<build folder> -DSCRATCH=<empty folder> -P CheckInstall.cmake
file(REMOVE_RECURSE ${SCRATCH})
foreach(case "system;${SCRATCH}/usr/local;${SCRATCH}/usr/local/lib/vst"
             "user;${SCRATCH}/home/.local;${SCRATCH}/home/.vst")
    list(GET case 0 name)
    list(GET case 1 prefix)
    list(GET case 2 vst)
    execute_process(
        COMMAND ${CMAKE_COMMAND} -E env HOME=${SCRATCH}/home
                ${CMAKE_COMMAND} --install ${BUILD} --prefix ${prefix}
        RESULT_VARIABLE status OUTPUT_QUIET)
    if(NOT status EQUAL 0)
        message(FATAL_ERROR "${name}: cmake --install failed (${status})")
    endif()
    foreach(file ${vst}/VeltranoVST.so ${vst}/VeltranoVST.html ${prefix}/bin/veltrano
                 ${prefix}/share/veltrano/speech-hum-noise.wav)
        if(NOT EXISTS ${file})
            message(FATAL_ERROR "${name}: ${file} was not installed")
        endif()
    endforeach()
endforeach()
if(EXISTS ${SCRATCH}/home/.local/lib/vst OR EXISTS ${SCRATCH}/usr/local/.vst)
    message(FATAL_ERROR "a plug-in went to both places")
endif()
file(REMOVE_RECURSE ${SCRATCH})
