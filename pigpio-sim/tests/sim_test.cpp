#include "sim_test.h"

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>

#include <unistd.h>

void freshLibrary()
{
    // Every control, whichever the stand-in has.
    std::vector<std::string> names;
    for (char** e = environ; *e != nullptr; ++e) {
        const std::string entry = *e;
        if (entry.compare(0, 11, "PIGPIO_SIM_") == 0) {
            names.push_back(entry.substr(0, entry.find('=')));
        }
    }
    for (const std::string& name : names) {
        unsetenv(name.c_str());
    }
    // A simulation, on a Raspberry Pi too; the helper processes inherit it.
    setenv("PIGPIO_SIM_ON_PI", "1", 1);
    pigpioSimReset();
    pigpioSimUseVirtualClock(1);
}

void SimTest::SetUp()
{
    freshLibrary();
}

// Leaves nothing behind for the test process's own exit report.
void SimTest::TearDown()
{
    freshLibrary();
}

void sleepMicros(uint64_t micros)
{
    time_sleep(static_cast<double>(micros) / 1e6);
}

Edges edgesOf(unsigned gpio)
{
    Edges edges;
    for (int i = 0; i < pigpioSimEdgeCount(gpio); ++i) {
        uint64_t at = 0;
        int level = -1;
        EXPECT_EQ(pigpioSimEdge(gpio, i, &at, &level), 0);
        edges.emplace_back(at, level);
    }
    return edges;
}

std::vector<std::string> callLog()
{
    std::vector<std::string> calls;
    calls.reserve(static_cast<size_t>(pigpioSimCallCount()));
    for (int i = 0; i < pigpioSimCallCount(); ++i) {
        calls.emplace_back(pigpioSimCall(i));
    }
    return calls;
}

std::string readFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

std::string tempPath(const std::string& name)
{
    std::string test = ::testing::UnitTest::GetInstance()->current_test_info()->name();
    for (char& c : test) {
        c = c == '/' ? '_' : c; // parameterised tests are named "Name/0"
    }
    std::string path = ::testing::TempDir() + "pigpio_sim_" + test + "_" + name;
    (void)std::remove(path.c_str()); // none there yet is as good
    return path;
}

Pulses carrier(unsigned gpio, int pulses, int delays)
{
    Pulses out;
    for (int i = 0; i < pulses; ++i) {
        out.push_back(i % 2 == 0 ? gpioPulse_t{1u << gpio, 0, 13} : gpioPulse_t{0, 1u << gpio, 13});
    }
    for (int i = 0; i < delays; ++i) {
        out.push_back({0, 0, 100});
    }
    return out;
}

int makeWave(Pulses pulses)
{
    const int added = gpioWaveAddGeneric(static_cast<unsigned>(pulses.size()), pulses.data());
    return added < 0 ? added : gpioWaveCreate();
}
