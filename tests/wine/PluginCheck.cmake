# plugin_check: the descriptor, opcodes, parameters and processed audio of a plug-in binary, in a
# report that must be the same on every platform (scripts/windows-checks.sh compares the Linux
# module's with the Windows DLLs' under Wine). Built with the tests, and alone in builds
# configured with VELTRANO_WINE_CHECKS (the Windows cross-builds).
add_executable(plugin_check ${CMAKE_CURRENT_LIST_DIR}/PluginCheck.cpp
                            ${PROJECT_SOURCE_DIR}/tests/host/VstHost.cpp)
target_include_directories(plugin_check PRIVATE ${PROJECT_SOURCE_DIR} ${PROJECT_SOURCE_DIR}/tests)
target_link_libraries(plugin_check PRIVATE veltrano_options veltrano_common ${CMAKE_DL_LIBS})
set_target_properties(plugin_check PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${PROJECT_BINARY_DIR})
add_dependencies(plugin_check VeltranoVST)
if(WIN32)
    # Runs from any folder under Wine: no compiler runtime DLLs beside it.
    target_link_options(plugin_check PRIVATE -static -static-libgcc -static-libstdc++)
endif()
if(VELTRANO_TESTS)
    add_test(NAME plugin.check
        COMMAND plugin_check $<TARGET_FILE:VeltranoVST> ${PROJECT_BINARY_DIR}/plugin_check.raw 5)
endif()
