# Warnings are kept at zero; CI makes them errors. Contraction of float
# multiply-adds is off so that the simulation gives the same numbers on the
# goggles and on the host.
function(vmx_warnings target)
  target_compile_options(${target} PRIVATE -Wall -Wextra -ffp-contract=off)
  if(VMX_WERROR)
    target_compile_options(${target} PRIVATE -Werror)
  endif()
endfunction()
