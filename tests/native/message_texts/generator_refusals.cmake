# The message texts generator on string tables it must refuse: each case changes one
# thing in a pair that it reads, and must stop the generator with the file and line of
# the fault and leave no table behind. The unchanged pair comes first, so a generator
# that refused everything could not pass.
#
#   cmake -DGENERATOR=<generate_message_texts.cmake> -DWORK_DIR=<dir> -P generator_refusals.cmake
cmake_minimum_required(VERSION 3.20)

set(header [[
#define IDS_ONE 1
#define IDS_TWO 2
]])
# Line 4 holds string 1, line 5 string 2, in both files.
set(english [[
#pragma code_page(65001)
STRINGTABLE
BEGIN
    IDS_ONE "One"
    IDS_TWO "Two of %u"
END
]])
set(german [[
#pragma code_page(65001)
STRINGTABLE
BEGIN
    IDS_ONE "Größe"
    IDS_TWO "Zwei von %u"
END
]])
string(ASCII 228 latin1_a_umlaut)  # "ä" as a Latin-1 file holds it
string(ASCII 195 utf8_lead)        # the first of the two bytes of "ä" in UTF-8
string(ASCII 239 187 191 bom)      # the mark some editors put before UTF-8
string(ASCII 237 160 128 surrogate) # U+D800, which UTF-8 may not encode
string(ASCII 224 131 164 overlong)  # "ä" in three bytes instead of two

set(failures "")
set(case_number 0)

# Runs the generator on the pair with `from` replaced by `to` in `file` (english, german
# or header; nothing replaced when `from` is empty) and records a failure unless its
# error names `where` (the file's name and line, "en.rc:4") followed by `reason` (a
# regular expression); with an empty `where` it must succeed instead.
function(expect file from to where reason)
  math(EXPR number "${case_number} + 1")
  set(case_number ${number} PARENT_SCOPE)
  set(dir "${WORK_DIR}/${number}")
  file(REMOVE_RECURSE "${dir}")
  set(en "${english}")
  set(de "${german}")
  set(ids "${header}")
  set(target en)
  if(file STREQUAL "german")
    set(target de)
  elseif(file STREQUAL "header")
    set(target ids)
  endif()
  if(NOT from STREQUAL "")
    string(FIND "${${target}}" "${from}" at)
    if(at EQUAL -1)
      set(failures "${failures}\ncase ${number}: \"${from}\" is not in the ${file} file" PARENT_SCOPE)
      return()
    endif()
    string(REPLACE "${from}" "${to}" changed "${${target}}")
    set(${target} "${changed}")
  endif()
  file(WRITE "${dir}/en.rc" "${en}")
  file(WRITE "${dir}/de.rc" "${de}")
  file(WRITE "${dir}/resource.h" "${ids}")
  execute_process(
    COMMAND ${CMAKE_COMMAND} -DENGLISH_RC=${dir}/en.rc -DGERMAN_RC=${dir}/de.rc
      -DRESOURCE_H=${dir}/resource.h -DOUTPUT=${dir}/texts.cpp -P ${GENERATOR}
    RESULT_VARIABLE result OUTPUT_VARIABLE output ERROR_VARIABLE error)
  # CMake wraps its error messages; one blank between words again.
  string(REGEX REPLACE "[ \t\r\n]+" " " error "${error}")
  if(where STREQUAL "")
    if(NOT result EQUAL 0 OR NOT EXISTS "${dir}/texts.cpp")
      set(failures "${failures}\ncase ${number}: refused the readable pair: ${error}" PARENT_SCOPE)
    endif()
    return()
  endif()
  string(REPLACE "." "\\." where_pattern "${where}")
  if(result EQUAL 0)
    set(failures "${failures}\ncase ${number}: accepted \"${to}\" in the ${file} file" PARENT_SCOPE)
  elseif(NOT error MATCHES "/${where_pattern}: ${reason}")
    set(failures "${failures}\ncase ${number}: expected \"${where}: ${reason}\", got: ${error}" PARENT_SCOPE)
  elseif(EXISTS "${dir}/texts.cpp")
    set(failures "${failures}\ncase ${number}: refused but wrote the table" PARENT_SCOPE)
  endif()
endfunction()

expect(english "" "" "" "")

# Lines that are no entry the generator can read.
expect(english [["One"]] [["One]] en.rc:4 "cannot read")
expect(english [["One"]] [["On" "e"]] en.rc:4 "cannot read")
expect(english [["One"]] [[L"One"]] en.rc:4 "cannot read")
expect(english "IDS_ONE \"" "IDS_ONE+0 \"" en.rc:4 "cannot read")
expect(english [["One"]] [["One" /* note */]] en.rc:4 "cannot read")

# Escapes the windows would show differently, or not as C reads them.
expect(english [["One"]] [["O\""ne"]] en.rc:4 "write a quote")
expect(english [["One"]] [["One\a"]] en.rc:4 [[the escape \\a]])
expect(german [["Größe"]] [["\x47röße"]] de.rc:4 [[the escape \\x]])
expect(german [["Größe"]] [["Gr\303\266\303\237e"]] de.rc:4 [[the escape \\3]])

# Identifiers.
expect(english "IDS_ONE" "IDS_THREE" en.rc:4 "IDS_THREE is not a number")
expect(header "IDS_TWO 2" "IDS_TWO two" en.rc:5 "IDS_TWO is not a number")
expect(english "IDS_ONE" "65536" en.rc:4 "string identifier 65536 is outside")
expect(english "IDS_TWO" "IDS_ONE" en.rc:5 "string 1 again; it was on line 4")
expect(german "IDS_TWO" "0x1" de.rc:5 "string 1 again; it was on line 4")

# The two languages drifting apart.
expect(german "    IDS_TWO \"Zwei von %u\"\n" "" en.rc:5 "string 2 has no German text")
expect(english "    IDS_TWO \"Two of %u\"\n" "" de.rc:5 "string 2 has no English text")
expect(german "%u" "%s" de.rc:5 "string 2 converts \"%s\" but English \\(line 5\\) \"%u\"")
expect(german "%u" "%u (50 % davon)" de.rc:5 "string 2 converts \"%u % d\"")
expect(german "%u" "%lu" de.rc:5 "string 2 converts")

# Bytes that are not UTF-8, or UTF-8 the resource compiler would take for another code page.
expect(german "Größe" "Gr${latin1_a_umlaut}n" de.rc:4 "the text is not well-formed UTF-8")
expect(german "Größe" "Größe${utf8_lead}" de.rc:4 "the text is not well-formed UTF-8")
expect(german "Größe" "Gr${surrogate}" de.rc:4 "the text is not well-formed UTF-8")
expect(german "Größe" "Gr${overlong}" de.rc:4 "the text is not well-formed UTF-8")
expect(german "#pragma code_page(65001)" "// no code page" de.rc:4 "text beyond ASCII before")
expect(german "#pragma code_page(65001)" "${bom}#pragma code_page(65001)" "" "")
expect(german "#pragma code_page(65001)" "#pragma code_page(1252)" de.rc:4 "text beyond ASCII before")

# The tables' frame.
expect(english "STRINGTABLE" "STRINGTABLE DISCARDABLE" en.rc:2 "only a comment may follow")
expect(english "BEGIN" "LANGUAGE 9, 1" en.rc:3 "expected BEGIN after the STRINGTABLE of line 2")
expect(english "END\n" "" en.rc:2 "the STRINGTABLE has no END")
expect(english "    IDS_TWO" "#ifdef EXTRA\n    IDS_TWO" en.rc:5 "no preprocessor lines")
expect(english "STRINGTABLE\nBEGIN\n    IDS_ONE \"One\"\n    IDS_TWO \"Two of %u\"\nEND\n" ""
  en.rc:1 "no string-table entries")

if(NOT failures STREQUAL "")
  message(FATAL_ERROR "message texts generator:${failures}")
endif()
message(STATUS "message texts generator: ${case_number} cases as expected")
