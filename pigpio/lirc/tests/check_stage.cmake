# An install of a kernel build, as a user makes it: the programs find the kernel
# library in their private folder, not the stand-in nor a system pigpio.  With no
# transmitter (the device named is /dev/null), pigpio does not start and the
# library says why.
#   cmake -DBUILD=dir -DSTAGE=dir [-DEMULATOR=words] -P check_stage.cmake
file(REMOVE_RECURSE ${STAGE})
execute_process(COMMAND ${CMAKE_COMMAND} --install ${BUILD} --prefix ${STAGE}
                OUTPUT_QUIET RESULT_VARIABLE status)
if(NOT status EQUAL 0)
    message(FATAL_ERROR "install into ${STAGE} failed")
endif()
file(GLOB libraries ${STAGE}/lib*/beam/libpigpio.so.1)
if(NOT libraries)
    message(FATAL_ERROR "no libpigpio.so.1 in ${STAGE}/lib*/beam")
endif()
file(WRITE ${STAGE}/run/expected_message.txt "1")
execute_process(COMMAND ${CMAKE_COMMAND} -E env --unset=LD_LIBRARY_PATH PIGPIO_LIRC_DEVICE=/dev/null
                        ${EMULATOR} ${STAGE}/bin/beamfile
                WORKING_DIRECTORY ${STAGE}/run
                OUTPUT_VARIABLE out ERROR_VARIABLE err RESULT_VARIABLE status)
if(NOT status EQUAL 1 OR NOT out MATCHES "\nGPIO Initialization failed\n"
   OR NOT err MATCHES " gpioInitialise: /dev/null is not an IR device: ")
    message(FATAL_ERROR "installed beamfile: status ${status}\n${out}\n${err}")
endif()
message(STATUS "installed beamfile loaded ${libraries}: ${err}")
