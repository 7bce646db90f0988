# Installing rook and packaging it: a Debian package on Linux
# (rook_VERSION_amd64.deb), a zip on Windows. Needs ROOK_VERSION
# (cmake/version.cmake).
include(GNUInstallDirs)

# Optimised builds ship a stripped program; its debug information is kept
# beside it in rook.debug (rook.exe.debug), which gdb finds through the debug
# link. Sanitizer and fuzz builds keep theirs inside.
if(CMAKE_BUILD_TYPE MATCHES "^(Release|RelWithDebInfo|MinSizeRel)$" AND CMAKE_OBJCOPY
   AND NOT ROOK_SANITIZE AND NOT ROOK_FUZZ)
  add_custom_command(TARGET rook POST_BUILD
    COMMAND ${CMAKE_OBJCOPY} --only-keep-debug $<TARGET_FILE_NAME:rook> $<TARGET_FILE_NAME:rook>.debug
    COMMAND ${CMAKE_OBJCOPY} --strip-all $<TARGET_FILE_NAME:rook>
    COMMAND ${CMAKE_OBJCOPY} --add-gnu-debuglink=$<TARGET_FILE_NAME:rook>.debug $<TARGET_FILE_NAME:rook>
    WORKING_DIRECTORY $<TARGET_FILE_DIR:rook>
    COMMENT "Debug information of rook into its own file"
    VERBATIM)
endif()

set(ROOK_DOCS ${CMAKE_SOURCE_DIR}/README.md ${CMAKE_SOURCE_DIR}/docs/json.md
    ${CMAKE_SOURCE_DIR}/docs/timesketch.md ${CMAKE_SOURCE_DIR}/docs/copyright)
if(WIN32)
  # The zip: rook.exe, README, docs and rook's copyright file at the top, the
  # manual page under docs/, the licence texts of every library linked into
  # rook.exe under licenses/.
  install(TARGETS rook RUNTIME DESTINATION .)
  install(FILES ${ROOK_DOCS} DESTINATION .)
  install(FILES ${CMAKE_SOURCE_DIR}/docs/rook.1 DESTINATION docs)
  if(ROOK_WINDOWS_DEPS AND EXISTS ${ROOK_WINDOWS_DEPS}/licenses)
    file(GLOB dependency_licenses ${ROOK_WINDOWS_DEPS}/licenses/*.copyright)
    install(FILES ${dependency_licenses} DESTINATION licenses)
  endif()
  # The compiler's runtime (libstdc++, libgcc, winpthreads) is linked in too.
  foreach(runtime gcc-mingw-w64-base mingw-w64-common)
    if(EXISTS /usr/share/doc/${runtime}/copyright)
      install(FILES /usr/share/doc/${runtime}/copyright DESTINATION licenses RENAME ${runtime}.copyright)
    endif()
  endforeach()
  set(CPACK_GENERATOR ZIP)
  set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY OFF)
  set(CPACK_PACKAGE_FILE_NAME rook-${ROOK_VERSION}-win64)
else()
  install(TARGETS rook RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
  # Debian ships manual pages gzipped (-n: no name or time inside, so the
  # same page gives the same bytes). Made when configuring, so that packaging
  # what the README builds (rook alone) finds it.
  find_program(ROOK_GZIP gzip)
  set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/docs/rook.1)
  if(ROOK_GZIP)
    execute_process(COMMAND ${ROOK_GZIP} -9nc ${CMAKE_SOURCE_DIR}/docs/rook.1
                    OUTPUT_FILE ${CMAKE_BINARY_DIR}/rook.1.gz RESULT_VARIABLE gzip_result)
  endif()
  if(ROOK_GZIP AND gzip_result EQUAL 0)
    install(FILES ${CMAKE_BINARY_DIR}/rook.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
  else()
    install(FILES ${CMAKE_SOURCE_DIR}/docs/rook.1 DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
  endif()
  install(FILES ${ROOK_DOCS} DESTINATION ${CMAKE_INSTALL_DOCDIR})
  set(CPACK_GENERATOR DEB)
  set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
  set(CPACK_DEBIAN_PACKAGE_SECTION utils)
  # The shared libraries rook was linked with (libewf, libvshadow, zlib, ...)
  # become the package's dependencies.
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
endif()

set(CPACK_PACKAGE_NAME rook)
set(CPACK_PACKAGE_VERSION ${ROOK_VERSION})
set(CPACK_PACKAGE_VENDOR "rook developers")
set(CPACK_PACKAGE_CONTACT "rook developers <rook@localhost>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "forensic reader of Windows shortcuts, jump lists and NTFS volumes")
# Lines under 80 characters, as Debian's control files want them.
set(CPACK_PACKAGE_DESCRIPTION
"rook decodes Windows shortcut (.lnk) files and jump lists, finds them on NTFS
volumes through the master file table (deleted ones included), in disk images,
VMware disks, E01 evidence files, split raw images, VHD, VHDX and QCOW disks
and shadow copies, carves shortcut records out of raw bytes, and writes a
report per record as text, CSV, log2timeline CSV, a body file (mactime), JSON
Lines or Timesketch's import format, and beside any of them an HTML report
with a timeline.")
set(CPACK_PACKAGE_CHECKSUM SHA256)
set(CPACK_OUTPUT_FILE_PREFIX packages)
# Packaging takes what is built (the README builds rook first). Building
# everything again here would relink rook under tests that run it.
set(CMAKE_SKIP_INSTALL_ALL_DEPENDENCY TRUE)
include(CPack)

# Builds the package from the built tree and installs it into a scratch root.
if(ROOK_TESTS AND NOT CMAKE_CROSSCOMPILING)
  add_test(NAME Package COMMAND ${CMAKE_SOURCE_DIR}/tests/package_test.sh ${CMAKE_BINARY_DIR})
  set_tests_properties(Package PROPERTIES SKIP_RETURN_CODE 77 RUN_SERIAL TRUE)
endif()
