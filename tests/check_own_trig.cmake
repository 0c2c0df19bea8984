# Fails when the game's objects call the C library's trigonometry: each C
# library rounds sinf, cosf and atan2f its own way, so the game's angles
# would differ between the goggles, the desktop and the web page. The game
# has its own (src/game/trig.h). Reads the undefined symbols with nm.
execute_process(COMMAND "${NM}" --undefined-only "${LIBRARY}"
                OUTPUT_VARIABLE symbols RESULT_VARIABLE status)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "nm could not read ${LIBRARY}")
endif()
string(REGEX MATCHALL "[ \t]U (sin|cos|tan|sincos|asin|acos|atan|atan2|sinh|cosh|tanh)[fl]?\n"
       calls "${symbols}")
set(names "")
foreach(call IN LISTS calls)
  string(STRIP "${call}" call)
  string(REGEX REPLACE "^U " "" call "${call}")
  list(APPEND names "${call}")
endforeach()
if(names)
  list(REMOVE_DUPLICATES names)
  list(JOIN names ", " names)
  message(FATAL_ERROR "the game calls the C library's trigonometry: ${names}")
endif()
