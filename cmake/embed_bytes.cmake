# Turns a binary asset into a read-only byte table compiled into the game.
#   -DINPUT=file -DOUTPUT=file.cpp -DHEADER=display/x.h -DNAME=Table -DSIZE=bytes
# The size is checked so that a truncated or stale asset fails the build
# instead of showing garbage on screen.
file(SIZE ${INPUT} size)
if(NOT size EQUAL SIZE)
  message(FATAL_ERROR "${INPUT}: ${size} bytes, expected ${SIZE}")
endif()
file(READ ${INPUT} hex HEX)
# 32 bytes (64 hex digits) to a line.
string(REPEAT "[0-9a-f]" 64 line_pattern)
string(REGEX REPLACE "(${line_pattern})" "\\1\n" lines "${hex}")
string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," bytes "${lines}")
get_filename_component(source_name ${INPUT} NAME)
file(WRITE ${OUTPUT}
     "// Generated from ${source_name}; do not edit.\n#include \"${HEADER}\"\n\n"
     "alignas(16) const std::uint8_t ${NAME}[${SIZE}] = {\n${bytes}};\n")
