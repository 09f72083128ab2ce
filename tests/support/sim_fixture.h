// A fresh pigpio stand-in for every test that runs it in its own process.
#ifndef BEAM_TESTS_SIM_FIXTURE_H
#define BEAM_TESTS_SIM_FIXTURE_H

#include <gtest/gtest.h>

#include "sim_helpers.h"

class FreshSim : public testing::Test {
  protected:
    void SetUp() override
    {
        freshSim();
    }
    // Leaves nothing behind for the test process's own exit report.
    void TearDown() override
    {
        freshSim();
    }
};

#endif
