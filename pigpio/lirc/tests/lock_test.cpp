// Holding the transmitter: an exclusive flock on the device, from before its carrier
// is set until 40 ms of silence have followed the frame.  Another open of the lock
// file stands in for another sender: flock locks of two opens conflict, in one
// process as in two.
#include <algorithm>
#include <atomic>
#include <chrono>
#include <fcntl.h>
#include <functional>
#include <sys/file.h>
#include <thread>
#include <unistd.h>

#include <gtest/gtest.h>

#include "fake_device.h"
#include "lirc_core.h"
#include "lirc_test.h"
#include "pigpio_rules.h"

namespace {

using pigpio_rules::monotonicNs;
using testing::internal::CaptureStderr;
using testing::internal::GetCapturedStderr;

constexpr uint64_t kMs = 1000000;

class OtherSender {
  public:
    explicit OtherSender(const std::string& path)
        : fd_(open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600))
    {
    }
    ~OtherSender()
    {
        close(fd_);
    }
    OtherSender(const OtherSender&) = delete;
    OtherSender& operator=(const OtherSender&) = delete;

    bool take() const
    {
        return flock(fd_, LOCK_EX | LOCK_NB) == 0;
    }
    void letGo() const
    {
        flock(fd_, LOCK_UN);
    }

  private:
    int fd_;
};

class LockTest : public LibraryTest {
  protected:
    void SetUp() override
    {
        LibraryTest::SetUp();
        device_ = &fake_lirc::add("/dev/lirc0");
        device_->lockPath = lockFile();
    }
    std::string lockFile() const
    {
        return files_.file("lirc0");
    }
    fake_lirc::Device& device() const
    {
        return *device_;
    }
    // Initialised, with wave 0 the frame of one bit.
    static void ready()
    {
        ASSERT_EQ(gpioInitialise(), PIGPIO_VERSION);
        ASSERT_EQ(create(necRecords("1")), 0);
    }

  private:
    TempDir files_;
    fake_lirc::Device* device_ = nullptr;
};

double secondsOf(const std::function<void()>& work)
{
    const auto start = std::chrono::steady_clock::now();
    work();
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

TEST_F(LockTest, HeldUntilFortyMillisecondsAfterTheFrame)
{
    ready();
    const OtherSender other(lockFile());
    ASSERT_EQ(gpioWaveTxSend(0, PI_WAVE_MODE_ONE_SHOT), 5);
    EXPECT_FALSE(other.take());
    EXPECT_EQ(gpioWaveTxBusy(), 1);
    while (gpioWaveTxBusy() == 1) {
        std::this_thread::sleep_for(std::chrono::microseconds(500));
    }
    EXPECT_TRUE(other.take());
    ASSERT_EQ(device().unlocks.size(), 1u);
    EXPECT_GE(device().unlocks[0] - device().writeTimes[0].second, 40 * kMs);
    // Taken before the carrier was set.
    const std::vector<std::string>& calls = fake_lirc::calls();
    const auto at = [&calls](const std::string& call) {
        return std::find(calls.begin(), calls.end(), call) - calls.begin();
    };
    EXPECT_LT(at("lock"), at("carrier 38462"));
    EXPECT_LT(at("duty 50"), at("unlock"));
}

// The programs poll gpioWaveTxBusy every 0.1 s: the device is let go when the
// silence ends, within that sleep (here a longer one, so that a slow machine cannot
// blur the two).
TEST_F(LockTest, ASleepLetsGoWhenTheSilenceEnds)
{
    ready();
    ASSERT_EQ(gpioWaveTxSend(0, PI_WAVE_MODE_ONE_SHOT), 5);
    std::atomic<uint64_t> taken{0};
    std::thread other([this, &taken] {
        const OtherSender sender(lockFile());
        const uint64_t giveUp = monotonicNs() + 2000 * kMs;
        while (!sender.take() && monotonicNs() < giveUp) {
            std::this_thread::sleep_for(std::chrono::microseconds(200));
        }
        taken = monotonicNs();
        sender.letGo();
    });
    EXPECT_GE(secondsOf([] { time_sleep(0.5); }), 0.5);
    other.join();
    const uint64_t afterFrame = taken - device().writeTimes[0].second;
    EXPECT_GE(afterFrame, 40 * kMs);
    EXPECT_LT(afterFrame, 250 * kMs); // not at the sleep's end
    EXPECT_EQ(gpioWaveTxBusy(), 0);
}

TEST_F(LockTest, WaitsForAnotherSenderToLetGo)
{
    ready();
    const OtherSender other(lockFile());
    ASSERT_TRUE(other.take());
    uint64_t letGoAt = 0;
    std::thread release([&other, &letGoAt] {
        std::this_thread::sleep_for(std::chrono::milliseconds(150));
        letGoAt = monotonicNs();
        other.letGo();
    });
    EXPECT_EQ(gpioWaveTxSend(0, PI_WAVE_MODE_ONE_SHOT), 5);
    release.join();
    ASSERT_EQ(device().writes.size(), 1u);
    EXPECT_GE(device().locks[0], letGoAt);
}

TEST_F(LockTest, GivesUpAtItsBoundAndSaysSo)
{
    const OtherSender other(lockFile());
    ASSERT_TRUE(other.take());
    const int fd = pigpio_lirc::deviceOpen("/dev/lirc0");
    ASSERT_GE(fd, 0);
    CaptureStderr();
    int result = 0;
    const double waited = secondsOf(
        [fd, &result] { result = pigpio_lirc::lockTransmitter(fd, "/dev/lirc0", 200 * kMs); });
    const std::string said = GetCapturedStderr();
    pigpio_lirc::deviceClose(fd);
    EXPECT_EQ(result, -132);
    EXPECT_GE(waited, 0.2);
    EXPECT_LT(waited, 1.0);
    EXPECT_TRUE(contains(said, " gpioWaveTxSend: /dev/lirc0 is busy: another sender has held it "
                               "for 0.2 s; nothing was sent\n"));
    EXPECT_TRUE(device().locks.empty());
}

// One process's frames keep the same distance as two processes' do.
TEST_F(LockTest, TwoSendsOfOneProcessAreApartToo)
{
    ready();
    ASSERT_EQ(gpioWaveTxSend(0, PI_WAVE_MODE_ONE_SHOT), 5);
    ASSERT_EQ(gpioWaveTxSend(0, PI_WAVE_MODE_ONE_SHOT), 5);
    ASSERT_EQ(device().writeTimes.size(), 2u);
    EXPECT_GE(device().writeTimes[1].first - device().writeTimes[0].second, 40 * kMs);
}

TEST_F(LockTest, TerminateLetsGoAfterTheSilence)
{
    ready();
    ASSERT_EQ(gpioWaveTxSend(0, PI_WAVE_MODE_ONE_SHOT), 5);
    gpioTerminate();
    const OtherSender other(lockFile());
    EXPECT_TRUE(other.take());
    ASSERT_EQ(device().unlocks.size(), 1u);
    EXPECT_GE(device().unlocks[0] - device().writeTimes[0].second, 40 * kMs);
    EXPECT_EQ(fake_lirc::calls().back(), "close /dev/lirc0");
}

// A send refused before the write lets go at once: nothing went out.
TEST_F(LockTest, AFailedSendLetsGoAtOnce)
{
    device().carrierErrno = EINVAL;
    ready();
    CaptureStderr();
    EXPECT_EQ(gpioWaveTxSend(0, PI_WAVE_MODE_ONE_SHOT), -132);
    GetCapturedStderr();
    const OtherSender other(lockFile());
    EXPECT_TRUE(other.take());
    EXPECT_EQ(gpioWaveTxBusy(), 0);
}

} // namespace
