# Run by cpack once it has written the zip, before it computes the checksum
# (CPACK_POST_BUILD_SCRIPTS). CPack adds the staged files in the order the
# file system happens to list them, which differs between file systems, and
# stamps them with the time of the build. The zip is written again from the
# same staged files, in name order, every entry with the time of the commit
# built (SOURCE_DATE_EPOCH, when set, wins) as UTC: two builds of one commit
# give the same bytes.
if(DEFINED ENV{SOURCE_DATE_EPOCH})
    set(commit_time $ENV{SOURCE_DATE_EPOCH})
else()
    execute_process(COMMAND git -C ${CPACK_LUMBRIX_SOURCE_DIR} log -1 --format=%ct
        OUTPUT_VARIABLE commit_time OUTPUT_STRIP_TRAILING_WHITESPACE COMMAND_ERROR_IS_FATAL ANY)
endif()
# GLOB lists in name order. Files only: a folder named to tar would be
# walked in the file system's order; unpacking makes it from the file paths.
file(GLOB_RECURSE entries RELATIVE ${CPACK_TEMPORARY_DIRECTORY} ${CPACK_TEMPORARY_DIRECTORY}/*)
file(REMOVE ${CPACK_PACKAGE_FILES})
execute_process(
    COMMAND ${CMAKE_COMMAND} -E env SOURCE_DATE_EPOCH=${commit_time} TZ=UTC0
        ${CMAKE_COMMAND} -E tar cf ${CPACK_PACKAGE_FILES} --format=zip -- ${entries}
    WORKING_DIRECTORY ${CPACK_TEMPORARY_DIRECTORY} COMMAND_ERROR_IS_FATAL ANY)
