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
