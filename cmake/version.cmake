# The program's version, read from the one place the code keeps it, and the
# source revision it is built from, written at every build into a generated
# source file (only when it changed, so nothing else rebuilds).
file(STRINGS ${CMAKE_SOURCE_DIR}/cmdline/usage.h rook_version_line REGEX "kRookVersion = \"ver: [0-9.]+\"")
string(REGEX REPLACE ".*ver: ([0-9.]+).*" "\\1" ROOK_VERSION "${rook_version_line}")

set(ROOK_REVISION_SOURCE ${CMAKE_BINARY_DIR}/generated/source_revision.cpp)
find_package(Git QUIET)
add_custom_target(rook_source_revision
  COMMAND ${CMAKE_COMMAND} -DSOURCE_DIR=${CMAKE_SOURCE_DIR} -DOUTPUT=${ROOK_REVISION_SOURCE}
          -DGIT=${GIT_EXECUTABLE} -P ${CMAKE_SOURCE_DIR}/cmake/source_revision.cmake
  BYPRODUCTS ${ROOK_REVISION_SOURCE}
  COMMENT "Source revision"
  VERBATIM)
# Written once at configure time too, so the first build finds it.
execute_process(COMMAND ${CMAKE_COMMAND} -DSOURCE_DIR=${CMAKE_SOURCE_DIR} -DOUTPUT=${ROOK_REVISION_SOURCE}
                -DGIT=${GIT_EXECUTABLE} -P ${CMAKE_SOURCE_DIR}/cmake/source_revision.cmake)
target_sources(rook_cmdline PRIVATE ${ROOK_REVISION_SOURCE})
add_dependencies(rook_cmdline rook_source_revision)
