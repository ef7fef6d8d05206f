#include "sim/fault_book.h"

#include <strings.h>

#include <algorithm>

namespace sim {

FaultBook::FaultBook(std::vector<Fault> faults) {
    for (auto& f : faults) {
        m_entries.push_back({std::move(f), 0});
    }
}

bool FaultBook::Entry::FiresAt(int meeting) const {
    const int first = fault.occurrence < 1 ? 1 : fault.occurrence;
    return meeting >= first && (fault.times <= 0 || meeting < first + fault.times);
}

std::optional<Fault> FaultBook::Check(Fault::Trigger trigger, const std::string& line) {
    std::lock_guard lock(m_mutex);
    std::optional<Fault> fired;
    for (auto& e : m_entries) {
        const Fault& f = e.fault;
        if (f.trigger != trigger) {
            continue;
        }
        // FTP command words are case-insensitive; the match is a prefix of the line.
        if (trigger == Fault::Trigger::Command &&
            (line.size() < f.match.size() ||
             ::strncasecmp(line.c_str(), f.match.c_str(), f.match.size()) != 0)) {
            continue;
        }
        ++e.met;
        if (e.FiresAt(e.met) && !fired) {
            fired = f;
        }
    }
    return fired;
}

bool FaultBook::RefusesAlways(Fault::Trigger trigger) const {
    std::lock_guard lock(m_mutex);
    for (const auto& e : m_entries) {
        const Fault& f = e.fault;
        if (f.trigger == trigger && f.action == Fault::Action::Refuse && f.occurrence <= 1 &&
            f.times <= 0) {
            return true;
        }
    }
    return false;
}

namespace {
bool Dropping(Fault::Action action) {
    return action == Fault::Action::Refuse || action == Fault::Action::Late;
}
} // namespace

bool FaultBook::NextDropped(Fault::Trigger trigger) const {
    std::lock_guard lock(m_mutex);
    for (const auto& e : m_entries) {
        if (e.fault.trigger == trigger && e.FiresAt(e.met + 1)) {
            return Dropping(e.fault.action);
        }
    }
    return false;
}

bool FaultBook::AttemptsToCount(Fault::Trigger trigger) const {
    std::lock_guard lock(m_mutex);
    for (const auto& e : m_entries) {
        const Fault& f = e.fault;
        const bool always = f.occurrence <= 1 && f.times <= 0 && f.action == Fault::Action::Refuse;
        if (f.trigger == trigger && Dropping(f.action) && !always &&
            (f.times <= 0 || e.met < std::max(f.occurrence, 1) + f.times - 1)) {
            return true;
        }
    }
    return false;
}

} // namespace sim
