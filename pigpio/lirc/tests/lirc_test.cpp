#include "lirc_test.h"

#include <cstdlib>

#include "fake_device.h"

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

::testing::AssertionResult contains(const std::string& text, const std::string& part)
{
    if (text.find(part) != std::string::npos) {
        return ::testing::AssertionSuccess();
    }
    return ::testing::AssertionFailure() << "\"" << part << "\" is not in \"" << text << "\"";
}

std::pair<int, std::string> initialise()
{
    testing::internal::CaptureStderr();
    const int result = gpioInitialise();
    return {result, testing::internal::GetCapturedStderr()};
}

int create(Records records)
{
    EXPECT_EQ(gpioWaveAddGeneric(static_cast<unsigned>(records.size()), records.data()),
              static_cast<int>(records.size()));
    return gpioWaveCreate();
}

void LibraryTest::SetUp()
{
    fake_lirc::reset();
    unsetenv("PIGPIO_LIRC_DEVICE");
    setenv("PIGPIO_LIRC_DT_ROOT", tree_.path().c_str(), 1);
    setenv("PIGPIO_LIRC_SYSFS", sysfs_.path().c_str(), 1);
}

void LibraryTest::TearDown()
{
    gpioTerminate();
    EXPECT_EQ(fake_lirc::openCount(), 0);
    for (const char* name : {"PIGPIO_LIRC_DEVICE", "PIGPIO_LIRC_DT_ROOT", "PIGPIO_LIRC_SYSFS"}) {
        unsetenv(name);
    }
}
