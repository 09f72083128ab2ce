// The name of a parameterised test, from its case's description ("what").
#ifndef BEAM_TESTS_CASE_NAME_H
#define BEAM_TESTS_CASE_NAME_H

#include <cctype>
#include <string>

#include <gtest/gtest.h>

template <typename Case> std::string caseName(const testing::TestParamInfo<Case>& info)
{
    std::string name;
    for (const char* p = info.param.what; *p != '\0'; ++p) {
        name += std::isalnum(static_cast<unsigned char>(*p)) != 0 ? *p : '_';
    }
    return name;
}

#endif
