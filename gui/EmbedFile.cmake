# cmake -DINPUT=file -DOUTPUT=file.cpp -DSYMBOL=name -P EmbedFile.cmake
# Writes a C++ source defining `const unsigned char gui::SYMBOL[]` with the bytes of INPUT and
# `const std::size_t gui::SYMBOLSize`, as declared in gui/EmbeddedFonts.h.
file(READ ${INPUT} hex HEX)
string(LENGTH "${hex}" digits)
math(EXPR size "${digits} / 2")
# 32 bytes a line.
string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," bytes "${hex}")
string(REGEX REPLACE "((0x..,){32})" "\\1\n    " bytes "${bytes}")
get_filename_component(name ${INPUT} NAME)
file(WRITE ${OUTPUT}.tmp
"// Generated at build time from ${name}; do not edit.
#include \"gui/EmbeddedFonts.h\"

namespace gui {

extern const unsigned char ${SYMBOL}[] = {
    ${bytes}
};
extern const std::size_t ${SYMBOL}Size = ${size};

} // namespace gui
")
file(RENAME ${OUTPUT}.tmp ${OUTPUT})
