# tarvo_basic_firmware_header(TARGET ROOT): generates, in the build tree,
# the header of the demo BASIC's keyword table and RAM layout (from the
# firmware's own sources, by basic_keywords.cmake) and gives it to TARGET.
function(tarvo_basic_firmware_header target root)
  set(header ${CMAKE_BINARY_DIR}/generated/basic_firmware.h)
  add_custom_command(
    OUTPUT ${header}
    COMMAND ${CMAKE_COMMAND} -DBASIC=${root}/firmware/demo/basic.s
            -DDEFS=${root}/firmware/demo/defs.s -DOUT=${header}
            -P ${root}/cmake/basic_keywords.cmake
    DEPENDS ${root}/firmware/demo/basic.s ${root}/firmware/demo/defs.s
            ${root}/cmake/basic_keywords.cmake
    COMMENT "BASIC keywords from the demo firmware")
  target_sources(${target} PRIVATE ${header})
  target_include_directories(${target} PRIVATE ${CMAKE_BINARY_DIR}/generated)
endfunction()
