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
    find_package(GTest)
    if(NOT GTest_FOUND)
        message(FATAL_ERROR "GoogleTest, which the tests need, is not installed: install "
                            "libgtest-dev (Debian, Ubuntu: apt-get install libgtest-dev, or "
                            "scripts/setup.sh test), or configure with -DBEAM_BUILD_TESTS=OFF to "
                            "build the programs without their tests")
    endif()
endif()
include(GoogleTest)

# The test folders compile their own code without optimisation or debug information,
# after the build type's flags: gtest's expanded cases make their sources the bulk of
# a build, and these flags cut what they cost to compile to less than half (measured:
# 12.5 s to 5.1 s for the largest), in each of the builds a CI run makes.  The
# programs and libraries under test keep the build type's flags, and a failing case
# names its file and line without a debugger.
set(BEAM_TEST_COMPILE_OPTIONS -O0 -g0)
