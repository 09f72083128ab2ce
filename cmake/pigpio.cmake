# Chooses the pigpio the programs link against: BEAM_PIGPIO.
#
#   auto  the real pigpio where it is installed, else the stand-in (the default)
#   real  the real pigpio; configure fails without it
#   sim   the project's stand-in (pigpio-sim/), a simulated Pi, even where pigpio is
#
# pigpio ships no pkg-config file, so the real library is found by its header and
# library (CMAKE_PREFIX_PATH names a private install).  Either way the programs
# depend on libpigpio.so.1 dynamically, so one binary runs against whichever is
# installed.
#
# Result: the target beam_pigpio to link, BEAM_PIGPIO_KIND (real or sim) and
# BEAM_PIGPIO_IS_SIM.

set(BEAM_PIGPIO auto CACHE STRING "Which pigpio the programs use: auto, real or sim")
set_property(CACHE BEAM_PIGPIO PROPERTY STRINGS auto real sim)
if(NOT BEAM_PIGPIO MATCHES "^(auto|real|sim)$")
    message(FATAL_ERROR "BEAM_PIGPIO is '${BEAM_PIGPIO}'; it takes auto, real or sim")
endif()
find_package(Threads REQUIRED)

# Where an installed program finds a pigpio of ours: a private folder, never a
# system library folder.
set(BEAM_PRIVATE_LIBDIR ${CMAKE_INSTALL_LIBDIR}/beam)

if(NOT BEAM_PIGPIO STREQUAL "sim")
    find_path(PIGPIO_INCLUDE_DIR pigpio.h)
    find_library(PIGPIO_LIBRARY NAMES pigpio)
endif()

if(BEAM_PIGPIO STREQUAL "sim")
    set(kind sim)
    set(why "asked for (BEAM_PIGPIO=sim)")
elseif(PIGPIO_INCLUDE_DIR AND PIGPIO_LIBRARY)
    set(kind real)
    set(why "found ${PIGPIO_LIBRARY} and ${PIGPIO_INCLUDE_DIR}/pigpio.h")
elseif(BEAM_PIGPIO STREQUAL "real")
    message(FATAL_ERROR "BEAM_PIGPIO=real, but no pigpio.h and libpigpio.so were found "
                        "(scripts/build-pigpio.sh installs them; CMAKE_PREFIX_PATH names "
                        "where they are)")
else()
    set(kind sim)
    set(why "no pigpio.h and libpigpio.so found")
endif()
set(BEAM_PIGPIO_KIND ${kind} CACHE INTERNAL "The pigpio the programs use")
if(kind STREQUAL "sim")
    set(BEAM_PIGPIO_IS_SIM ON CACHE INTERNAL "Programs link the pigpio stand-in")
else()
    set(BEAM_PIGPIO_IS_SIM OFF CACHE INTERNAL "Programs link the pigpio stand-in")
endif()
message(STATUS "pigpio: ${kind}, ${why}")

add_library(beam_pigpio INTERFACE)
if(kind STREQUAL "real")
    target_include_directories(beam_pigpio SYSTEM INTERFACE ${PIGPIO_INCLUDE_DIR})
    target_link_libraries(beam_pigpio INTERFACE ${PIGPIO_LIBRARY})
else()
    add_subdirectory(${PROJECT_SOURCE_DIR}/pigpio-rules ${PROJECT_BINARY_DIR}/pigpio-rules)
    add_subdirectory(${PROJECT_SOURCE_DIR}/pigpio-sim ${PROJECT_BINARY_DIR}/pigpio-sim)
    target_link_libraries(beam_pigpio INTERFACE pigpio)
endif()
# What pigpio's own build line asks of its users.
target_link_libraries(beam_pigpio INTERFACE rt Threads::Threads)
