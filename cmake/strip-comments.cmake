# Run by CPack on its staging folder, after its plain strip: drop the
# compiler's .comment and .note sections as Debian's own dh_strip does.
file(GLOB_RECURSE programs "${CPACK_TEMPORARY_INSTALL_DIRECTORY}/*/bin/*")
file(GLOB_RECURSE modules "${CPACK_TEMPORARY_INSTALL_DIRECTORY}/*.so")
list(APPEND programs ${modules})
foreach(program ${programs})
    execute_process(COMMAND ${CPACK_MOXEL_STRIP} --remove-section=.comment --remove-section=.note
                            ${program} COMMAND_ERROR_IS_FATAL ANY)
endforeach()
