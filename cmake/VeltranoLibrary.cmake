# veltrano_library(NAME [DEPS lib...]): a static library of every .cpp in the calling folder,
# included from the project root ("dsp/CFirFilter.h"), built with our warnings.
function(veltrano_library name)
    cmake_parse_arguments(ARG "" "" "DEPS" ${ARGN})
    file(GLOB sources CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*.cpp)
    if(sources)
        add_library(${name} STATIC ${sources})
        target_include_directories(${name} PUBLIC ${PROJECT_SOURCE_DIR})
        target_link_libraries(${name} PRIVATE veltrano_options PUBLIC ${ARG_DEPS})
    else()
        add_library(${name} INTERFACE)
        target_include_directories(${name} INTERFACE ${PROJECT_SOURCE_DIR})
        target_link_libraries(${name} INTERFACE ${ARG_DEPS})
    endif()
endfunction()

# veltrano_test_suite(NAME [LIBS lib...]): one GoogleTest program of every *Test.cpp in the
# calling folder; each test case becomes a CTest test.
function(veltrano_test_suite name)
    cmake_parse_arguments(ARG "" "" "LIBS;DEFINES" ${ARGN})
    file(GLOB sources CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*Test.cpp)
    if(NOT sources)
        return()
    endif()
    add_executable(${name} ${sources})
    target_link_libraries(${name} PRIVATE veltrano_options ${ARG_LIBS} GTest::gtest GTest::gtest_main)
    target_include_directories(${name} PRIVATE ${PROJECT_SOURCE_DIR} ${PROJECT_SOURCE_DIR}/tests)
    if(ARG_DEFINES)
        target_compile_definitions(${name} PRIVATE ${ARG_DEFINES})
    endif()
    gtest_discover_tests(${name} DISCOVERY_MODE PRE_TEST DISCOVERY_TIMEOUT 60)
endfunction()

# veltrano_regenerate_test(NAME TOOL COMMITTED_FOLDER FILES file... [FILE_ARGUMENT]): a test that
# the committed generated sources are exactly what the tool writes (see cmake/Regenerate.cmake).
function(veltrano_regenerate_test name tool committed)
    cmake_parse_arguments(ARG "FILE_ARGUMENT" "" "FILES" ${ARGN})
    if(NOT VELTRANO_TESTS)
        return()
    endif()
    add_test(NAME ${name}.regenerate
        COMMAND ${CMAKE_COMMAND}
            -DTOOL=$<TARGET_FILE:${tool}>
            -DFOLDER=${CMAKE_CURRENT_BINARY_DIR}/regenerate
            -DCOMMITTED=${committed}
            "-DFILES=${ARG_FILES}"
            -DFILE_ARGUMENT=${ARG_FILE_ARGUMENT}
            -P ${PROJECT_SOURCE_DIR}/cmake/Regenerate.cmake)
endfunction()

# veltrano_python_test(NAME MODULE COMMAND args...): a test run by the first python3 that can
# import MODULE. Debian's python3 packages serve /usr/bin/python3, which need not be the first
# python3 on PATH, so that one is tried first. Without such an interpreter the test skips (77).
function(veltrano_python_test name module)
    find_program(VELTRANO_PATH_PYTHON3 python3)
    set(python "")
    foreach(candidate /usr/bin/python3 ${VELTRANO_PATH_PYTHON3})
        if(python STREQUAL "" AND EXISTS "${candidate}")
            execute_process(COMMAND ${candidate} -c "import ${module}"
                            RESULT_VARIABLE missing OUTPUT_QUIET ERROR_QUIET)
            if(missing EQUAL 0)
                set(python ${candidate})
            endif()
        endif()
    endforeach()
    if(python)
        add_test(NAME ${name} COMMAND ${python} ${ARGN})
    else()
        add_test(NAME ${name} COMMAND sh -c "echo 'no python3 with ${module}: skipped'; exit 77")
    endif()
    set_tests_properties(${name} PROPERTIES SKIP_RETURN_CODE 77)
endfunction()
