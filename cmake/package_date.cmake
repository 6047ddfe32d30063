# Read by cpack when it packages: the same source gives the same package bytes, whenever it is
# packaged. The times in the archives are taken from SOURCE_DATE_EPOCH: the user's, when set; else
# the last commit's, in a git checkout of the source; else the changelog's last entry.
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
    message(FATAL_ERROR "No date to package with: set SOURCE_DATE_EPOCH")
  endif()
  set(ENV{SOURCE_DATE_EPOCH} "${epoch}")
endif()
