# What keeps the test command within five minutes on two cores. Measured on a fresh build folder:
# most of the time went to compiling, and most of that to parsing GoogleTest and CLI11 again in
# every file and to generating their code again in every file.
#  - The test groups build as unity builds: each group's files compile as one or a few
#    translation units, so GoogleTest's templates are instantiated and generated once per batch.
#  - They share one precompiled header of GoogleTest and the standard headers they all use,
#    made once by a small target with the groups' flags (a precompiled header is only taken by a
#    compile with the same flags; extra definitions and include folders are fine).
#  - In the sanitizer build the programs' option parsers, the files that include CLI11, are
#    compiled without optimisation (-O0): clang with the sanitizers spends three times as long
#    on them at -O1, and the sanitizers check them all the same. Everything else keeps its -O1:
#    the tests' own code at -O0 ran up to twenty times slower (pixel loops, fault sweeps).
# The settings are applied once every target exists (deferred to the end of the top directory),
# after the top directory has given the tests and front ends their -O1.

# Batches of this many files: most groups become one or two translation units, and the build
# still has enough of them to keep both cores busy to the end.
set(VR_TEST_UNITY_BATCH 8 CACHE STRING "Test files compiled together in one unity batch")

# The precompiled header's owner: built with what every group has in common (made here, where
# GoogleTest's targets are known). Its one source file is written into the build folder, since
# every .cpp file in a folder of tests/ makes a test group.
file(CONFIGURE OUTPUT ${CMAKE_CURRENT_BINARY_DIR}/vr_test_pch_anchor.cpp
     CONTENT "// The owner of the test groups' precompiled header; it holds no tests.\n")
add_executable(vr_test_pch ${CMAKE_CURRENT_BINARY_DIR}/vr_test_pch_anchor.cpp)
target_link_libraries(vr_test_pch PRIVATE vrsim_static vrtrack_static GTest::gtest
                                          GTest::gtest_main)
target_include_directories(vr_test_pch PRIVATE ${CMAKE_CURRENT_SOURCE_DIR}/support)
target_precompile_headers(vr_test_pch PRIVATE ${CMAKE_CURRENT_LIST_DIR}/test_pch.h)

function(vr_test_speed_apply)
  get_property(groups GLOBAL PROPERTY VR_TEST_TARGETS)
  list(APPEND groups test_hardware test_demo)
  set(present "")
  foreach(t ${groups})
    if(TARGET ${t})
      list(APPEND present ${t})
    endif()
  endforeach()
  if(NOT present)
    return()
  endif()

  target_compile_options(vr_test_pch PRIVATE -O1)
  # In a unity batch each test file is an included file, for which GCC warns that a test's class
  # derives from a fixture in the file's anonymous namespace (meant for headers shared between
  # files; each batch is one file of its own).
  set(unity_opt "")
  if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU")
    set(unity_opt -Wno-subobject-linkage)
  endif()
  target_compile_options(vr_test_pch PRIVATE ${unity_opt})
  foreach(t ${present})
    target_precompile_headers(${t} REUSE_FROM vr_test_pch)
    target_compile_options(${t} PRIVATE ${unity_opt})
    set_target_properties(${t} PROPERTIES UNITY_BUILD ON
                                          UNITY_BUILD_BATCH_SIZE ${VR_TEST_UNITY_BATCH})
  endforeach()

  if(VR_SANITIZE)
    foreach(t vrcapd vrsim-serve vrtrack-info vrpn-serve vrcalib vrdemo vrquality)
      if(NOT TARGET ${t})
        continue()
      endif()
      get_target_property(dir ${t} SOURCE_DIR)
      get_target_property(sources ${t} SOURCES)
      foreach(src ${sources})
        cmake_path(ABSOLUTE_PATH src BASE_DIRECTORY ${dir})
        file(STRINGS ${src} cli REGEX "^#include <CLI/")
        if(cli)
          set_source_files_properties(${src} TARGET_DIRECTORY ${t} PROPERTIES COMPILE_OPTIONS -O0)
        endif()
      endforeach()
    endforeach()
  endif()
endfunction()

cmake_language(DEFER DIRECTORY ${PROJECT_SOURCE_DIR} CALL vr_test_speed_apply)
