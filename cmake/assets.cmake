# The assets in assets/ become read-only tables compiled into the game. The
# conversion is done by CMake itself, so that a cross build for the goggles
# needs no program built for the build machine.
set(VMX_GENERATED ${CMAKE_BINARY_DIR}/generated)
file(MAKE_DIRECTORY ${VMX_GENERATED})

add_custom_command(
  OUTPUT ${VMX_GENERATED}/level_layouts.cpp
  COMMAND ${CMAKE_COMMAND} -DINPUT=${CMAKE_SOURCE_DIR}/assets/levels.txt
          -DOUTPUT=${VMX_GENERATED}/level_layouts.cpp -P ${CMAKE_SOURCE_DIR}/cmake/embed_levels.cmake
  DEPENDS ${CMAKE_SOURCE_DIR}/assets/levels.txt ${CMAKE_SOURCE_DIR}/cmake/embed_levels.cmake
  COMMENT "Embedding the level layouts")
list(APPEND VMX_ASSET_SOURCES ${VMX_GENERATED}/level_layouts.cpp)

# The font atlas and the logo mask: raw bytes committed next to the images
# that show them (assets/font/size*.png, assets/logo/logo.png). A unit test
# checks that the two forms agree.
function(vmx_embed_bytes input name size header output)
  add_custom_command(
    OUTPUT ${VMX_GENERATED}/${output}
    COMMAND ${CMAKE_COMMAND} -DINPUT=${CMAKE_SOURCE_DIR}/${input}
            -DOUTPUT=${VMX_GENERATED}/${output} -DHEADER=${header} -DNAME=${name} -DSIZE=${size}
            -P ${CMAKE_SOURCE_DIR}/cmake/embed_bytes.cmake
    DEPENDS ${CMAKE_SOURCE_DIR}/${input} ${CMAKE_SOURCE_DIR}/cmake/embed_bytes.cmake
            ${CMAKE_SOURCE_DIR}/cmake/byte_table.cmake
    COMMENT "Embedding ${input}")
  set(VMX_ASSET_SOURCES ${VMX_ASSET_SOURCES} ${VMX_GENERATED}/${output} PARENT_SCOPE)
endfunction()
# The font's glyphs are kept cropped to their cells: the file's slots are
# sized for the largest.
add_custom_command(
  OUTPUT ${VMX_GENERATED}/font_atlas.cpp
  COMMAND ${CMAKE_COMMAND} -DINPUT=${CMAKE_SOURCE_DIR}/assets/font/atlas.bin
          -DOUTPUT=${VMX_GENERATED}/font_atlas.cpp -DHEADER=display/font.h -DNAME=FontAtlas
          -DSLOT=1092 -DGLYPHS=95 -DCELLS=7x12,13x22,19x31,26x42
          -P ${CMAKE_SOURCE_DIR}/cmake/embed_font.cmake
  DEPENDS ${CMAKE_SOURCE_DIR}/assets/font/atlas.bin ${CMAKE_SOURCE_DIR}/cmake/embed_font.cmake
          ${CMAKE_SOURCE_DIR}/cmake/byte_table.cmake
  COMMENT "Embedding assets/font/atlas.bin, each glyph cropped to its cell"
  VERBATIM)
list(APPEND VMX_ASSET_SOURCES ${VMX_GENERATED}/font_atlas.cpp)
vmx_embed_bytes(assets/logo/logo.bin LogoMask 41200 display/logo.h logo_mask.cpp)
