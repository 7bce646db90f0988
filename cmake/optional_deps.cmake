# Container libraries that rook can do without: zlib (compressed grains of
# stream-optimized VMware disks), libdeflate (the same grains, inflated in
# about half zlib's time; also QCOW's compressed clusters), libewf (E01
# evidence files, with libbfio when it is there) and wimlib (the XPRESS and
# LZX chunks of WOF-compressed NTFS files). Each is looked for only when
# its option is on; a missing one only turns its feature off. Everything
# found travels on one interface target.
option(ROOK_WITH_ZLIB "Read stream-optimized VMware disks (needs zlib)" ON)
option(ROOK_WITH_LIBDEFLATE "Inflate compressed VMware grains with libdeflate" ON)
option(ROOK_WITH_LIBEWF "Read E01 evidence files (needs libewf)" ON)
option(ROOK_WITH_WIMLIB "Read WOF-compressed NTFS files (needs wimlib)" ON)

add_library(rook_optional_deps INTERFACE)
# The build machine's pkg-config describes the build machine's libraries,
# which a cross build must not link. A cross build looks in the toolchain's
# search paths and, when ROOK_WINDOWS_DEPS names the prefix that
# tools/windows_deps.sh filled, first there, with pkg-config reading only
# that prefix; its static libraries are linked with everything they need.
set(ROOK_WINDOWS_DEPS "" CACHE PATH "Prefix of the cross-built container libraries (tools/windows_deps.sh)")
set(ROOK_STATIC_DEPS OFF)
if(NOT CMAKE_CROSSCOMPILING)
  find_package(PkgConfig QUIET)
elseif(ROOK_WINDOWS_DEPS)
  if(NOT EXISTS ${ROOK_WINDOWS_DEPS}/lib/pkgconfig)
    message(FATAL_ERROR "rook: ROOK_WINDOWS_DEPS=${ROOK_WINDOWS_DEPS} holds no lib/pkgconfig")
  endif()
  # Another prefix: what the last one gave is looked for again.
  if(NOT "${ROOK_WINDOWS_DEPS}" STREQUAL "${ROOK_WINDOWS_DEPS_SEEN}")
    get_cmake_property(cached CACHE_VARIABLES)
    foreach(variable IN LISTS cached)
      if(variable MATCHES "^(ZLIB_(INCLUDE_DIR|LIBRARY_RELEASE|LIBRARY_DEBUG)|ROOK_LIB[A-Z]+_.*_(DIR|LIBRARY)|__pkg_config_checked_.*)$")
        unset(${variable} CACHE)
      endif()
    endforeach()
    set(ROOK_WINDOWS_DEPS_SEEN "${ROOK_WINDOWS_DEPS}" CACHE INTERNAL "Prefix the cached library paths come from")
  endif()
  list(PREPEND CMAKE_FIND_ROOT_PATH ${ROOK_WINDOWS_DEPS})
  set(ENV{PKG_CONFIG_LIBDIR} ${ROOK_WINDOWS_DEPS}/lib/pkgconfig)
  set(ENV{PKG_CONFIG_PATH} "")
  set(ENV{PKG_CONFIG_SYSROOT_DIR} "")
  find_package(PkgConfig QUIET)
  set(ROOK_STATIC_DEPS ON)
endif()

if(ROOK_WITH_ZLIB)
  # rook.exe carries zlib inside: no DLL beyond those Windows has.
  if(MINGW)
    set(ZLIB_USE_STATIC_LIBS ON)
  endif()
  find_package(ZLIB QUIET)
  if(ZLIB_FOUND)
    target_link_libraries(rook_optional_deps INTERFACE ZLIB::ZLIB)
    target_compile_definitions(rook_optional_deps INTERFACE ROOK_HAVE_ZLIB=1)
    message(STATUS "rook: zlib found, stream-optimized VMware disks are read")
  else()
    message(STATUS "rook: zlib not found, stream-optimized VMware disks are refused")
  endif()
endif()

# Looks for a library through pkg-config (MODULES), else by its headers and
# library names; what it finds goes on rook_optional_deps and <prefix>_AVAILABLE
# tells whether everything was found.
function(rook_find_optional prefix)
  cmake_parse_arguments(ARG "" "" "MODULES;HEADERS;LIBRARIES" ${ARGN})
  set(found FALSE)
  if(PkgConfig_FOUND)
    pkg_check_modules(${prefix} QUIET IMPORTED_TARGET ${ARG_MODULES})
    if(${prefix}_FOUND AND ROOK_STATIC_DEPS)
      # Libs.private too: a static library names what it needs only there.
      target_include_directories(rook_optional_deps INTERFACE ${${prefix}_STATIC_INCLUDE_DIRS})
      target_link_libraries(rook_optional_deps INTERFACE ${${prefix}_STATIC_LDFLAGS})
      set(found TRUE)
    elseif(${prefix}_FOUND)
      target_link_libraries(rook_optional_deps INTERFACE PkgConfig::${prefix})
      set(found TRUE)
    endif()
  endif()
  if(NOT found)
    set(found TRUE)
    set(directories)
    set(libraries)
    foreach(header IN LISTS ARG_HEADERS)
      string(MAKE_C_IDENTIFIER "${header}" name)
      find_path(${prefix}_${name}_DIR ${header})
      if(${prefix}_${name}_DIR)
        list(APPEND directories ${${prefix}_${name}_DIR})
      else()
        set(found FALSE)
      endif()
    endforeach()
    foreach(library IN LISTS ARG_LIBRARIES)
      find_library(${prefix}_${library}_LIBRARY ${library})
      if(${prefix}_${library}_LIBRARY)
        list(APPEND libraries ${${prefix}_${library}_LIBRARY})
      else()
        set(found FALSE)
      endif()
    endforeach()
    if(found)
      target_include_directories(rook_optional_deps INTERFACE ${directories})
      target_link_libraries(rook_optional_deps INTERFACE ${libraries})
    endif()
  endif()
  set(${prefix}_AVAILABLE ${found} PARENT_SCOPE)
endfunction()

if(ROOK_WITH_LIBDEFLATE)
  rook_find_optional(ROOK_LIBDEFLATE MODULES libdeflate HEADERS libdeflate.h LIBRARIES deflate)
  if(ROOK_LIBDEFLATE_AVAILABLE)
    target_compile_definitions(rook_optional_deps INTERFACE ROOK_HAVE_LIBDEFLATE=1)
    message(STATUS "rook: libdeflate found, it inflates compressed VMware grains")
  else()
    message(STATUS "rook: libdeflate not found, zlib inflates compressed VMware grains")
  endif()
endif()

if(ROOK_WITH_LIBEWF)
  rook_find_optional(ROOK_LIBEWF MODULES libewf HEADERS libewf.h LIBRARIES ewf)
  if(ROOK_LIBEWF_AVAILABLE)
    target_compile_definitions(rook_optional_deps INTERFACE ROOK_HAVE_LIBEWF=1)
    message(STATUS "rook: libewf found, E01 evidence files are read")
  else()
    message(STATUS "rook: libewf not found, E01 evidence files are refused")
  endif()
endif()

# libewf reads its segment files through libbfio handles that rook fills
# from its own read-only file layer, when libbfio's headers are there. It is
# linked after libewf, whose copy of libbfio's calls then serves every caller:
# a handle made by one copy must not be read by another. A static libewf
# (the Windows build) keeps its copy to itself and opens segments by name.
if(ROOK_WITH_LIBEWF AND ROOK_LIBEWF_AVAILABLE AND NOT ROOK_STATIC_DEPS)
  rook_find_optional(ROOK_LIBBFIO MODULES libbfio HEADERS libbfio.h LIBRARIES bfio)
  if(ROOK_LIBBFIO_AVAILABLE)
    target_compile_definitions(rook_optional_deps INTERFACE ROOK_HAVE_LIBBFIO=1)
    message(STATUS "rook: libbfio found, libewf reads evidence through rook's file layer")
  endif()
endif()

# A static wimlib (the Windows build) names the libxml2 it needs in its
# Requires.private, which pkg-config's static flags resolve in the same
# prefix.
if(ROOK_WITH_WIMLIB)
  rook_find_optional(ROOK_WIMLIB MODULES wimlib HEADERS wimlib.h LIBRARIES wim)
  if(ROOK_WIMLIB_AVAILABLE)
    target_compile_definitions(rook_optional_deps INTERFACE ROOK_HAVE_WIMLIB=1)
    message(STATUS "rook: wimlib found, WOF-compressed NTFS files are read")
  else()
    message(STATUS "rook: wimlib not found, WOF-compressed NTFS files are named, not read")
  endif()
endif()

# Not optional, but carried the same way: the workers that decode container
# blocks ahead of a scan are std::threads.
find_package(Threads REQUIRED)
target_link_libraries(rook_optional_deps INTERFACE Threads::Threads)
