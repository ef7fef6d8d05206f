#include "cli/waves.h"

#include <charconv>

namespace cli {
namespace {

// A whole number written with digits only, at most 100,000,000.
bool ParseCount(const std::string& text, size_t& value) {
    if (text.empty() || text.size() > 9)
        return false;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    return error == std::errc() && end == text.data() + text.size();
}

} // namespace

WavePlan PlanWaves(const std::string& list, size_t units) {
    WavePlan plan;
    size_t from = 0;
    while (!list.empty() && from <= list.size()) {
        const size_t comma = std::min(list.find(',', from), list.size());
        std::string item = list.substr(from, comma - from);
        from = comma + 1;
        const bool share = !item.empty() && item.back() == '%';
        if (share)
            item.pop_back();
        size_t value = 0;
        if (!ParseCount(item, value) || value == 0 || (share && value > 100))
            return {{},
                    std::string("'").append(list, 0, comma) +
                        "': each size is a number of units (1 or more) or a share from 1% to "
                        "100%"};
        const size_t size = share ? (value * units + 99) / 100 : value;
        // A size that adds no unit (past the units, or a share that rounds to fewer units than
        // a size before it) is dropped: one list fits a site of any size.
        const size_t before = plan.ends.empty() ? 0 : plan.ends.back();
        if (std::min(size, units) > before)
            plan.ends.push_back(std::min(size, units));
    }
    if (units > 0 && (plan.ends.empty() || plan.ends.back() < units))
        plan.ends.push_back(units);
    return plan;
}

bool BudgetSpent(size_t tested, size_t failed, unsigned percent) {
    return failed * 100 > size_t(percent) * tested;
}

std::string WaveStoppedText(size_t next, size_t waves, size_t tested, size_t failed,
                            unsigned percent) {
    return "wave " + std::to_string(next + 1) + " of " + std::to_string(waves) +
           " not started: " + std::to_string(failed) + " of " + std::to_string(tested) +
           " unit(s) sent the set failed, budget " + std::to_string(percent) + " %";
}

} // namespace cli
