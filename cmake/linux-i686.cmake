# 32-bit x86 Linux with the host's multilib GCC (gcc-multilib, g++-multilib) and the i386
# libraries of Debian's multiarch. SSE2 arithmetic, as on every other target: with the x87 unit
# the results would carry its extended precision. Where the kernel runs no 32-bit programs, the
# tests run through qemu-i386-static.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR i686)
set(CMAKE_C_COMPILER gcc)
set(CMAKE_CXX_COMPILER g++)
set(CMAKE_LIBRARY_ARCHITECTURE i386-linux-gnu)
set(CMAKE_C_FLAGS_INIT "-m32 -msse2 -mfpmath=sse")
set(CMAKE_CXX_FLAGS_INIT "-m32 -msse2 -mfpmath=sse")
foreach(kind EXE SHARED MODULE)
    set(CMAKE_${kind}_LINKER_FLAGS_INIT "-m32")
endforeach()
execute_process(COMMAND /lib/ld-linux.so.2 --version RESULT_VARIABLE native_result
                OUTPUT_QUIET ERROR_QUIET)
if(NOT native_result EQUAL 0)
    find_program(VELTRANO_QEMU_I386 qemu-i386-static REQUIRED)
    set(CMAKE_CROSSCOMPILING_EMULATOR ${VELTRANO_QEMU_I386})
endif()
