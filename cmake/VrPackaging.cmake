# Debian packages of what the install step installs, made with CPack in the build tree:
#   cmake --build build --target package      (or: cd build && cpack -G DEB)
# puts into build/packages
#   libvrlib1      the three shared libraries (component runtime)
#   libvrlib-dev   headers, CMake package, pkg-config files, the .so links (component dev)
#   vrlib-tools    the programs, their manual pages, the capture daemon's service, its
#                  configuration and the adapters' udev rule (component tools)
#   python3-vrlib  the Python package, when it is built (component python)
# The packages install under /usr. The library folder is the build's CMAKE_INSTALL_LIBDIR: lib
# for the default prefix, the multiarch folder (lib/x86_64-linux-gnu) when configured with
# -DCMAKE_INSTALL_PREFIX=/usr, as the README's packaging command does. The programs' run path
# ($ORIGIN/../lib...) then names the folder the dynamic linker searches anyway, which is harmless;
# lintian does not object to $ORIGIN run paths. (With the default prefix, lintian warns that the
# pkg-config files in /usr/lib/pkgconfig serve no cross builds: configure with the prefix /usr.)
#
# The files only the packages carry (service, configuration, udev rule, copyright, changelog) are
# installed by components' own rules with EXCLUDE_FROM_ALL and absolute paths: CPack stages them,
# "cmake --install" into a prefix leaves them out and touches nothing outside the prefix.
if(NOT CMAKE_SYSTEM_NAME STREQUAL "Linux" OR VR_SANITIZE)
  return()
endif()

set(VR_PACKAGE_MAINTAINER "vrlib developers <vrlib@example.org>"
    CACHE STRING "Maintainer named in the Debian packages")
set(VR_DEB_VERSION "${PROJECT_VERSION}-1")
set(vr_deb_dir ${CMAKE_CURRENT_LIST_DIR}/debian)
set(vr_deb_build ${CMAKE_BINARY_DIR}/debian)

set(vr_deb_components runtime dev tools)
set(vr_deb_package_runtime libvrlib1)
set(vr_deb_package_dev libvrlib-dev)
set(vr_deb_package_tools vrlib-tools)
set(vr_deb_package_python python3-vrlib)

# The Python package: built in python/, it goes where /usr's Python looks
# (lib/python3/dist-packages; the prefix's lib/python3.X/dist-packages of the plain install is
# for /usr/local). Both folders lie four levels below the prefix, so the module's run path to the
# libraries holds in either.
if(TARGET vr_python)
  list(APPEND vr_deb_components python)
  get_directory_property(vr_py_copies DIRECTORY python DEFINITION vr_python_copies)
  get_directory_property(vr_py_generated DIRECTORY python DEFINITION vr_python_generated)
  get_directory_property(vr_py_minor DIRECTORY python DEFINITION Python3_VERSION_MINOR)
  math(EXPR vr_py_next "${vr_py_minor} + 1")
  set(vr_py_dir /usr/lib/python3/dist-packages/vrlib)
  install(TARGETS vr_python LIBRARY DESTINATION ${vr_py_dir} COMPONENT python EXCLUDE_FROM_ALL)
  install(FILES ${vr_py_copies} ${vr_py_generated} DESTINATION ${vr_py_dir} COMPONENT python
          EXCLUDE_FROM_ALL)
endif()

# Copyright and changelog in each package's documentation folder (gzip -9n: no name, no time).
configure_file(${vr_deb_dir}/changelog.in ${vr_deb_build}/changelog.Debian @ONLY)
execute_process(COMMAND gzip -9nf ${vr_deb_build}/changelog.Debian)
foreach(c ${vr_deb_components})
  install(FILES ${vr_deb_dir}/copyright ${vr_deb_build}/changelog.Debian.gz
          DESTINATION /usr/share/doc/${vr_deb_package_${c}} COMPONENT ${c} EXCLUDE_FROM_ALL)
endforeach()
# lintian's overrides, each explained in its file.
foreach(c ${vr_deb_components})
  install(FILES ${vr_deb_dir}/${vr_deb_package_${c}}.lintian-overrides
          DESTINATION /usr/share/lintian/overrides RENAME ${vr_deb_package_${c}}
          COMPONENT ${c} EXCLUDE_FROM_ALL)
endforeach()

# The capture daemon as a service (Debian 12 keeps units and udev rules under /lib).
install(FILES ${vr_deb_dir}/vrcapd.service DESTINATION /lib/systemd/system COMPONENT tools
        EXCLUDE_FROM_ALL)
install(FILES ${vr_deb_dir}/60-vrlib.rules DESTINATION /lib/udev/rules.d COMPONENT tools
        EXCLUDE_FROM_ALL)
install(FILES ${vr_deb_dir}/vrcapd.conf DESTINATION /etc/vrlib COMPONENT tools EXCLUDE_FROM_ALL)
file(WRITE ${vr_deb_build}/tools/conffiles "/etc/vrlib/vrcapd.conf\n")
foreach(script postinst prerm postrm)
  configure_file(${vr_deb_dir}/tools.${script} ${vr_deb_build}/tools/${script} COPYONLY)
endforeach()
configure_file(${vr_deb_dir}/libvrlib1.triggers ${vr_deb_build}/runtime/triggers COPYONLY)

# Manual pages of the programs, made from their --help texts when help2man is there (the
# programs have no --version: the project's version is given). Built with the programs.
find_program(VR_HELP2MAN help2man)
set(vr_programs vrcapd vrcalib vrtrack-info vrsim-serve vrpn-serve vrquality vrdemo)
set(vr_summary_vrcapd "capture daemon for the tracker serial lines")
set(vr_summary_vrcalib "calibrate a vrlib set-up (screen, trackers, eyes)")
set(vr_summary_vrtrack-info "check the tracker set-up through vrlib")
set(vr_summary_vrsim-serve "simulated tracker devices on pseudo-terminals")
set(vr_summary_vrpn-serve "serve the serial trackers' head and mouse over VRPN")
set(vr_summary_vrquality "tracking-quality benchmark of vrlib on the simulator")
set(vr_summary_vrdemo "head-tracked stereo demo of vrlib")
set(vr_man_pages "")
if(VR_HELP2MAN)
  foreach(p ${vr_programs})
    if(NOT TARGET ${p})
      continue()
    endif()
    set(page ${CMAKE_BINARY_DIR}/man/${p}.1)
    add_custom_command(
      OUTPUT ${page}.gz
      COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/man
      COMMAND ${VR_HELP2MAN} --no-info --no-discard-stderr --version-string=${PROJECT_VERSION}
              --name=${vr_summary_${p}} --output=${page} $<TARGET_FILE:${p}>
      COMMAND gzip -9nf ${page}
      DEPENDS ${p}
      COMMENT "Manual page of ${p}" VERBATIM)
    list(APPEND vr_man_pages ${page}.gz)
  endforeach()
  add_custom_target(vr_man_pages ALL DEPENDS ${vr_man_pages})
  install(FILES ${vr_man_pages} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1 COMPONENT tools)
else()
  message(STATUS "Manual pages of the programs skipped: help2man not found (Debian package help2man)")
endif()

# The packages.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME vrlib)
set(CPACK_PACKAGE_VENDOR "the vrlib developers")
set(CPACK_PACKAGE_CONTACT "${VR_PACKAGE_MAINTAINER}")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
# Each package's description below starts with its own synopsis. CPack would put the project's
# one-line description in front of every one of them, unless the summary is CPack's default.
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "${CPACK_PACKAGE_NAME} built using CMake")
set(CPACK_PACKAGE_DIRECTORY ${CMAKE_BINARY_DIR}/packages)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_ALL ${vr_deb_components})
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_DEBIAN_PACKAGE_RELEASE 1)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${VR_PACKAGE_MAINTAINER}")
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
# Dependencies from the binaries; the project's own libraries are found in the build tree and
# named by the versioned dependencies below.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS_PRIVATE_DIRS ${CMAKE_BINARY_DIR}/vrlib ${CMAKE_BINARY_DIR}/vrsim)
set(vr_deb_same "libvrlib1 (= ${VR_DEB_VERSION})")

set(CPACK_DEBIAN_RUNTIME_PACKAGE_NAME libvrlib1)
set(CPACK_DEBIAN_RUNTIME_PACKAGE_SECTION libs)
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS ON)
set(CPACK_PROJECT_CONFIG_FILE ${vr_deb_dir}/CPackOptions.cmake)
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS_POLICY ">=")
set(CPACK_DEBIAN_RUNTIME_PACKAGE_CONTROL_EXTRA ${vr_deb_build}/runtime/triggers)
set(CPACK_DEBIAN_RUNTIME_DESCRIPTION
    "head-tracked stereo viewing and 3D mouse library\nvrlib turns the physical geometry of a desk-top display, the viewer's tracked\neye positions and the placement of the virtual world into left and right eye\nview matrices, and drives ultrasonic, optical and network head trackers.\nThis package holds the shared libraries libvrcore, libvrtrack and libvrsim.")

set(CPACK_DEBIAN_DEV_PACKAGE_NAME libvrlib-dev)
set(CPACK_DEBIAN_DEV_PACKAGE_SECTION libdevel)
set(CPACK_DEBIAN_DEV_PACKAGE_DEPENDS "${vr_deb_same}")
set(CPACK_DEBIAN_DEV_DESCRIPTION
    "head-tracked stereo viewing library - development files\nThe C header <vrlib/vr.h> and the simulator's <vrsim/vrsim.h>, the CMake\npackage (find_package(vrlib)) and pkg-config files (vrcore, vrtrack, vrsim)\nfor building applications with vrlib.")

set(CPACK_DEBIAN_TOOLS_PACKAGE_NAME vrlib-tools)
set(CPACK_DEBIAN_TOOLS_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_TOOLS_PACKAGE_DEPENDS "${vr_deb_same}, adduser")
set(CPACK_DEBIAN_TOOLS_PACKAGE_CONTROL_EXTRA
    ${vr_deb_build}/tools/conffiles ${vr_deb_build}/tools/postinst ${vr_deb_build}/tools/prerm
    ${vr_deb_build}/tools/postrm)
set(CPACK_DEBIAN_TOOLS_DESCRIPTION
    "head-tracked stereo viewing library - programs and capture service\nvrcapd, the capture daemon for the tracker serial lines (also as the systemd\nservice vrcapd, configured in /etc/vrlib/vrcapd.conf), vrcalib, vrtrack-info,\nvrsim-serve, vrpn-serve, vrquality and the demo vrdemo, with a udev rule for\nthe serial adapters.")

set(CPACK_DEBIAN_PYTHON_PACKAGE_NAME python3-vrlib)
set(CPACK_DEBIAN_PYTHON_PACKAGE_SECTION python)
set(CPACK_DEBIAN_PYTHON_PACKAGE_DEPENDS
    "${vr_deb_same}, python3 (>= 3.${vr_py_minor}~), python3 (<< 3.${vr_py_next}~), python3-numpy")
set(CPACK_DEBIAN_PYTHON_DESCRIPTION
    "head-tracked stereo viewing library - Python 3 package\nThe Python package vrlib: contexts, attributes, views and the simulator of\nvrlib from Python, with numpy arrays for matrices.")

include(CPack)
