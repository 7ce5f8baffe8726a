# Guards of the fixed interface (tests/interface/): what applications were built against when
# the interface was fixed must keep working. Each reference there was made from the header and
# the libraries as they were then; additions pass, changes and removals fail.
#  - interface_header: the preprocessed <vrlib/vr.h>, in C99 and C++20, still holds every
#    declaration, enumerator and macro it held, token for token (check_header.sh);
#  - interface_exports: the shared libraries still export every name they exported;
#  - interface_abi: abidiff finds no change in the libraries' binary interface.
# Export lists and binary interface are checked on the plain build only: the sanitizers add
# names and change code of their own.
set(vr_interface_dir ${CMAKE_CURRENT_SOURCE_DIR}/interface)
add_test(NAME interface_header
         COMMAND ${vr_interface_dir}/check_header.sh check ${CMAKE_C_COMPILER}
                 ${CMAKE_CXX_COMPILER} ${PROJECT_SOURCE_DIR}/vrlib/include ${vr_interface_dir})
set(vr_interface_libraries $<TARGET_FILE:vrcore> $<TARGET_FILE:vrtrack> $<TARGET_FILE:vrsim>)
if(NOT VR_SANITIZE)
  add_test(NAME interface_exports
           COMMAND ${vr_interface_dir}/check_export_names.sh check ${vr_interface_dir}
                   ${vr_interface_libraries})
  # abidiff reads the libraries' types from their debug information. Without variable
  # locations it costs the compiler next to nothing, and it changes no generated code, but it
  # makes the libraries ten times larger; so it is the test command's choice, off otherwise.
  option(VR_CHECK_ABI "Compare the libraries' binary interface with the fixed one (abigail-tools)"
         OFF)
  if(VR_CHECK_ABI)
    foreach(t vr_core_obj vr_track_obj vrsim_obj)
      target_compile_options(${t} PRIVATE -g)
      if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU")
        target_compile_options(${t} PRIVATE -fno-var-tracking -fno-var-tracking-assignments)
      endif()
    endforeach()
    add_test(NAME interface_abi
             COMMAND ${vr_interface_dir}/check_abi.sh check ${vr_interface_dir}
                     ${vr_interface_dir}/abi.suppr ${vr_interface_libraries})
    set_tests_properties(interface_abi PROPERTIES SKIP_RETURN_CODE 77)
  endif()
endif()
foreach(t interface_header interface_exports interface_abi)
  if(TEST ${t})
    set_tests_properties(${t} PROPERTIES LABELS interface)
  endif()
endforeach()
