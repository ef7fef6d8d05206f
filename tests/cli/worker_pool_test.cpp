// The pool's edge: what a unit's run throws stays on its thread and fails only that unit.

#include "cli/worker_pool.h"

#include <gtest/gtest.h>

#include <atomic>
#include <map>
#include <mutex>
#include <stdexcept>

TEST(WorkerPool, WhatARunThrowsFailsThatUnitAndTheOthersStillRun) {
    std::atomic<size_t> ran{0};
    std::mutex mutex;
    std::map<size_t, std::string> escaped;
    const auto run = [&](size_t unit) {
        ++ran;
        if (unit == 2)
            throw std::runtime_error("byte 0xe9 is no UTF-8");
        if (unit == 5)
            throw 42;
    };
    const auto caught = [&](size_t unit, const std::string& why) {
        std::lock_guard lock(mutex);
        escaped[unit] = why;
        if (unit == 5)
            throw std::runtime_error("saying so failed too"); // dropped
    };
    cli::RunPool(8, 3, {run, [](size_t, size_t) {}, [] {}, {}, caught}, 5);
    EXPECT_EQ(ran, 8u);
    EXPECT_EQ(escaped, (std::map<size_t, std::string>{{2, "byte 0xe9 is no UTF-8"},
                                                      {5, "an unknown exception"}}));
}
