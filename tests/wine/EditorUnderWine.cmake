# wine_editor_check: the Windows program that drives the plug-in DLL's editor under Wine
# (scripts/wine-editor.sh). Only in a Windows build with VELTRANO_WINE_EDITOR_CHECK on.
add_executable(wine_editor_check ${CMAKE_CURRENT_LIST_DIR}/EditorUnderWine.cpp)
target_link_libraries(wine_editor_check PRIVATE veltrano_options veltrano_gui user32 gdi32)
target_include_directories(wine_editor_check PRIVATE ${PROJECT_SOURCE_DIR})
target_link_options(wine_editor_check PRIVATE -static -static-libgcc -static-libstdc++)
set_target_properties(wine_editor_check PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${PROJECT_BINARY_DIR})
add_dependencies(wine_editor_check VeltranoVST)
