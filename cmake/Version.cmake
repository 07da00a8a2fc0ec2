# pemra_version: the library that answers `--version` for both programs, with the version of
# project() and, in a git checkout, the git description of the sources at build time.
find_program(PEMRA_GIT git)
set(pemra_version_source ${PROJECT_BINARY_DIR}/generated/Version.cpp)
add_custom_target(pemra_version_source
  COMMAND ${CMAKE_COMMAND} -DSOURCE_DIR=${PROJECT_SOURCE_DIR} -DVERSION=${PROJECT_VERSION}
          -DOUTPUT=${pemra_version_source} -DGIT=${PEMRA_GIT}
          -P ${CMAKE_CURRENT_LIST_DIR}/WriteVersion.cmake
  BYPRODUCTS ${pemra_version_source}
  COMMENT "" VERBATIM)
add_library(pemra_version STATIC ${pemra_version_source})
add_dependencies(pemra_version pemra_version_source)
