# Run by CPack after it stages a package's files and before it packs them.
# The staged folders have the modes that the builder's umask gives, and the
# install rules can't change that.  This makes every folder rwxr-xr-x, as
# Debian's rules want.
file(CHMOD_RECURSE ${CPACK_TEMPORARY_DIRECTORY} DIRECTORY_PERMISSIONS
  OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
