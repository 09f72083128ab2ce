# GoogleTest for the test suites: the installed package where there is one.  Its
# libraries are built for this machine only, so a cross build compiles GoogleTest
# for the target from the sources Debian's googletest package ships.
if(CMAKE_CROSSCOMPILING)
    set(BEAM_GTEST_SOURCE /usr/src/googletest CACHE PATH "GoogleTest sources for a cross build")
    if(NOT EXISTS ${BEAM_GTEST_SOURCE}/CMakeLists.txt)
        message(FATAL_ERROR "No GoogleTest sources in ${BEAM_GTEST_SOURCE} "
                            "(Debian: apt-get install googletest, or scripts/setup.sh armhf)")
    endif()
    set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
    set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
    # SYSTEM: its headers are then as quiet under our warnings as the installed ones.
    add_subdirectory(${BEAM_GTEST_SOURCE} ${PROJECT_BINARY_DIR}/googletest EXCLUDE_FROM_ALL SYSTEM)
else()
    find_package(GTest REQUIRED)
endif()
include(GoogleTest)

# A test that starts a program built here: in a cross build it runs it through
# the emulator, with tests/support/emulator.h.  The emulator's words reach the
# code as a list of string literals, since CMake would split a definition at the
# semicolons between them.
function(beam_test_runs_programs target)
    set(words "")
    foreach(word IN LISTS CMAKE_CROSSCOMPILING_EMULATOR)
        string(APPEND words "\"${word}\",")
    endforeach()
    target_include_directories(${target} PRIVATE ${PROJECT_SOURCE_DIR}/tests/support)
    target_compile_definitions(${target} PRIVATE "BEAM_EMULATOR_WORDS=${words}")
endfunction()
