# Run by CPack once the files of a package are staged, before it packs them.
# Folders are made with the umask of the one who builds, which the install
# rules can't widen: every folder that a package holds is rwxr-xr-x, as
# Debian's rules want, whatever that umask is.
file(CHMOD_RECURSE ${CPACK_TEMPORARY_DIRECTORY} DIRECTORY_PERMISSIONS
  OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
