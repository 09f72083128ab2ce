#include "lirc_test.h"

void addBurst(Records& records, unsigned gpio, int periods, uint32_t onUs, uint32_t offUs)
{
    for (int i = 0; i < periods; ++i) {
        records.push_back({1u << gpio, 0, onUs});
        records.push_back({0, 1u << gpio, offUs});
    }
}

void addSilence(Records& records, uint32_t us)
{
    records.push_back({0, 0, us});
}

Records necRecords(const std::string& code, unsigned gpio)
{
    Records records;
    addBurst(records, gpio, 342, 13, 13);
    addSilence(records, 4500);
    for (const char bit : code) {
        addBurst(records, gpio, 21, 13, 13);
        addSilence(records, bit == '1' ? 1688 : 562);
    }
    addBurst(records, gpio, 21, 13, 13);
    return records;
}

Durations necDurations(const std::string& code)
{
    Durations durations{342 * 26, 4500};
    for (const char bit : code) {
        durations.push_back(21 * 26);
        durations.push_back(bit == '1' ? 1688 : 562);
    }
    durations.push_back(21 * 26);
    return durations;
}

std::string cells(const std::vector<uint32_t>& values)
{
    std::string bytes;
    for (const uint32_t value : values) {
        for (int shift = 24; shift >= 0; shift -= 8) {
            bytes += static_cast<char>((value >> shift) & 0xFF);
        }
    }
    return bytes;
}
