# Fails when the game's objects hold writable data that the architecture
# page does not list: every variable that outlives a call belongs to a
# record its owner passes down, except the few listed in the page's table
# of process-wide state (the first column, in backticks). Reads the symbols
# of the game's library with nm; what the compiler (the unwinder's
# personality reference) and the sanitizers add is not the game's.
execute_process(COMMAND "${NM}" --defined-only --demangle "${LIBRARY}"
                OUTPUT_VARIABLE symbols RESULT_VARIABLE status)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "nm could not read ${LIBRARY}")
endif()
file(STRINGS "${SOURCE_DIR}/docs/architecture.md" rows REGEX "^\\| `[A-Za-z_:]+`")
set(listed "")
foreach(row IN LISTS rows)
  string(REGEX MATCH "^\\| `([A-Za-z_:]+)`" _ "${row}")
  list(APPEND listed "${CMAKE_MATCH_1}")
endforeach()
if(NOT listed)
  message(FATAL_ERROR "no process-wide state found in docs/architecture.md")
endif()

string(REPLACE "\n" ";" lines "${symbols}")
set(found "")
set(failures "")
foreach(line IN LISTS lines)
  # Writable data: the symbol kinds of .bss and .data, and their variants.
  if(NOT line MATCHES "^[0-9a-fA-F]+ [bBdDgGsSuvV] (.+)$")
    continue()
  endif()
  set(name "${CMAKE_MATCH_1}")
  string(REPLACE "(anonymous namespace)::" "" name "${name}")
  if(name MATCHES "^(__asan|___asan|__odr_asan|__sancov|__tsan|__ubsan|DW\\.ref\\.|\\.)")
    continue()
  endif()
  list(APPEND found "${name}")
  list(FIND listed "${name}" index)
  if(index LESS 0)
    list(APPEND failures "${name}")
  endif()
endforeach()
if(NOT found)
  message(FATAL_ERROR "no writable data found in ${LIBRARY}: the check reads nothing")
endif()
if(failures)
  list(REMOVE_DUPLICATES failures)
  list(JOIN failures "\n  " text)
  message(FATAL_ERROR "writable data in the game that docs/architecture.md does not list "
                      "(make it part of a record its owner passes down, or list it with "
                      "its reason):\n  ${text}")
endif()
