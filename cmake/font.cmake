# The fallback font is compiled into the program from a packaged monospace TrueType font.
set(TARVIK_FALLBACK_FONT "/usr/share/fonts/truetype/dejavu/DejaVuSansMono.ttf" CACHE FILEPATH
  "Monospace TrueType font embedded as the fallback")
if(NOT EXISTS ${TARVIK_FALLBACK_FONT})
  message(FATAL_ERROR "fallback font ${TARVIK_FALLBACK_FONT} not found (install fonts-dejavu-core)")
endif()
set(_font_asm ${CMAKE_BINARY_DIR}/fallback_font.S)
file(WRITE ${_font_asm}.in
"    .section .rodata
    .global tarvik_fallback_font_data
    .global tarvik_fallback_font_end
    .balign 16
tarvik_fallback_font_data:
    .incbin \"${TARVIK_FALLBACK_FONT}\"
tarvik_fallback_font_end:
    .byte 0
    .section .note.GNU-stack,\"\",@progbits
")
configure_file(${_font_asm}.in ${_font_asm} COPYONLY)
set_source_files_properties(${_font_asm} PROPERTIES LANGUAGE C OBJECT_DEPENDS ${TARVIK_FALLBACK_FONT})
enable_language(ASM)
set_source_files_properties(${_font_asm} PROPERTIES LANGUAGE ASM)
set(TARVIK_FONT_SOURCES ${_font_asm})
