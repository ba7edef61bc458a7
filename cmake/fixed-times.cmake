# Run by CPack once a package's files are staged: gives each of them the
# time in SOURCE_DATE_EPOCH, so that the archive does not carry the times
# of this build.
if(NOT DEFINED ENV{SOURCE_DATE_EPOCH})
  return()
endif()
file(GLOB_RECURSE staged LIST_DIRECTORIES true "${CPACK_TEMPORARY_DIRECTORY}/*")
list(APPEND staged "${CPACK_TEMPORARY_DIRECTORY}")
foreach(path IN LISTS staged)
  execute_process(COMMAND touch -h -d "@$ENV{SOURCE_DATE_EPOCH}" "${path}")
endforeach()
