# cmake -DSOURCE_DIR=... -DOUTPUT=... [-DGIT=git] -P source_revision.cmake
# Writes the source file that defines lnk::source_revision(): `git describe`
# of SOURCE_DIR (a hash when no tag is near, "-dirty" for uncommitted
# changes), or "unknown" outside a git checkout.
set(revision unknown)
if(GIT AND EXISTS ${SOURCE_DIR}/.git)
  execute_process(COMMAND ${GIT} -C ${SOURCE_DIR} describe --always --dirty --tags
                  OUTPUT_VARIABLE described OUTPUT_STRIP_TRAILING_WHITESPACE
                  RESULT_VARIABLE status ERROR_QUIET)
  if(status EQUAL 0 AND described)
    set(revision ${described})
  endif()
endif()
set(text "// Generated at build time by cmake/source_revision.cmake.\n#include \"cmdline/version_text.h\"\n\nconst char* lnk::source_revision() { return \"${revision}\"; }\n")
if(EXISTS ${OUTPUT})
  file(READ ${OUTPUT} old)
endif()
if(NOT old STREQUAL text)
  file(WRITE ${OUTPUT} "${text}")
endif()
