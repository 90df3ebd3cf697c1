# cmake -DOBJDUMP=<mingw objdump> -DDLL=<VeltranoVST.dll> -P CheckDll.cmake
# Fails unless the DLL exports exactly VSTPluginMain and main and imports from system DLLs only:
# anything else would have to be shipped beside the plug-in, and a host would fail to load it.
execute_process(COMMAND ${OBJDUMP} -p ${DLL} OUTPUT_VARIABLE dump RESULT_VARIABLE result)
if(NOT result EQUAL 0)
    message(FATAL_ERROR "objdump -p failed on ${DLL}")
endif()

# Exports: the names listed under the "[Ordinal/Name Pointer] Table" heading.
string(FIND "${dump}" "[Ordinal/Name Pointer] Table" start)
if(start EQUAL -1)
    message(FATAL_ERROR "${DLL} has no export table")
endif()
string(SUBSTRING "${dump}" ${start} -1 exportPart)
string(REGEX MATCHALL "\n[ \t]+\\[ *[0-9]+\\] [^\n]+" exportLines "${exportPart}")
set(exports "")
foreach(line ${exportLines})
    string(REGEX REPLACE "^\n[ \t]+\\[ *[0-9]+\\] " "" name "${line}")
    list(APPEND exports ${name})
endforeach()
list(SORT exports)
if(NOT exports STREQUAL "VSTPluginMain;main")
    message(FATAL_ERROR "${DLL} exports: ${exports}; expected only VSTPluginMain and main")
endif()

# Imports: every "DLL Name:" line, against the system DLLs every Windows has.
set(allowed kernel32 user32 gdi32 shell32 shlwapi comdlg32 comctl32 ole32 oleaut32 advapi32
    msvcrt ucrtbase winmm imm32 uxtheme dwmapi version ws2_32 msimg32 uuid)
string(REGEX MATCHALL "DLL Name: [^\n]+" importLines "${dump}")
set(imports "")
foreach(line ${importLines})
    string(REGEX REPLACE "^DLL Name: " "" name "${line}")
    string(STRIP "${name}" name)
    string(TOLOWER "${name}" lower)
    string(REGEX REPLACE "\\.dll$" "" base "${lower}")
    list(FIND allowed ${base} known)
    if(known EQUAL -1 AND NOT base MATCHES "^api-ms-win-crt-")
        message(FATAL_ERROR "${DLL} imports ${name}, which is no system DLL")
    endif()
    list(APPEND imports ${name})
endforeach()
message(STATUS "${DLL}: exports ${exports}; imports ${imports}")
