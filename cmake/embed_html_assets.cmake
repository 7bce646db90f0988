# Writes the C++ source that holds the HTML report's page, style and script
# (report/html_assets/) as string literals, so the program carries them and
# the report needs no file beside it:
#   cmake -DASSETS=DIR -DOUTPUT=FILE -P embed_html_assets.cmake
set(delimiter "rook_asset")

function(embed_asset variable file function_name forbidden)
  file(READ "${ASSETS}/${file}" text)
  string(FIND "${text}" ")${delimiter}\"" clash)
  if(NOT clash EQUAL -1)
    message(FATAL_ERROR "${file} holds the literal's delimiter )${delimiter}\"")
  endif()
  # A closing tag inside an inlined style or script would end it early.
  string(TOLOWER "${text}" lowered)
  foreach(tag ${forbidden})
    string(FIND "${lowered}" "${tag}" at)
    if(NOT at EQUAL -1)
      message(FATAL_ERROR "${file} holds \"${tag}\", which would end its element in the page")
    endif()
  endforeach()
  set(${variable} "${${variable}}std::string_view ${function_name}() {\n  static constexpr char text[] = R\"${delimiter}(${text})${delimiter}\";\n  return {text, sizeof text - 1};\n}\n\n" PARENT_SCOPE)
endfunction()

set(source "// Made by cmake/embed_html_assets.cmake from report/html_assets/; do not edit.\n#include \"report/html_assets.h\"\n\nnamespace lnk {\n\n")
embed_asset(source report.html html_page_template "")
embed_asset(source report.css html_page_style "</style")
embed_asset(source report.js html_page_script "</script;<!--")
string(APPEND source "}  // namespace lnk\n")

# Written only when it changes, so an unchanged page does not rebuild the library.
if(EXISTS "${OUTPUT}")
  file(READ "${OUTPUT}" previous)
  if(previous STREQUAL source)
    return()
  endif()
endif()
file(WRITE "${OUTPUT}" "${source}")
