# Run by CPack after each generator, so that a package has the same bytes
# whoever builds it, under any umask and any order of files in a folder.
#
# CMake 3.25's archive generators add files in the order in which the file
# system lists them, and add no folders.  cmake/write_archive.py writes each
# .tar.gz or .zip again from the same folder: every folder and file in sorted
# order, dated SOURCE_DATE_EPOCH (CPackProjectConfig.cmake sets it).
#
# The .deb generator gives the members of the ar archive the modes of its
# temporary files, which depend on the umask.  They are set to 100644, as
# dpkg-deb writes them.
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
  elseif(package MATCHES "\\.(tar\\.gz|zip)$")
    if(NOT CPACK_CLIENT_PYTHON)
      message(FATAL_ERROR "Writing ${package} needs Python 3, which configuring did not find")
    endif()
    execute_process(
      COMMAND ${CPACK_CLIENT_PYTHON} ${CPACK_CLIENT_SOURCE_DIR}/cmake/write_archive.py ${package} ${CPACK_TEMPORARY_DIRECTORY}
      COMMAND_ERROR_IS_FATAL ANY)
  endif()
endforeach()
