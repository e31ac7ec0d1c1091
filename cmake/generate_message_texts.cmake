# Writes the message texts table: every string-table entry of the English and the German
# resource file with both texts as UTF-8 C++ literals, ascending by identifier.
#
#   cmake -DENGLISH_RC=<file> -DGERMAN_RC=<file> -DRESOURCE_H=<file> -DOUTPUT=<file.cpp>
#         [-DTABLE_FUNCTION=<name>] -P generate_message_texts.cmake
#
# The windows load these texts from the compiled resources and the console prints them
# from this table, so the table must read the string tables exactly as the resource
# compiler does. It reads what our files use and refuses, with the file and line,
# everything else instead of guessing:
#
#   STRINGTABLE                      (nothing else on the line but a // comment)
#   BEGIN or {
#       <id> [,] "<text>"  [// comment]
#   END or }
#
# <id> is a decimal or 0x number, or a name that RESOURCE_H #defines to one. In <text>,
# "" is a quote and \n \t \r \\ are the C escapes; any other backslash is refused (the
# resource compiler turns \a into a backspace and takes \x and octal escapes as code-page
# bytes). Bytes beyond ASCII must be well-formed UTF-8 in a file that says
# #pragma code_page(65001) first. Blank and // comment lines may stand anywhere.
#
# Beside reading, the two files must agree: every identifier in both, and the same printf
# conversions in the same order in both texts, since a front end passes the same
# arguments whichever language it shows.
cmake_minimum_required(VERSION 3.20)

foreach(required ENGLISH_RC GERMAN_RC RESOURCE_H OUTPUT)
  if(NOT DEFINED ${required})
    message(FATAL_ERROR "generate_message_texts: -D${required}=... is missing")
  endif()
endforeach()
if(NOT DEFINED TABLE_FUNCTION)
  set(TABLE_FUNCTION MessageTextTable)
endif()

# Blank or tab, for the patterns below.
set(blank "[ \t]")

# Stops the build at `line` of `file`.
function(refuse file line reason)
  message(FATAL_ERROR "${file}:${line}: ${reason}")
endfunction()

# The lines of `path` as <prefix>_1 ... <prefix>_<count> and <prefix>_count, without their
# line ends (file(READ) already gives CR LF as LF). Not a CMake list: texts may hold ';'
# and brackets.
function(read_lines path prefix)
  if(NOT EXISTS "${path}")
    message(FATAL_ERROR "generate_message_texts: ${path} does not exist")
  endif()
  file(READ "${path}" content)
  string(SUBSTRING "${content}" 0 3 head)
  string(HEX "${head}" head)
  if(head STREQUAL "efbbbf")
    string(SUBSTRING "${content}" 3 -1 content)
  endif()
  set(count 0)
  while(NOT content STREQUAL "")
    string(FIND "${content}" "\n" end)
    if(end EQUAL -1)
      set(line "${content}")
      set(content "")
    else()
      string(SUBSTRING "${content}" 0 ${end} line)
      math(EXPR end "${end} + 1")
      string(SUBSTRING "${content}" ${end} -1 content)
    endif()
    math(EXPR count "${count} + 1")
    set(${prefix}_${count} "${line}" PARENT_SCOPE)
  endwhile()
  set(${prefix}_count ${count} PARENT_SCOPE)
endfunction()

# The numeric #defines of the resource header, as define_<NAME> (decimal) in the caller.
function(read_defines path)
  read_lines("${path}" header)
  set(number 1)
  while(number LESS_EQUAL header_count)
    set(line "${header_${number}}")
    if(line MATCHES "^${blank}*#${blank}*define${blank}+([A-Za-z_][A-Za-z0-9_]*)${blank}+(-?[0-9]+|0[xX][0-9A-Fa-f]+)${blank}*(//.*)?$")
      math(EXPR value "${CMAKE_MATCH_2}")
      set(define_${CMAKE_MATCH_1} ${value} PARENT_SCOPE)
    endif()
    math(EXPR number "${number} + 1")
  endwhile()
endfunction()

# `text` (between the quotes, as written in the resource file) as the body of a C++
# literal in <out>. Bytes beyond ASCII become three-digit octal escapes: unlike \x, an
# octal escape cannot swallow the letter after it, and the literal means the same UTF-8
# bytes whatever character set the compiler assumes for its source. `utf8` is the
# caller's: whether the file has said #pragma code_page(65001) by this line.
function(text_to_literal file line text out)
  string(LENGTH "${text}" length)
  set(literal "")
  set(position 0)
  # UTF-8 continuation bytes still owed to the last lead byte, and the range the next
  # one must lie in (narrower after some leads: no overlong forms, no surrogates, no
  # code point beyond U+10FFFF).
  set(continuations 0)
  set(low 128)
  set(high 191)
  while(position LESS length)
    string(SUBSTRING "${text}" ${position} 1 char)
    string(HEX "${char}" hex)
    math(EXPR byte "0x${hex}")
    math(EXPR position "${position} + 1")
    if(continuations GREATER 0)
      if(byte LESS low OR byte GREATER high)
        refuse("${file}" ${line} "the text is not well-formed UTF-8")
      endif()
      math(EXPR continuations "${continuations} - 1")
      set(low 128)
      set(high 191)
    elseif(byte GREATER_EQUAL 128)
      if(byte GREATER_EQUAL 194 AND byte LESS_EQUAL 223)
        set(continuations 1)
      elseif(byte GREATER_EQUAL 224 AND byte LESS_EQUAL 239)
        set(continuations 2)
        if(byte EQUAL 224)
          set(low 160)
        elseif(byte EQUAL 237)
          set(high 159)
        endif()
      elseif(byte GREATER_EQUAL 240 AND byte LESS_EQUAL 244)
        set(continuations 3)
        if(byte EQUAL 240)
          set(low 144)
        elseif(byte EQUAL 244)
          set(high 143)
        endif()
      else()
        refuse("${file}" ${line} "the text is not well-formed UTF-8")
      endif()
      if(NOT utf8)
        refuse("${file}" ${line} "text beyond ASCII before #pragma code_page(65001)")
      endif()
    endif()

    if(byte GREATER_EQUAL 128 OR byte LESS 32 OR byte EQUAL 127)
      math(EXPR d1 "${byte} / 64")
      math(EXPR d2 "(${byte} / 8) % 8")
      math(EXPR d3 "${byte} % 8")
      string(APPEND literal "\\${d1}${d2}${d3}")
    elseif(char STREQUAL "\"")
      # The line's pattern lets a quote inside the text come only doubled.
      math(EXPR position "${position} + 1")
      string(APPEND literal "\\\"")
    elseif(char STREQUAL "\\")
      string(SUBSTRING "${text}" ${position} 1 escape)
      math(EXPR position "${position} + 1")
      if(escape STREQUAL "n")
        string(APPEND literal "\\n")
      elseif(escape STREQUAL "t")
        string(APPEND literal "\\t")
      elseif(escape STREQUAL "r")
        string(APPEND literal "\\r")
      elseif(escape STREQUAL "\\")
        string(APPEND literal "\\\\")
      elseif(escape STREQUAL "\"")
        refuse("${file}" ${line} "write a quote in a text as \"\", not \\\"")
      else()
        refuse("${file}" ${line} "the escape \\${escape} is not read here")
      endif()
    else()
      string(APPEND literal "${char}")
    endif()
  endwhile()
  if(continuations GREATER 0)
    refuse("${file}" ${line} "the text is not well-formed UTF-8")
  endif()
  set(${out} "${literal}" PARENT_SCOPE)
endfunction()

# The printf conversions of `text`, in order, joined by spaces ("%s %u"); "%%" is none.
function(conversions_of text out)
  string(REGEX MATCHALL "%[-+ #0]*[0-9*]*(\\.[0-9*]*)?(hh|h|ll|l|L|z|j|t|I64|I32|I)?[A-Za-z%]" found "${text}")
  list(REMOVE_ITEM found "%%")
  list(JOIN found " " found)
  set(${out} "${found}" PARENT_SCOPE)
endfunction()

# Reads every string table of `path` into the caller's <language>_ids (a list of
# decimal identifiers) and, per identifier, <language>_line_<id>, <language>_name_<id>
# (the name written, or empty), <language>_text_<id> (C++ literal body) and
# <language>_format_<id> (its conversions).
function(read_string_tables path language)
  read_lines("${path}" rc)
  set(ids "")
  set(utf8 OFF)
  set(state outside)  # outside, header (after STRINGTABLE), inside (after BEGIN)
  set(tables 0)
  set(number 1)
  while(number LESS_EQUAL rc_count)
    set(line "${rc_${number}}")
    string(TOUPPER "${line}" upper)
    if(line MATCHES "^${blank}*(//.*)?$")
      # blank or comment
    elseif(state STREQUAL "outside")
      if(line MATCHES "^${blank}*#${blank}*pragma${blank}+code_page${blank}*\\(([^)]*)\\)")
        string(STRIP "${CMAKE_MATCH_1}" page)
        if(page STREQUAL "65001")
          set(utf8 ON)
        else()
          set(utf8 OFF)
        endif()
      elseif(upper MATCHES "^${blank}*STRINGTABLE([^A-Z0-9_].*)?$")
        if(NOT upper MATCHES "^${blank}*STRINGTABLE${blank}*(//.*)?$")
          refuse("${path}" ${number} "only a comment may follow STRINGTABLE on its line")
        endif()
        set(state header)
        set(table_line ${number})
        math(EXPR tables "${tables} + 1")
      endif()
    elseif(state STREQUAL "header")
      if(upper MATCHES "^${blank}*(BEGIN|\\{)${blank}*(//.*)?$")
        set(state inside)
      else()
        refuse("${path}" ${number} "expected BEGIN after the STRINGTABLE of line ${table_line}")
      endif()
    elseif(upper MATCHES "^${blank}*(END|\\})${blank}*(//.*)?$")
      set(state outside)
    elseif(line MATCHES "^${blank}*#")
      refuse("${path}" ${number} "no preprocessor lines inside a STRINGTABLE")
    elseif(line MATCHES "^${blank}*(0[xX][0-9A-Fa-f]+|[0-9]+|[A-Za-z_][A-Za-z0-9_]*)${blank}*,?${blank}*\"((\"\"|[^\"])*)\"${blank}*(//.*)?$")
      set(written "${CMAKE_MATCH_1}")
      set(text "${CMAKE_MATCH_2}")
      if(written MATCHES "^[0-9]")
        math(EXPR id "${written}")
        set(name "")
      elseif(DEFINED define_${written})
        set(id ${define_${written}})
        set(name "${written}")
      else()
        refuse("${path}" ${number} "${written} is not a number that ${RESOURCE_H} #defines")
      endif()
      if(id LESS 0 OR id GREATER 65535)
        refuse("${path}" ${number} "string identifier ${id} is outside 0 to 65535")
      endif()
      if(DEFINED ${language}_line_${id})
        refuse("${path}" ${number} "string ${id} again; it was on line ${${language}_line_${id}}")
      endif()
      text_to_literal("${path}" ${number} "${text}" literal)
      conversions_of("${text}" format)
      list(APPEND ids ${id})
      set(${language}_line_${id} ${number})
      set(${language}_line_${id} ${number} PARENT_SCOPE)
      set(${language}_name_${id} "${name}" PARENT_SCOPE)
      set(${language}_text_${id} "${literal}" PARENT_SCOPE)
      set(${language}_format_${id} "${format}" PARENT_SCOPE)
    else()
      refuse("${path}" ${number} "cannot read this string-table line (expected: <id> \"<text>\")")
    endif()
    math(EXPR number "${number} + 1")
  endwhile()
  if(NOT state STREQUAL "outside")
    refuse("${path}" ${table_line} "the STRINGTABLE has no END")
  endif()
  if(tables EQUAL 0 OR ids STREQUAL "")
    refuse("${path}" 1 "no string-table entries")
  endif()
  set(${language}_ids "${ids}" PARENT_SCOPE)
endfunction()

read_defines("${RESOURCE_H}")
read_string_tables("${ENGLISH_RC}" english)
read_string_tables("${GERMAN_RC}" german)

foreach(id IN LISTS english_ids)
  if(NOT DEFINED german_line_${id})
    refuse("${ENGLISH_RC}" ${english_line_${id}} "string ${id} has no German text in ${GERMAN_RC}")
  endif()
  if(NOT english_format_${id} STREQUAL german_format_${id})
    refuse("${GERMAN_RC}" ${german_line_${id}}
      "string ${id} converts \"${german_format_${id}}\" but English (line ${english_line_${id}}) \"${english_format_${id}}\"")
  endif()
endforeach()
foreach(id IN LISTS german_ids)
  if(NOT DEFINED english_line_${id})
    refuse("${GERMAN_RC}" ${german_line_${id}} "string ${id} has no English text in ${ENGLISH_RC}")
  endif()
endforeach()

get_filename_component(english_file "${ENGLISH_RC}" NAME)
get_filename_component(german_file "${GERMAN_RC}" NAME)
get_filename_component(header_file "${RESOURCE_H}" NAME)
set(ids ${english_ids})
list(SORT ids COMPARE NATURAL)
set(rows "")
foreach(id IN LISTS ids)
  set(name "${english_name_${id}}")
  if(name STREQUAL "")
    set(name "${german_name_${id}}")
  endif()
  string(APPEND rows "    {${id}, \"${english_text_${id}}\", \"${german_text_${id}}\"},")
  if(NOT name STREQUAL "")
    string(APPEND rows "  // ${name}")
  endif()
  string(APPEND rows "\n")
endforeach()

file(WRITE "${OUTPUT}" "// Generated at build time by generate_message_texts.cmake from ${english_file},
// ${german_file} and ${header_file}: change those, not this file.
#include \"message_texts.h\"

namespace {

// Identifier, English, German.
constexpr MessageTextEntry kEntries[] = {
${rows}};

static_assert(MessageTextsAscending(kEntries), \"MessageText searches the table by halves\");

}  // namespace

std::span<const MessageTextEntry> ${TABLE_FUNCTION}() {
    return kEntries;
}
")
