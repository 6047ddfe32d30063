# Read by cpack when it packages. A Debian package declares what the program needs, as
# dpkg-shlibdeps works it out: without that tool, cpack would make one that declares nothing. The
# tool is looked up as cpack's Debian generator looks it up, into the same variable.
if(CPACK_GENERATOR STREQUAL "DEB")
  find_program(SHLIBDEPS_EXECUTABLE dpkg-shlibdeps)
  if(NOT SHLIBDEPS_EXECUTABLE)
    message(FATAL_ERROR "packaging needs dpkg-shlibdeps to declare the package's dependencies: "
                        "install dpkg-dev")
  endif()
endif()

# The same source gives the same package bytes, whenever it is packaged. The times in the
# archives are taken from SOURCE_DATE_EPOCH: the user's, when set; else the last commit's, in a
# git checkout of the source; else the changelog's last entry.
if(NOT DEFINED ENV{SOURCE_DATE_EPOCH})
  set(source "${CPACK_PAIR_REPORT_SOURCE_DIR}")
  set(epoch "")
  if(EXISTS "${source}/.git")
    execute_process(COMMAND git -C "${source}" log -1 --format=%ct
                    OUTPUT_VARIABLE epoch OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET)
  endif()
  if(NOT epoch MATCHES "^[0-9]+$")
    execute_process(COMMAND dpkg-parsechangelog -l "${source}/doc/changelog" -S Timestamp
                    OUTPUT_VARIABLE epoch OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET)
  endif()
  if(NOT epoch MATCHES "^[0-9]+$")
    message(FATAL_ERROR "packaging outside a git checkout takes its date from the changelog, "
                        "read by dpkg-parsechangelog: install dpkg-dev, or set SOURCE_DATE_EPOCH")
  endif()
  set(ENV{SOURCE_DATE_EPOCH} "${epoch}")
endif()
