#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "parse.h"
#include "shown.h"

namespace {

constexpr std::int32_t lowestCarrierHz = 10000;
constexpr std::int32_t highestCarrierHz = 500000;

bool isBlank(char c)
{
    return c == ' ' || c == '\t' || c == '\r' || c == '\v' || c == '\f';
}

// A line without its comment: from a '#' or a "//" on, wherever it starts.
std::string withoutComment(const std::string& line)
{
    const std::size_t hash = line.find('#');
    const std::size_t slashes = line.find("//");
    return line.substr(0, hash < slashes ? hash : slashes);
}

std::vector<std::string> linesOf(const std::string& text)
{
    std::vector<std::string> lines;
    std::size_t start = 0;
    while (start <= text.size()) {
        std::size_t end = text.find('\n', start);
        if (end == std::string::npos)
            end = text.size();
        lines.push_back(withoutComment(text.substr(start, end - start)));
        start = end + 1;
    }
    return lines;
}

std::vector<std::string> tokensOf(const std::string& line, bool commaSeparates)
{
    const auto separates = [commaSeparates](char c) {
        return isBlank(c) || (commaSeparates && c == ',');
    };
    std::vector<std::string> tokens;
    std::size_t at = 0;
    while (at < line.size()) {
        while (at < line.size() && separates(line[at]))
            ++at;
        const std::size_t start = at;
        while (at < line.size() && !separates(line[at]))
            ++at;
        if (at > start)
            tokens.emplace_back(line, start, at - start);
    }
    return tokens;
}

// ir-ctl's own test: the first character that is neither blank nor comment.
bool looksRaw(const std::vector<std::string>& lines)
{
    for (const std::string& line : lines) {
        for (const char c : line) {
            if (!isBlank(c))
                return c == '+' || c == '-' || (c >= '0' && c <= '9');
        }
    }
    return false;
}

// digits as a count of microseconds, 1..maxDurationUs: "" and *us set, or why not
// (" is 0 us"), for the caller to put after the token it names.  The reason is only
// made for a refusal: a long capture should not pay for messages it never shows.
std::string durationProblem(const std::string& text, std::size_t from, std::uint32_t* us)
{
    if (from >= text.size() || text.find_first_not_of("0123456789", from) != std::string::npos)
        return " is not a number";
    std::uint64_t value = 0;
    for (std::size_t i = from; i < text.size(); ++i) {
        value = value * 10 + static_cast<std::uint64_t>(text[i] - '0');
        if (value > maxDurationUs)
            return " is more than " + std::to_string(maxDurationUs) + " us";
    }
    if (value == 0)
        return " is 0 us";
    *us = static_cast<std::uint32_t>(value);
    return "";
}

std::string lineName(std::size_t index)
{
    return "line " + std::to_string(index + 1);
}

// The sign is optional, since the values alternate anyway; one that contradicts its
// place means the list lost or gained a value before it, so it is refused.
std::string rawProblem(const std::string& token, bool isMark, std::uint32_t* us)
{
    const char sign = token[0];
    if ((sign == '+' && !isMark) || (sign == '-' && isMark)) {
        return std::string(" has the sign of a ") + (isMark ? "space" : "pulse") + " where a " +
               (isMark ? "pulse" : "space") + " comes";
    }
    return durationProblem(token, sign == '+' || sign == '-' ? 1 : 0, us);
}

int readRawValues(const std::vector<std::string>& lines, std::vector<std::uint32_t>* durations,
                  std::string* error)
{
    for (std::size_t l = 0; l < lines.size(); ++l) {
        for (const std::string& token : tokensOf(lines[l], true)) {
            const std::size_t n = durations->size();
            std::uint32_t us = 0;
            const std::string problem =
                n == maxDurations ? " is more than " + std::to_string(maxDurations) + " values"
                                  : rawProblem(token, n % 2 == 0, &us);
            if (!problem.empty()) {
                *error = lineName(l) + ", value " + std::to_string(n + 1) + ": " + shown(token) +
                         problem;
                return -1;
            }
            durations->push_back(us);
        }
    }
    return 0;
}

int readKeywordLine(const std::vector<std::string>& tokens, const std::string& where,
                    std::vector<std::uint32_t>* durations, std::int32_t* carrierHz,
                    std::string* error)
{
    const std::string& keyword = tokens[0];
    const bool isMark = keyword == "pulse";
    if (!isMark && keyword != "space" && keyword != "timeout" && keyword != "carrier") {
        *error = where + ": " + shown(keyword) +
                 (keyword == "scancode" || keyword == "duty_cycle"
                      ? " is not supported here"
                      : " is no keyword (pulse, space, timeout, carrier)");
        return -1;
    }
    if (tokens.size() != 2) {
        *error = where + ": " + shown(keyword) + " takes one number, not " +
                 std::to_string(tokens.size() - 1);
        return -1;
    }
    const std::string& number = tokens[1];
    const std::string named = where + ": " + keyword + " " + shown(number);
    if (number.size() > 1 && number[0] == '-' &&
        number.find_first_not_of("0123456789", 1) == std::string::npos) {
        *error = named + " is negative";
        return -1;
    }
    std::uint32_t value = 0;
    const std::string problem = durationProblem(number, 0, &value);
    if (!problem.empty()) {
        *error = named + problem;
        return -1;
    }
    if (keyword == "carrier") {
        if (value < lowestCarrierHz || value > highestCarrierHz) {
            *error = where + ": carrier " + std::to_string(value) + " is not " +
                     std::to_string(lowestCarrierHz) + ".." + std::to_string(highestCarrierHz) +
                     " Hz";
            return -1;
        }
        *carrierHz = static_cast<std::int32_t>(value);
        return 0;
    }
    appendDuration(durations, isMark, value);
    if (durations->size() > maxDurations) {
        *error = where + ": " + keyword + " " + shown(tokens[1]) + " is more than " +
                 std::to_string(maxDurations) + " durations";
        return -1;
    }
    if (!durations->empty() && durations->back() > maxDurationUs) {
        *error = where + ": " + keyword + " " + shown(tokens[1]) + " adds up to " +
                 std::to_string(durations->back()) + " us, more than " +
                 std::to_string(maxDurationUs);
        return -1;
    }
    return 0;
}

int readKeywords(const std::vector<std::string>& lines, std::vector<std::uint32_t>* durations,
                 std::int32_t* carrierHz, std::string* error)
{
    for (std::size_t l = 0; l < lines.size(); ++l) {
        const std::vector<std::string> tokens = tokensOf(lines[l], false);
        if (!tokens.empty() &&
            readKeywordLine(tokens, lineName(l), durations, carrierHz, error) != 0)
            return -1;
    }
    return 0;
}

} // namespace

int parseRaw(const std::string& text, Press* press, std::uint32_t* droppedUs, std::string* error)
{
    const std::vector<std::string> lines = linesOf(text);
    std::vector<std::uint32_t> durations;
    std::int32_t carrierHz = press->carrierHz;
    const int status = looksRaw(lines) ? readRawValues(lines, &durations, error)
                                       : readKeywords(lines, &durations, &carrierHz, error);
    if (status != 0)
        return -1;
    if (durations.empty()) {
        *error = "no pulse in the text";
        return -1;
    }
    std::uint32_t dropped = 0;
    if (durations.size() % 2 == 0) {
        dropped = durations.back();
        durations.pop_back();
    }
    press->durations = durations;
    press->carrierHz = carrierHz;
    *droppedUs = dropped;
    return 0;
}
