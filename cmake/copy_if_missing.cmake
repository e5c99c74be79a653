# cmake -DSRC=<file> -DDST=<file> -P copy_if_missing.cmake: copies SRC to DST unless DST exists, so that
# a user's own file is never replaced by the default.
if(NOT EXISTS "${DST}")
  file(COPY_FILE "${SRC}" "${DST}")
endif()
