// The pieces of nec-code: reading the numbers people find NEC codes written as, and
// turning them into the 32 bits of a frame in the order they go on air.
//
// A code is held as LIRC writes it: a 32-bit number whose most significant bit is
// sent first.  Both ways of naming a code meet there, so they cannot disagree.
#ifndef NEC_CODE_H
#define NEC_CODE_H

#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <cstdlib>

inline bool isDigit(char c, int base)
{
    if (c >= '0' && c <= '9')
        return true;
    return base == 16 && ((c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F'));
}

// The length of text if it is nothing but digits of base, else 0.  strtoul alone would
// also skip blanks, take a sign and, in base 16, a second "0x"; none belongs in a code.
inline std::size_t digitCount(const char* text, int base)
{
    std::size_t n = 0;
    while (text[n] != '\0') {
        if (!isDigit(text[n], base))
            return 0;
        ++n;
    }
    return n;
}

inline bool hasHexPrefix(const char* text)
{
    return text[0] == '0' && (text[1] == 'x' || text[1] == 'X');
}

// Decimal, or hex after 0x/0X.  A leading 0 does not mean octal: remote databases
// write decimal with padding, and nobody writes NEC codes in octal.
// Returns 0 and sets *value, or -1 for anything but a number from 0 to max.
inline int parseNumber(const char* text, unsigned long max, unsigned long* value)
{
    const int base = hasHexPrefix(text) ? 16 : 10;
    const char* digits = base == 16 ? text + 2 : text;
    if (digitCount(digits, base) == 0)
        return -1;
    errno = 0;
    const unsigned long v = std::strtoul(digits, nullptr, base);
    if (errno == ERANGE || v > max)
        return -1;
    *value = v;
    return 0;
}

// One to eight hex digits, with or without 0x/0X, as LIRC files and web pages write
// them; fewer digits mean leading zeros.  Returns 0 and sets *code, or -1.
inline int parseRaw(const char* text, std::uint32_t* code)
{
    const char* digits = hasHexPrefix(text) ? text + 2 : text;
    const std::size_t n = digitCount(digits, 16);
    if (n == 0 || n > 8)
        return -1;
    *code = static_cast<std::uint32_t>(std::strtoul(digits, nullptr, 16));
    return 0;
}

// NEC sends each byte least significant bit first; a code sends its top bit first.
inline std::uint32_t reverseBits(std::uint32_t byte)
{
    std::uint32_t r = 0;
    for (int i = 0; i < 8; ++i)
        r = (r << 1) | ((byte >> i) & 1u);
    return r;
}

// The four bytes (the low 8 bits of each) in the order they go on air, each sent
// least significant bit first.
inline std::uint32_t airCode(std::uint32_t b1, std::uint32_t b2, std::uint32_t b3, std::uint32_t b4)
{
    return reverseBits(b1 & 0xFFu) << 24u | reverseBits(b2 & 0xFFu) << 16u |
           reverseBits(b3 & 0xFFu) << 8u | reverseBits(b4 & 0xFFu);
}

// Address 0..0xFF is sent with its inverse; 0x100..0xFFFF is an extended 16-bit address,
// sent low byte first, which takes the place of the inverse.
inline std::uint32_t necCode(std::uint16_t address, std::uint8_t command)
{
    const std::uint32_t a = address;
    const std::uint32_t c = command;
    return airCode(a, a <= 0xFFu ? ~a : a >> 8u, c, ~c);
}

// The line of a message file: '0'/'1' for each bit, first sent first.
inline void codeBits(std::uint32_t code, char (&line)[33])
{
    for (int i = 0; i < 32; ++i)
        line[i] = ((code >> (31 - i)) & 1u) != 0 ? '1' : '0';
    line[32] = '\0';
}

#endif
