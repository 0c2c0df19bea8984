# Writes bytes, given as hex digits, as a read-only table compiled into the
# game: OUTPUT holds NAME[count], declared in HEADER. Used by the embedding
# scripts run with cmake -P.
function(vmx_write_byte_table hex source_name)
  string(LENGTH "${hex}" digits)
  math(EXPR count "${digits} / 2")
  # 32 bytes (64 hex digits) to a line.
  string(REPEAT "[0-9a-f]" 64 line_pattern)
  string(REGEX REPLACE "(${line_pattern})" "\\1\n" lines "${hex}")
  string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," bytes "${lines}")
  file(WRITE ${OUTPUT}
       "// Generated from ${source_name}; do not edit.\n#include \"${HEADER}\"\n\n"
       "alignas(16) const std::uint8_t ${NAME}[${count}] = {\n${bytes}};\n")
endfunction()
