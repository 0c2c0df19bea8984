# Turns a binary asset into a read-only byte table compiled into the game.
#   -DINPUT=file -DOUTPUT=file.cpp -DHEADER=display/x.h -DNAME=Table -DSIZE=bytes
# The size is checked so that a truncated or stale asset fails the build
# instead of showing garbage on screen.
file(SIZE ${INPUT} size)
if(NOT size EQUAL SIZE)
  message(FATAL_ERROR "${INPUT}: ${size} bytes, expected ${SIZE}")
endif()
file(READ ${INPUT} hex HEX)
get_filename_component(source_name ${INPUT} NAME)
include(${CMAKE_CURRENT_LIST_DIR}/byte_table.cmake)
vmx_write_byte_table("${hex}" ${source_name})
