# Fails when a file under src/ includes a folder above its own. The layers,
# lowest first: platform < devices < game < display < shell; nothing in src/
# includes the emulator, the simulator or the tests. The game, which reads no
# clock and makes no system call, includes neither the clock nor the OS door,
# and of the devices only the words it speaks: button codes and tones; the
# display, which draws the game, includes nothing of the devices. Within the
# game the modules include one way too, in the order below: a module includes
# only those before it, so that no two of them need each other.
set(layers platform devices game display shell)
set(game_modules playfield world outbox rng trig stars layouts balls score level lasers capsules
    motion game)
file(GLOB_RECURSE sources "${SOURCE_DIR}/src/*.h" "${SOURCE_DIR}/src/*.cpp")
set(failures "")
foreach(source IN LISTS sources)
  file(RELATIVE_PATH relative "${SOURCE_DIR}/src" "${source}")
  string(REGEX MATCH "^[a-z_]+" own "${relative}")
  list(FIND layers "${own}" own_rank)
  file(STRINGS "${source}" includes REGEX "^#include \"")
  foreach(line IN LISTS includes)
    string(REGEX MATCH "\"([a-z_]+)/" _ "${line}")
    set(folder "${CMAKE_MATCH_1}")
    list(FIND layers "${folder}" rank)
    if(rank GREATER own_rank OR folder MATCHES "^(emulator|sim|tests)$")
      list(APPEND failures "src/${relative}: ${line}")
    elseif(own STREQUAL "game" AND line MATCHES "\"platform/(os|clock)\\.h\"")
      list(APPEND failures "src/${relative}: ${line} (the game makes no system call)")
    elseif(own STREQUAL "game" AND folder STREQUAL "devices"
           AND NOT line MATCHES "\"devices/(button_code|tone)\\.h\"")
      list(APPEND failures "src/${relative}: ${line} (the game calls no device)")
    elseif(own STREQUAL "display" AND folder STREQUAL "devices")
      list(APPEND failures "src/${relative}: ${line} (the display draws the game, not the devices)")
    elseif(own STREQUAL "game" AND folder STREQUAL "game")
      get_filename_component(module "${relative}" NAME_WE)
      string(REGEX MATCH "game/([a-z_]+)\\.h" _ "${line}")
      list(FIND game_modules "${module}" module_rank)
      list(FIND game_modules "${CMAKE_MATCH_1}" included_rank)
      if(module_rank LESS 0 OR included_rank LESS 0)
        list(APPEND failures "src/${relative}: ${line} (a game module missing from game_modules)")
      elseif(included_rank GREATER module_rank)
        list(APPEND failures "src/${relative}: ${line} (a game module includes one after it)")
      endif()
    endif()
  endforeach()
endforeach()
if(failures)
  list(JOIN failures "\n" text)
  message(FATAL_ERROR "includes that point up a layer, out of the game or back within it:\n${text}")
endif()
