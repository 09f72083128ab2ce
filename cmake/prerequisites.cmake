# What a fresh machine lacks, named with its package before project() fails for the
# want of it in CMake's own words (which name none).  A toolchain file, a compiler
# or a build program given on the command line is taken as it is.
if(NOT CMAKE_TOOLCHAIN_FILE AND NOT CMAKE_CXX_COMPILER AND NOT DEFINED ENV{CXX})
    find_program(BEAM_FOUND_CXX NAMES c++ g++ clang++ NO_CACHE)
    if(NOT BEAM_FOUND_CXX)
        message(FATAL_ERROR "No C++ compiler found: install g++ (Debian, Ubuntu: apt-get install "
                            "g++, or scripts/setup.sh build)")
    endif()
endif()
if(CMAKE_GENERATOR STREQUAL "Unix Makefiles" AND NOT CMAKE_MAKE_PROGRAM)
    find_program(BEAM_FOUND_MAKE NAMES gmake make NO_CACHE)
    if(NOT BEAM_FOUND_MAKE)
        message(FATAL_ERROR "No make found, which CMake's default generator needs: install make "
                            "(apt-get install make, or scripts/setup.sh build)")
    endif()
endif()
