# Chooses the pigpio the programs link against.
#
# pigpio ships no pkg-config file, so the real library is found by its header and
# library.  Where either is missing, or BEAM_FORCE_PIGPIO_SIM is on, the project's
# stand-in (pigpio-sim/) takes its place.  Either way the programs depend on
# libpigpio.so.1 dynamically, so one binary runs against whichever is installed.
#
# Result: the target beam_pigpio to link, and BEAM_PIGPIO_IS_SIM.

option(BEAM_FORCE_PIGPIO_SIM "Use the pigpio stand-in even where pigpio is installed" OFF)
find_package(Threads REQUIRED)

# Where an installed program finds the stand-in: a private folder of ours, never a
# system library folder.
set(BEAM_PRIVATE_LIBDIR ${CMAKE_INSTALL_LIBDIR}/beam)

if(NOT BEAM_FORCE_PIGPIO_SIM)
    find_path(PIGPIO_INCLUDE_DIR pigpio.h)
    find_library(PIGPIO_LIBRARY NAMES pigpio)
endif()

add_library(beam_pigpio INTERFACE)
if(NOT BEAM_FORCE_PIGPIO_SIM AND PIGPIO_INCLUDE_DIR AND PIGPIO_LIBRARY)
    set(BEAM_PIGPIO_IS_SIM OFF CACHE INTERNAL "Programs link the pigpio stand-in")
    message(STATUS "pigpio: ${PIGPIO_LIBRARY}")
    target_include_directories(beam_pigpio SYSTEM INTERFACE ${PIGPIO_INCLUDE_DIR})
    target_link_libraries(beam_pigpio INTERFACE ${PIGPIO_LIBRARY})
else()
    set(BEAM_PIGPIO_IS_SIM ON CACHE INTERNAL "Programs link the pigpio stand-in")
    message(STATUS "pigpio: the project's stand-in (pigpio-sim/)")
    add_subdirectory(${PROJECT_SOURCE_DIR}/pigpio-sim ${PROJECT_BINARY_DIR}/pigpio-sim)
    target_link_libraries(beam_pigpio INTERFACE pigpio)
endif()
# What pigpio's own build line asks of its users.
target_link_libraries(beam_pigpio INTERFACE rt Threads::Threads)
