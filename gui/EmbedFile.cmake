# cmake -DINPUT=file -DOUTPUT=file.cpp -DSYMBOL=name [-DHEADER=path.h] [-DNAMESPACE=ns]
#       -P EmbedFile.cmake
# Writes a C++ source defining `const unsigned char NAMESPACE::SYMBOL[]` with the bytes of INPUT
# and `const std::size_t NAMESPACE::SYMBOLSize`, as declared in HEADER (included as given, from the
# project root). The defaults are the fonts': HEADER gui/EmbeddedFonts.h, NAMESPACE gui.
if(NOT DEFINED HEADER OR HEADER STREQUAL "")
    set(HEADER gui/EmbeddedFonts.h)
endif()
if(NOT DEFINED NAMESPACE OR NAMESPACE STREQUAL "")
    set(NAMESPACE gui)
endif()
file(READ ${INPUT} hex HEX)
string(LENGTH "${hex}" digits)
math(EXPR size "${digits} / 2")
# 32 bytes a line.
string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," bytes "${hex}")
string(REGEX REPLACE "((0x..,){32})" "\\1\n    " bytes "${bytes}")
get_filename_component(name ${INPUT} NAME)
file(WRITE ${OUTPUT}.tmp
"// Generated at build time from ${name}; do not edit.
#include \"${HEADER}\"

namespace ${NAMESPACE} {

extern const unsigned char ${SYMBOL}[] = {
    ${bytes}
};
extern const std::size_t ${SYMBOL}Size = ${size};

} // namespace ${NAMESPACE}
")
file(RENAME ${OUTPUT}.tmp ${OUTPUT})
