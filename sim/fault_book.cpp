#include "sim/fault_book.h"

#include <strings.h>

namespace sim {

FaultBook::FaultBook(std::vector<Fault> faults) {
    for (auto& f : faults) {
        m_entries.push_back({std::move(f), 0});
    }
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
        const int first = f.occurrence < 1 ? 1 : f.occurrence;
        const bool fires = e.met >= first && (f.times <= 0 || e.met < first + f.times);
        if (fires && !fired) {
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

} // namespace sim
