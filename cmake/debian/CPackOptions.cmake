# Read by cpack alone (CPACK_PROJECT_CONFIG_FILE). Shared-library control files (shlibs) are made
# for every package, where CPack takes them from each SONAME; the Python module has none, as a
# module should, and CPack's note for the project's developers about that is left out.
set(CMAKE_SUPPRESS_DEVELOPER_WARNINGS ON)
