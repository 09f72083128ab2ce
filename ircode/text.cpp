#include "text.h"

#include <cstddef>
#include <cstdio>

std::vector<std::string> splitLines(const std::string& text)
{
    std::vector<std::string> lines;
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t end = text.find('\n', start);
        if (end == std::string::npos)
            end = text.size();
        std::size_t stop = end;
        if (stop > start && text[stop - 1] == '\r')
            --stop;
        lines.push_back(text.substr(start, stop - start));
        start = end + 1;
    }
    return lines;
}

static bool isBlank(char c)
{
    return c == ' ' || c == '\t' || c == '\r' || c == '\v' || c == '\f';
}

std::string trim(const std::string& text)
{
    std::size_t first = 0;
    std::size_t last = text.size();
    while (first < last && isBlank(text[first]))
        ++first;
    while (last > first && isBlank(text[last - 1]))
        --last;
    return text.substr(first, last - first);
}

std::string lower(std::string text)
{
    for (char& c : text) {
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    }
    return text;
}

bool equalNoCase(const std::string& a, const std::string& b)
{
    return lower(a) == lower(b);
}

std::string printable(const std::string& text)
{
    std::string out;
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 0x20 || byte == 0x7F) {
            char escaped[8];
            (void)std::snprintf(escaped, sizeof escaped, "\\x%02X", byte);
            out += escaped;
        } else {
            out += c;
        }
    }
    return out;
}

std::vector<std::string> words(const std::string& line)
{
    std::vector<std::string> found;
    std::size_t i = 0;
    while (i < line.size()) {
        while (i < line.size() && isBlank(line[i]))
            ++i;
        const std::size_t start = i;
        while (i < line.size() && !isBlank(line[i]))
            ++i;
        if (i > start)
            found.push_back(line.substr(start, i - start));
    }
    return found;
}

static int digitValue(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return 99;
}

int parseUnsigned(const std::string& text, int base, std::uint64_t max, std::uint64_t* value)
{
    std::size_t i = 0;
    if (base == 0) {
        if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
            base = 16;
            i = 2;
        } else {
            base = text.size() > 1 && text[0] == '0' ? 8 : 10;
        }
    }
    if (i >= text.size())
        return -1;
    std::uint64_t v = 0;
    for (; i < text.size(); ++i) {
        const int d = digitValue(text[i]);
        if (d >= base)
            return -1;
        const auto digit = static_cast<std::uint64_t>(d);
        const auto b = static_cast<std::uint64_t>(base);
        if (digit > max || v > (max - digit) / b)
            return -1;
        v = v * b + digit;
    }
    *value = v;
    return 0;
}

int parseSigned(const std::string& text, std::int64_t min, std::int64_t max, std::int64_t* value)
{
    const bool negative = !text.empty() && text[0] == '-';
    std::uint64_t magnitude = 0;
    if (parseUnsigned(negative ? text.substr(1) : text, 10, std::uint64_t{1} << 62u, &magnitude) !=
        0)
        return -1;
    const auto v =
        negative ? -static_cast<std::int64_t>(magnitude) : static_cast<std::int64_t>(magnitude);
    if (v < min || v > max)
        return -1;
    *value = v;
    return 0;
}
