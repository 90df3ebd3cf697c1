# Installation. The plug-in goes where Linux hosts look for VST 2 plug-ins, with the manual beside
# it (the Help button opens it there), and the command onto the PATH:
#   - a prefix inside the installing user's home installs for that user: the plug-in into
#     ~/.vst, the command into PREFIX/bin (cmake --install build --prefix ~/.local puts it into
#     ~/.local/bin);
#   - any other prefix installs for every user: the plug-in into PREFIX/lib/vst
#     (/usr/local/lib/vst by default), the command into PREFIX/bin.
# VELTRANO_VST_DIR, when set, is the plug-in's folder whatever the prefix. The prefix is read at
# install time, so --prefix given to cmake --install decides as well.
set(VELTRANO_VST_DIR "" CACHE PATH "Where to install the plug-in (empty: chosen by the prefix)")

install(CODE "
set(manual \"${PROJECT_SOURCE_DIR}/resources/help/VeltranoVST.html\")
set(vst_dir \"${VELTRANO_VST_DIR}\")
if(NOT vst_dir)
    string(REGEX REPLACE \"/+$\" \"\" prefix \"\${CMAKE_INSTALL_PREFIX}\")
    string(REGEX REPLACE \"/+$\" \"\" home \"\$ENV{HOME}\")
    if(home AND (prefix STREQUAL home OR prefix MATCHES \"^\${home}/\"))
        set(vst_dir \"\${home}/.vst\")
    else()
        set(vst_dir \"\${prefix}/lib/vst\")
    endif()
endif()
file(INSTALL DESTINATION \"\${vst_dir}\" TYPE MODULE FILES \"$<TARGET_FILE:VeltranoVST>\")
file(INSTALL DESTINATION \"\${vst_dir}\" TYPE FILE FILES \"\${manual}\")
")
install(TARGETS veltrano RUNTIME DESTINATION bin)
install(FILES ${PROJECT_SOURCE_DIR}/resources/demo/speech-hum-noise.wav
        DESTINATION share/veltrano)
