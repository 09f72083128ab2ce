// The few text helpers every reader of signals shares.
#ifndef IRCODE_TEXT_H
#define IRCODE_TEXT_H

#include <cstdint>
#include <string>
#include <vector>

// The lines of text, without their line ends (LF or CR LF).
std::vector<std::string> splitLines(const std::string& text);
std::string trim(const std::string& text);
std::string lower(std::string text);
bool equalNoCase(const std::string& a, const std::string& b);
// The text with each control character written as \xNN, so that a message quoting it
// stays one line.
std::string printable(const std::string& text);
// Words separated by blanks and tabs.
std::vector<std::string> words(const std::string& line);

// Digits of base (10 or 16), nothing else, at most max.  Base 0 reads as C does:
// 0x hex, a leading 0 octal, else decimal (LIRC reads its numbers so).
// Returns 0 and sets *value, or -1.
int parseUnsigned(const std::string& text, int base, std::uint64_t max, std::uint64_t* value);
// An optional minus sign, then decimal digits.
int parseSigned(const std::string& text, std::int64_t min, std::int64_t max, std::int64_t* value);

#endif
