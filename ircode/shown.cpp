#include "shown.h"

#include <cstddef>
#include <string>

std::string shown(const std::string& token)
{
    const std::size_t longest = 40;
    static const char digits[] = "0123456789abcdef";
    std::string text = "'";
    for (std::size_t i = 0; i < token.size() && i < longest; ++i) {
        const unsigned char c = static_cast<unsigned char>(token[i]);
        if (c >= 0x20 && c < 0x7f) {
            text += static_cast<char>(c);
        } else {
            text += "\\x";
            text += digits[c >> 4];
            text += digits[c & 0xf];
        }
    }
    text += token.size() > longest ? "...'" : "'";
    return text;
}
