# Run at install time. The user unit and the manual pages name installed files
# by absolute path, so they are written for the prefix the files really go to:
# the configured one, `cmake --install --prefix DIR`, or /usr when CPack builds
# the package. The install rules pass MOXEL_SOURCE_DIR, MOXEL_OUT, MOXEL_DIRS
# (NAME=dir pairs, relative to the prefix unless absolute), PROJECT_VERSION and
# GZIP.
get_filename_component(prefix "${CMAKE_INSTALL_PREFIX}" ABSOLUTE)
string(REGEX REPLACE "/+$" "" prefix "${prefix}")
foreach(pair IN LISTS MOXEL_DIRS)
    string(REGEX MATCH "^([A-Z]+)=(.*)$" _ "${pair}")
    if(IS_ABSOLUTE "${CMAKE_MATCH_2}")
        set(MOXEL_FULL_${CMAKE_MATCH_1} "${CMAKE_MATCH_2}")
    else()
        set(MOXEL_FULL_${CMAKE_MATCH_1} "${prefix}/${CMAKE_MATCH_2}")
    endif()
endforeach()

configure_file(${MOXEL_SOURCE_DIR}/dist/moxel-translate.service.in
               ${MOXEL_OUT}/moxel-translate.service @ONLY)
foreach(page moxel-popup moxel-translate)
    configure_file(${MOXEL_SOURCE_DIR}/doc/${page}.1.in ${MOXEL_OUT}/${page}.1 @ONLY)
    # -n: no name or time stamp inside, so the same sources give the same package.
    execute_process(COMMAND ${GZIP} -n -9 -c ${page}.1
                    OUTPUT_FILE ${page}.1.gz
                    WORKING_DIRECTORY ${MOXEL_OUT}
                    COMMAND_ERROR_IS_FATAL ANY)
endforeach()
