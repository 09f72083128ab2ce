// How a test starts a program built here: directly, or in a cross build through
// the emulator CMake was given (CMAKE_CROSSCOMPILING_EMULATOR, passed in by
// beam_test_runs_programs in cmake/gtest.cmake).
#ifndef BEAM_TESTS_EMULATOR_H
#define BEAM_TESTS_EMULATOR_H

#include <string>
#include <vector>

// The words to put before the program's path; none in a native build.
inline std::vector<std::string> emulatorWords()
{
    return {BEAM_EMULATOR_WORDS};
}

// The same words as the start of a shell command, each quoted and followed by a
// blank; empty in a native build.
inline std::string emulatorCommandPrefix()
{
    std::string prefix;
    for (const std::string& word : emulatorWords()) {
        prefix += '\'';
        for (const char c : word) {
            prefix += c == '\'' ? std::string("'\\''") : std::string(1, c);
        }
        prefix += "' ";
    }
    return prefix;
}

#endif
