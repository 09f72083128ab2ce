#include "press.h"

#include <string>
#include <vector>

void appendDuration(std::vector<std::uint32_t>* durations, bool isMark, std::uint32_t us)
{
    if (us == 0)
        return;
    // Marks sit at even places, spaces at odd ones.
    const bool lastIsMark = durations->size() % 2 == 1;
    if (durations->empty()) {
        if (isMark)
            durations->push_back(us); // a press starts with a mark; a space before it is nothing
        return;
    }
    if (lastIsMark == isMark)
        durations->back() += us;
    else
        durations->push_back(us);
}

std::string durationText(const std::vector<std::uint32_t>& durations)
{
    std::string text;
    for (std::size_t i = 0; i < durations.size(); ++i) {
        if (i > 0)
            text += ' ';
        text += i % 2 == 0 ? '+' : '-';
        text += std::to_string(durations[i]);
    }
    return text;
}
