# Chooses the pigpio the programs link against: BEAM_PIGPIO.
#
#   auto    the real pigpio where it is installed, else the kernel's IR transmitter
#           on a Raspberry Pi, else the stand-in (the default)
#   real    the real pigpio; configure fails without it
#   kernel  the project's pigpio on the Linux kernel's IR transmitter (pigpio/lirc/),
#           which needs neither root nor pigpio, and works on the Pi 5
#   sim     the project's stand-in (pigpio/sim/), a simulated Pi, even where pigpio is
#
# pigpio ships no pkg-config file, so the real library is found by its header and
# library (CMAKE_PREFIX_PATH names a private install).  Either way the programs
# depend on libpigpio.so.1 dynamically, so one binary runs against whichever is
# installed.
#
# Result: the target beam_pigpio to link, BEAM_PIGPIO_KIND (real, kernel or sim) and
# BEAM_PIGPIO_IS_SIM.

set(BEAM_PIGPIO auto CACHE STRING "Which pigpio the programs use: auto, real, kernel or sim")
set_property(CACHE BEAM_PIGPIO PROPERTY STRINGS auto real kernel sim)
if(NOT BEAM_PIGPIO MATCHES "^(auto|real|kernel|sim)$")
    message(FATAL_ERROR "BEAM_PIGPIO is '${BEAM_PIGPIO}'; it takes auto, real, kernel or sim")
endif()
set(BEAM_DT_MODEL_FILE "" CACHE FILEPATH
    "Device-tree model file that tells a Raspberry Pi (empty: this machine's own)")
find_package(Threads REQUIRED)

# Where an installed program finds a pigpio of ours: a private folder, never a
# system library folder.
set(BEAM_PRIVATE_LIBDIR ${CMAKE_INSTALL_LIBDIR}/beam)

# The board's model from the device tree ("Raspberry Pi 5 Model B Rev 1.0"), and the
# file it came from; both empty where there is none.  A cross build says nothing of
# its target's board by the machine it runs on.
function(beam_board_model model_var file_var)
    set(files ${BEAM_DT_MODEL_FILE})
    if(NOT BEAM_DT_MODEL_FILE AND NOT CMAKE_CROSSCOMPILING)
        set(files /proc/device-tree/model /sys/firmware/devicetree/base/model)
    endif()
    foreach(file IN LISTS files)
        if(EXISTS ${file})
            # The property ends in a NUL, where file(STRINGS) ends the string.
            file(STRINGS ${file} model LIMIT_COUNT 1)
            set(${model_var} "${model}" PARENT_SCOPE)
            set(${file_var} ${file} PARENT_SCOPE)
            return()
        endif()
    endforeach()
    set(${model_var} "" PARENT_SCOPE)
    set(${file_var} "" PARENT_SCOPE)
endfunction()

if(BEAM_PIGPIO MATCHES "^(auto|real)$")
    find_path(PIGPIO_INCLUDE_DIR pigpio.h)
    find_library(PIGPIO_LIBRARY NAMES pigpio)
endif()

if(BEAM_PIGPIO MATCHES "^(sim|kernel)$")
    set(kind ${BEAM_PIGPIO})
    set(why "asked for (BEAM_PIGPIO=${BEAM_PIGPIO})")
elseif(PIGPIO_INCLUDE_DIR AND PIGPIO_LIBRARY)
    set(kind real)
    set(why "found ${PIGPIO_LIBRARY} and ${PIGPIO_INCLUDE_DIR}/pigpio.h")
elseif(BEAM_PIGPIO STREQUAL "real")
    message(FATAL_ERROR "BEAM_PIGPIO=real, but no pigpio.h and libpigpio.so were found "
                        "(scripts/build-pigpio.sh installs them; CMAKE_PREFIX_PATH names "
                        "where they are)")
else()
    beam_board_model(board board_file)
    if(board MATCHES "^Raspberry Pi")
        set(kind kernel)
        set(why "no pigpio.h and libpigpio.so found, and this is a ${board} (${board_file})")
    else()
        set(kind sim)
        set(why "no pigpio.h and libpigpio.so found, and no Raspberry Pi")
    endif()
endif()
set(BEAM_PIGPIO_KIND ${kind} CACHE INTERNAL "The pigpio the programs use")
if(kind STREQUAL "sim")
    set(BEAM_PIGPIO_IS_SIM ON CACHE INTERNAL "Programs link the pigpio stand-in")
else()
    set(BEAM_PIGPIO_IS_SIM OFF CACHE INTERNAL "Programs link the pigpio stand-in")
endif()
message(STATUS "pigpio: ${kind}, ${why}")

# A stand-in build on a Raspberry Pi sends nothing, which must not pass unnoticed:
# there the stand-in's gpioInitialise refuses (unless PIGPIO_SIM_ON_PI=1 asks for a
# simulation, as the tests do), and configure says so.
if(kind STREQUAL "sim")
    beam_board_model(board board_file)
    if(board MATCHES "^Raspberry Pi")
        message(WARNING
            "This machine is a ${board}, but the programs are built against the pigpio "
            "stand-in (pigpio: sim, ${why}): they only simulate a Raspberry Pi and send "
            "nothing.  On this Pi they refuse to start (\"GPIO Initialization failed\") "
            "unless PIGPIO_SIM_ON_PI=1 asks for a simulation, as the test suite does.  To "
            "send, reconfigure with -DBEAM_PIGPIO=auto on the Pi, which takes pigpio where "
            "it is installed (scripts/build-pigpio.sh installs it) and the kernel's IR "
            "transmitter otherwise, and rebuild.")
    endif()
endif()

# Our own implementations of pigpio, where the build uses one or tests them.
if(NOT kind STREQUAL "real" OR BEAM_BUILD_TESTS)
    add_subdirectory(${PROJECT_SOURCE_DIR}/pigpio ${PROJECT_BINARY_DIR}/pigpio)
endif()

add_library(beam_pigpio INTERFACE)
if(kind STREQUAL "real")
    target_include_directories(beam_pigpio SYSTEM INTERFACE ${PIGPIO_INCLUDE_DIR})
    target_link_libraries(beam_pigpio INTERFACE ${PIGPIO_LIBRARY})
elseif(kind STREQUAL "kernel")
    target_link_libraries(beam_pigpio INTERFACE pigpio_lirc)
else()
    target_link_libraries(beam_pigpio INTERFACE pigpio)
endif()
# What pigpio's own build line asks of its users.
target_link_libraries(beam_pigpio INTERFACE rt Threads::Threads)
