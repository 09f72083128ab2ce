# BEAM_PIGPIO=auto on a Raspberry Pi and on another board, told apart by a fake
# device-tree model file: configures the project for each and checks the pigpio it
# chose.  Where the real pigpio is installed, auto takes it on either.
#   cmake -DSOURCE=dir -DWORK=dir -P check_auto.cmake
foreach(case "Raspberry Pi 5 Model B Rev 1.0|kernel" "Acme Board|sim")
    string(REPLACE "|" ";" case "${case}")
    list(GET case 0 model)
    list(GET case 1 expected)
    file(REMOVE_RECURSE ${WORK})
    file(MAKE_DIRECTORY ${WORK})
    # As the kernel has it: the string and its NUL.
    execute_process(COMMAND printf "%s\\0" "${model}" OUTPUT_FILE ${WORK}/model)
    execute_process(COMMAND ${CMAKE_COMMAND} -S ${SOURCE} -B ${WORK}/build -DBEAM_PIGPIO=auto
                            -DBEAM_BUILD_TESTS=OFF -DBEAM_DT_MODEL_FILE=${WORK}/model
                    OUTPUT_VARIABLE out ERROR_VARIABLE err RESULT_VARIABLE status)
    if(NOT status EQUAL 0)
        message(FATAL_ERROR "configure failed for '${model}':\n${out}${err}")
    endif()
    string(REGEX MATCH "pigpio: [a-z]+, [^\n]*" said "${out}")
    if(NOT said MATCHES "^pigpio: (${expected}|real), ")
        message(FATAL_ERROR "'${model}': want pigpio ${expected}, configure said '${said}'")
    endif()
    message(STATUS "${model}: ${said}")
endforeach()
file(REMOVE_RECURSE ${WORK})
