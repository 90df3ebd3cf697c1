# Installation. The plug-in goes where Linux hosts look for VST 2 plug-ins, with the manual beside
# it (the Help button opens it there), and the command onto the PATH:
#   - a prefix inside the installing user's home installs for that user: the plug-in and the
#     manual into ~/.vst, the command into PREFIX/bin (cmake --install build --prefix ~/.local
#     puts it into ~/.local/bin);
#   - any other prefix installs for every user: the plug-in into PREFIX/lib/vst
#     (/usr/local/lib/vst by default), the manual into PREFIX/share/veltrano with a link to it
#     beside the plug-in and one in PREFIX/share/doc/veltrano, the command into PREFIX/bin.
#     The file itself stays out of share/doc: systems that leave documentation out (dpkg's
#     path-exclude) would otherwise lose the Help button's page.
# VELTRANO_VST_DIR, when set, is the plug-in's folder whatever the prefix. The prefix is read at
# install time, so --prefix given to cmake --install decides as well. DESTDIR is honoured.
set(VELTRANO_VST_DIR "" CACHE PATH "Where to install the plug-in (empty: chosen by the prefix)")

install(CODE "
set(manual \"${PROJECT_SOURCE_DIR}/resources/help/VeltranoVST.html\")
set(links \"${PROJECT_BINARY_DIR}/install-links\")
set(vst_dir \"${VELTRANO_VST_DIR}\")
string(REGEX REPLACE \"/+$\" \"\" prefix \"\${CMAKE_INSTALL_PREFIX}\")
string(REGEX REPLACE \"/+$\" \"\" home \"\$ENV{HOME}\")
set(for_user OFF)
if(home AND (prefix STREQUAL home OR prefix MATCHES \"^\${home}/\"))
    set(for_user ON)
endif()
if(NOT vst_dir)
    if(for_user)
        set(vst_dir \"\${home}/.vst\")
    else()
        set(vst_dir \"\${prefix}/lib/vst\")
    endif()
endif()
file(INSTALL DESTINATION \"\${vst_dir}\" TYPE MODULE FILES \"$<TARGET_FILE:VeltranoVST>\")
if(CMAKE_INSTALL_DO_STRIP)
    execute_process(COMMAND \"${CMAKE_STRIP}\" --strip-unneeded
                            \"\$ENV{DESTDIR}\${vst_dir}/$<TARGET_FILE_NAME:VeltranoVST>\")
endif()
if(for_user)
    file(INSTALL DESTINATION \"\${vst_dir}\" TYPE FILE FILES \"\${manual}\")
else()
    set(data_dir \"\${prefix}/share/veltrano\")
    set(doc_dir \"\${prefix}/share/doc/veltrano\")
    file(INSTALL DESTINATION \"\${data_dir}\" TYPE FILE FILES \"\${manual}\")
    # Relative links, made here and installed as links (file(INSTALL) keeps a link a link).
    foreach(folder vst doc)
        cmake_path(RELATIVE_PATH data_dir BASE_DIRECTORY \"\${\${folder}_dir}\"
                   OUTPUT_VARIABLE target)
        file(MAKE_DIRECTORY \"\${links}/\${folder}\")
        file(REMOVE \"\${links}/\${folder}/VeltranoVST.html\")
        file(CREATE_LINK \"\${target}/VeltranoVST.html\" \"\${links}/\${folder}/VeltranoVST.html\"
             SYMBOLIC)
        file(INSTALL DESTINATION \"\${\${folder}_dir}\" TYPE FILE
             FILES \"\${links}/\${folder}/VeltranoVST.html\")
    endforeach()
endif()
")
install(TARGETS veltrano RUNTIME DESTINATION bin)
install(FILES ${PROJECT_SOURCE_DIR}/resources/demo/speech-hum-noise.wav
        DESTINATION share/veltrano)

# The manual page (compressed with the program) and the bash completion of its commands and
# options; bash-completion also looks in ~/.local/share for a user's own installs.
set(man_page ${PROJECT_BINARY_DIR}/veltrano.1.gz)
add_custom_command(OUTPUT ${man_page}
    COMMAND gzip -9 -n -c ${PROJECT_SOURCE_DIR}/resources/man/veltrano.1 > ${man_page}
    DEPENDS ${PROJECT_SOURCE_DIR}/resources/man/veltrano.1
    COMMENT "Compressing the manual page"
    VERBATIM)
add_custom_target(veltrano_man_page DEPENDS ${man_page})
add_dependencies(veltrano veltrano_man_page)
install(FILES ${man_page} DESTINATION share/man/man1)
install(FILES ${PROJECT_SOURCE_DIR}/resources/bash-completion/veltrano
        DESTINATION share/bash-completion/completions)
