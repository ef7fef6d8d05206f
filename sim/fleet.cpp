#include "sim/fleet.h"

namespace sim {

Fleet::Fleet(std::vector<UnitConfig> configs) : m_configs(std::move(configs)) {}

Fleet::~Fleet() {
    Stop();
}

bool Fleet::Start(std::string* error) {
    for (const auto& config : m_configs) {
        m_units.push_back(std::make_unique<Unit>(config));
        if (!m_units.back()->Start()) {
            *error = config.address + ": " + m_units.back()->Error();
            Stop();
            return false;
        }
    }
    return true;
}

void Fleet::Stop() {
    for (auto& unit : m_units) {
        unit->RequestStop();
    }
    for (auto& unit : m_units) {
        unit->Stop();
    }
}

bool Fleet::Running() const {
    for (const auto& unit : m_units) {
        if (unit->Running()) {
            return true;
        }
    }
    return false;
}

} // namespace sim
