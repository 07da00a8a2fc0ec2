# Writes the source of pemra::VersionText(): the project's version and, when the sources are
# a git checkout, their `git describe`. Run at every build (cmake -P); the file is rewritten
# only when its text changes, so only a new commit or a change of the tree's cleanliness
# recompiles it.
#   -DSOURCE_DIR=<top of the sources> -DVERSION=<x.y> -DOUTPUT=<Version.cpp> [-DGIT=<git>]
set(text "${VERSION}")
if(GIT AND EXISTS "${SOURCE_DIR}/.git")
  execute_process(COMMAND "${GIT}" --no-optional-locks describe --tags --always --dirty
    WORKING_DIRECTORY "${SOURCE_DIR}"
    OUTPUT_VARIABLE described RESULT_VARIABLE status
    OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET)
  if(status EQUAL 0 AND described)
    set(text "${VERSION} (git ${described})")
  endif()
endif()

set(source "// Written by cmake/WriteVersion.cmake at build time.
#include \"core/Version.h\"

std::string pemra::VersionText() { return \"${text}\"; }
")
set(old "")
if(EXISTS "${OUTPUT}")
  file(READ "${OUTPUT}" old)
endif()
if(NOT old STREQUAL source)
  file(WRITE "${OUTPUT}" "${source}")
endif()
