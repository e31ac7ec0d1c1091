# velomar_message_texts(<output.cpp> ENGLISH <rc> GERMAN <rc> IDS <resource.h>
#                       [FUNCTION <name>])
#
# Generates <output.cpp> (a path in the build tree) from the two string tables through
# generate_message_texts.cmake, again whenever either file, the header or the generator
# changes. The file defines <name>() (default MessageTextTable, see master/message_texts.h)
# and is compiled by whichever target lists it among its sources.
include_guard(GLOBAL)

function(velomar_message_texts output)
  cmake_parse_arguments(PARSE_ARGV 1 texts "" "ENGLISH;GERMAN;IDS;FUNCTION" "")
  if(NOT texts_ENGLISH OR NOT texts_GERMAN OR NOT texts_IDS)
    message(FATAL_ERROR "velomar_message_texts: ENGLISH, GERMAN and IDS are required")
  endif()
  set(generator ${CMAKE_CURRENT_FUNCTION_LIST_DIR}/generate_message_texts.cmake)
  if(NOT texts_FUNCTION)
    set(texts_FUNCTION MessageTextTable)
  endif()
  add_custom_command(OUTPUT ${output}
    COMMAND ${CMAKE_COMMAND} -DENGLISH_RC=${texts_ENGLISH} -DGERMAN_RC=${texts_GERMAN}
      -DRESOURCE_H=${texts_IDS} -DOUTPUT=${output} -DTABLE_FUNCTION=${texts_FUNCTION}
      -P ${generator}
    DEPENDS ${texts_ENGLISH} ${texts_GERMAN} ${texts_IDS} ${generator}
    COMMENT "Message texts from the string tables: ${output}"
    VERBATIM)
endfunction()
