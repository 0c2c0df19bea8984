# Turns the font atlas file into the game's font table, each glyph cropped
# to its size's cell: the file keeps every glyph in a slot as large as the
# largest cell (26 x 42), and the game needs only each cell's bytes.
#   -DINPUT=atlas.bin -DOUTPUT=file.cpp -DHEADER=display/font.h -DNAME=Table
#   -DSLOT=bytes -DGLYPHS=count -DCELLS=w1xh1,w2xh2,...
# The file's size is checked so that a truncated or stale asset fails the
# build instead of showing garbage on screen.
string(REPLACE "," ";" CELLS "${CELLS}")
list(LENGTH CELLS size_count)
math(EXPR expected "${SLOT} * ${GLYPHS} * ${size_count}")
file(SIZE ${INPUT} size)
if(NOT size EQUAL expected)
  message(FATAL_ERROR "${INPUT}: ${size} bytes, expected ${expected}")
endif()
file(READ ${INPUT} hex HEX)
set(cropped "")
set(slot_index 0)
foreach(cell IN LISTS CELLS)
  string(REPLACE "x" ";" cell "${cell}")
  list(GET cell 0 width)
  list(GET cell 1 height)
  math(EXPR glyph_digits "${width} * ${height} * 2")
  foreach(glyph RANGE 1 ${GLYPHS})
    math(EXPR offset "${slot_index} * ${SLOT} * 2")
    string(SUBSTRING "${hex}" ${offset} ${glyph_digits} glyph_hex)
    string(APPEND cropped "${glyph_hex}")
    math(EXPR slot_index "${slot_index} + 1")
  endforeach()
endforeach()
get_filename_component(source_name ${INPUT} NAME)
include(${CMAKE_CURRENT_LIST_DIR}/byte_table.cmake)
vmx_write_byte_table("${cropped}" ${source_name})
