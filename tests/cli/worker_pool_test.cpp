// The pool's edge: what a unit's run throws stays on its thread and fails only that unit.

#include "cli/worker_pool.h"

#include <gtest/gtest.h>

#include <map>
#include <mutex>
#include <set>
#include <stdexcept>

namespace {

TEST(WorkerPool, WhatARunThrowsFailsThatUnitAndTheOthersStillRun) {
    std::mutex mutex;
    std::set<size_t> ran;
    std::map<size_t, std::string> escaped;
    cli::RunPool(8, 3,
                 {[&](size_t unit) {
                      {
                          std::lock_guard lock(mutex);
                          ran.insert(unit);
                      }
                      if (unit == 2)
                          throw std::runtime_error("byte 0xe9 is no UTF-8");
                      if (unit == 5)
                          throw 42;
                  },
                  [](size_t, size_t) {},
                  [] {},
                  {},
                  [&](size_t unit, const std::string& why) {
                      std::lock_guard lock(mutex);
                      escaped[unit] = why;
                      if (unit == 5)
                          throw std::runtime_error("the report of it failed too");
                  }},
                 5);
    EXPECT_EQ(ran.size(), 8u);
    EXPECT_EQ(escaped, (std::map<size_t, std::string>{{2, "byte 0xe9 is no UTF-8"},
                                                      {5, "an unknown exception"}}));
}

} // namespace
