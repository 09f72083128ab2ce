// The line beamfile reads for four bytes, each sent least significant bit first: NEC's
// order on air, written again here so that no test takes it from nec-code.
#ifndef NEC_CODE_TESTS_NEC_LINE_H
#define NEC_CODE_TESTS_NEC_LINE_H

#include <string>
#include <vector>

inline std::string necLine(const std::vector<unsigned>& bytes)
{
    std::string line;
    for (const unsigned byte : bytes) {
        for (unsigned bit = 0; bit < 8; ++bit)
            line += ((byte >> bit) & 1u) != 0 ? '1' : '0';
    }
    return line;
}

#endif
