// Test names as GoogleTest writes them, PascalCase, for parameterised tests.
#ifndef BEAM_TESTS_CASE_NAME_H
#define BEAM_TESTS_CASE_NAME_H

#include <cctype>
#include <string>

#include <gtest/gtest.h>

// Every word of a description capitalised, everything but letters and digits left
// out: "no message file" is NoMessageFile, "gpioSetMode" GpioSetMode.
inline std::string pascalCase(const char* words)
{
    std::string name;
    bool wordStart = true;
    for (const char* p = words; *p != '\0'; ++p) {
        const auto c = static_cast<unsigned char>(*p);
        if (std::isalnum(c) == 0) {
            wordStart = true;
            continue;
        }
        name += wordStart ? static_cast<char>(std::toupper(c)) : *p;
        wordStart = false;
    }
    return name;
}

// The name of a parameterised test, from its case's description ("what").
template <typename Case> std::string caseName(const testing::TestParamInfo<Case>& info)
{
    return pascalCase(info.param.what);
}

#endif
