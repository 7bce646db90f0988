# The Windows cross build runs its tests under Wine in CI, where compile time
# counts: test code (and GoogleTest, built from source here) is compiled
# lightly optimised and without debug information, which halves its cost.
# The program's own code, which the tests exercise, keeps the build type's
# flags, as in the rook.exe that ships.
if(CMAKE_CROSSCOMPILING AND TARGET rook_tests)
  set(ROOK_TEST_CODE_FLAGS -O1 -g0)
  target_compile_options(rook_tests PRIVATE ${ROOK_TEST_CODE_FLAGS})
  foreach(gtest_target gtest gtest_main)
    if(TARGET ${gtest_target})
      target_compile_options(${gtest_target} PRIVATE ${ROOK_TEST_CODE_FLAGS})
    endif()
  endforeach()
endif()
if(MINGW)
  # The static container libraries are built with one section per function;
  # what rook.exe never calls is left out.
  target_link_options(rook PRIVATE -Wl,--gc-sections)
endif()
