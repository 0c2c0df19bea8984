# Warnings are kept at zero; CI makes them errors. Contraction of float
# multiply-adds is off so that the simulation gives the same numbers on the
# goggles and on the host. Both hold for every target of the project, from
# the game to the tools, the tests, the benchmarks and the fuzzers.
add_compile_options(-Wall -Wextra -ffp-contract=off)
if(VMX_WERROR)
  add_compile_options(-Werror)
endif()
