# Writes a C++ header with what the host tools need to know of the demo
# firmware's BASIC, read from its own sources: the keyword table (in token
# order) and the names given a plain number with equ (token values, RAM
# layout). Run as cmake -DBASIC=basic.s -DDEFS=defs.s -DOUT=header -P.
set(names)
set(body "")
set(keywords)
foreach(src ${DEFS} ${BASIC})
  file(STRINGS ${src} lines)
  set(in_table FALSE)
  foreach(line IN LISTS lines)
    if(line MATCHES "^keywords:")
      set(in_table TRUE)
      set(table_text "")
      continue()
    endif()
    if(in_table)
      if(line MATCHES "^[ \t]+db[ \t]+([^;]*)")
        string(APPEND table_text ",${CMAKE_MATCH_1}")
        continue()
      endif()
      # The table ends with its first line that is not db: an empty word.
      string(REGEX REPLACE "[ \t]" "" packed "${table_text}")
      if(NOT packed MATCHES ",0,0$")
        message(FATAL_ERROR "${src}: the keyword table does not end in 0,0")
      endif()
      string(REGEX MATCHALL "\"[^\"]*\"" keywords "${table_text}")
      set(in_table FALSE)
    endif()
    if(line MATCHES "^([A-Z][A-Z0-9_]*)[ \t]+equ[ \t]+(&H[0-9A-Fa-f]+|[0-9]+)[ \t]*(;.*)?$")
      set(name ${CMAKE_MATCH_1})
      set(value ${CMAKE_MATCH_2})
      if(value MATCHES "^&H(.*)$")
        set(value "0x${CMAKE_MATCH_1}")
      endif()
      string(APPEND body "inline constexpr uint32_t ${name} = ${value};\n")
    endif()
  endforeach()
endforeach()
list(LENGTH keywords count)
if(count EQUAL 0)
  message(FATAL_ERROR "${BASIC}: no keyword table")
endif()
string(JOIN ",\n    " table ${keywords})
file(WRITE ${OUT}.tmp "// Generated from the demo firmware's sources at build time: do not edit.
#pragma once

#include <array>
#include <cstdint>
#include <string_view>

namespace tarvo::basic_firmware {

${body}
// The keywords in token order: the first is token 0x80.
inline constexpr std::array<std::string_view, ${count}> kKeywords = {
    ${table}};

}  // namespace tarvo::basic_firmware
")
file(COPY_FILE ${OUT}.tmp ${OUT} ONLY_IF_DIFFERENT)
file(REMOVE ${OUT}.tmp)
