// The lines the tests expect: for four bytes, each sent least significant bit first
// (NEC's order on air, written again here so that no test takes it from
// nec-code), and for a signal nec-code read, as its list shows it.
#ifndef NEC_CODE_TESTS_NEC_LINE_H
#define NEC_CODE_TESTS_NEC_LINE_H

#include <string>
#include <vector>

#include "codes.h"

inline std::string necLine(const std::vector<unsigned>& bytes)
{
    std::string line;
    for (const unsigned byte : bytes) {
        for (unsigned bit = 0; bit < 8; ++bit)
            line += ((byte >> bit) & 1u) != 0 ? '1' : '0';
    }
    return line;
}

// A signal's line as the list shows it: its code's 32 bits, top bit first, or "-"
// where it cannot be sent.
inline std::string lineOf(const Signal& s)
{
    if (!s.sendable)
        return "-";
    std::string line;
    for (int i = 31; i >= 0; --i)
        line += ((s.code >> static_cast<unsigned>(i)) & 1u) != 0 ? '1' : '0';
    return line;
}

#endif
