# Run by CPack after each generator: makes a package the same bytes whoever
# builds it, whatever the order in which the file system lists the files and
# whatever the umask.
#
# CMake 3.25's archive generators add files in the order in which the file
# system lists them: each .tar.gz or .zip is written again from the same
# files, in sorted order (files only: unpacking makes the folders).  Every
# time in them, and none in the gzip header, is SOURCE_DATE_EPOCH's, where it
# is set (CPackProjectConfig.cmake sets it); a zip file's local time is UTC.
#
# Its .deb generator gives the members of the ar archive the modes that its
# temporary files got from the umask: they are set to 100644, as dpkg-deb
# writes them.
foreach(package IN LISTS CPACK_PACKAGE_FILES)
  if(package MATCHES "\\.deb$")
    file(WRITE ${CPACK_TOPLEVEL_DIRECTORY}/ar-mode.txt "100644  ")
    file(SIZE ${package} size)
    set(header 8) # after "!<arch>\n"
    while(header LESS size)
      # A member's header: name 16, time 12, owner 6, group 6, mode 8, size 10, "`\n".
      file(READ ${package} fields OFFSET ${header} LIMIT 60)
      string(SUBSTRING "${fields}" 48 10 member_size)
      string(STRIP "${member_size}" member_size)
      math(EXPR mode "${header} + 40")
      execute_process(
        COMMAND dd of=${package} bs=1 seek=${mode} conv=notrunc status=none
        INPUT_FILE ${CPACK_TOPLEVEL_DIRECTORY}/ar-mode.txt COMMAND_ERROR_IS_FATAL ANY)
      math(EXPR header "${header} + 60 + ${member_size} + ${member_size} % 2")
    endwhile()
    continue()
  elseif(package MATCHES "\\.tar\\.gz$")
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
