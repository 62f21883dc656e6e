# Run by CPack after each generator.  CMake 3.25's archive generators add
# files in the order in which the file system lists them, so two builds of
# one source can differ: this writes each .tar.gz or .zip again from the
# same files, in sorted order (files only: unpacking makes the folders).
# Every time in them, and none in the gzip header, is SOURCE_DATE_EPOCH's,
# where it is set (CPackProjectConfig.cmake sets it); a zip file's local
# time is UTC.
foreach(package IN LISTS CPACK_PACKAGE_FILES)
  if(package MATCHES "\\.tar\\.gz$")
    set(format gnutar)
    set(flags cfz)
  elseif(package MATCHES "\\.zip$")
    set(format zip)
    set(flags cf)
  else()
    continue()
  endif()
  file(GLOB_RECURSE files LIST_DIRECTORIES false RELATIVE ${CPACK_TOPLEVEL_DIRECTORY} ${CPACK_TEMPORARY_DIRECTORY}/*)
  list(SORT files)
  string(REPLACE ";" "\n" list "${files}")
  file(WRITE ${CPACK_TOPLEVEL_DIRECTORY}/files.txt "${list}\n")
  file(REMOVE ${package})
  execute_process(
    COMMAND ${CMAKE_COMMAND} -E env TZ=UTC0
            ${CMAKE_COMMAND} -E tar ${flags} ${package} --format=${format} --files-from=files.txt
    WORKING_DIRECTORY ${CPACK_TOPLEVEL_DIRECTORY} COMMAND_ERROR_IS_FATAL ANY)
endforeach()
