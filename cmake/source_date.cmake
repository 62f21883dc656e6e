# Sets CLIENT_SOURCE_DATE_EPOCH, the date of everything that the build makes,
# so that two builds of one source are byte-identical.  The date is
# SOURCE_DATE_EPOCH, where it is set.  Else it is the time of the last
# commit, where this folder is the top of its own git repository.  Else it
# is the time that `git archive` wrote into cmake/source-date.
if(DEFINED ENV{SOURCE_DATE_EPOCH})
  set(CLIENT_SOURCE_DATE_EPOCH "$ENV{SOURCE_DATE_EPOCH}")
  set(date_source "SOURCE_DATE_EPOCH")
else()
  find_package(Git QUIET)
  if(Git_FOUND)
    execute_process(COMMAND ${GIT_EXECUTABLE} rev-parse --show-toplevel
      WORKING_DIRECTORY ${PROJECT_SOURCE_DIR}
      OUTPUT_VARIABLE repository OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET)
    file(REAL_PATH "${PROJECT_SOURCE_DIR}" here)
    if(repository)
      file(REAL_PATH "${repository}" repository)
    endif()
    if(repository STREQUAL here)
      execute_process(COMMAND ${GIT_EXECUTABLE} log -1 --format=%ct
        WORKING_DIRECTORY ${PROJECT_SOURCE_DIR}
        OUTPUT_VARIABLE CLIENT_SOURCE_DATE_EPOCH OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET)
      set(date_source "the last commit")
    endif()
  endif()
  if(NOT CLIENT_SOURCE_DATE_EPOCH)
    # Outside an archive made by git, the file holds git's placeholder.
    file(STRINGS ${PROJECT_SOURCE_DIR}/cmake/source-date CLIENT_SOURCE_DATE_EPOCH REGEX "^[0-9]+$")
    set(date_source "cmake/source-date, from git archive")
  endif()
endif()
if(CLIENT_SOURCE_DATE_EPOCH)
  message(STATUS "Date of what the build makes: ${CLIENT_SOURCE_DATE_EPOCH} (${date_source})")
else()
  message(WARNING "No SOURCE_DATE_EPOCH, no commit of this project's own and no date from git archive: "
    "dates in the build are the current time")
endif()
