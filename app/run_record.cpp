#include "app/run_record.h"

#include <algorithm>

int RunFacts::Writes(int step) const {
    return int(std::count_if(steps.begin(), steps.end(), [step](const StepFacts& facts) {
        return facts.step == step && facts.written;
    }));
}

unsigned RunFacts::ComponentsAcknowledged() const {
    return unsigned(std::count_if(steps.begin(), steps.end(), [](const StepFacts& facts) {
        return facts.received && facts.uploadsAcknowledged > 0;
    }));
}

void RunRecord::Clear() {
    std::lock_guard lock(m_mutex);
    m_facts = RunFacts{};
}

void RunRecord::VersionTold(const std::string& text) {
    std::lock_guard lock(m_mutex);
    if (m_facts.version)
        return;
    m_facts.version = text;
    ++m_facts.notes;
}

void RunRecord::UploadAcknowledged(int step) {
    std::lock_guard lock(m_mutex);
    ++Open(step).uploadsAcknowledged;
    ++m_facts.notes;
}

void RunRecord::Received(int step) {
    std::lock_guard lock(m_mutex);
    Open(step).received = true;
    ++m_facts.notes;
}

void RunRecord::Written(int step) {
    std::lock_guard lock(m_mutex);
    Open(step).written = true;
    ++m_facts.notes;
}

bool RunRecord::VersionKnown() const {
    std::lock_guard lock(m_mutex);
    return m_facts.version.has_value();
}

RunFacts RunRecord::Facts() const {
    std::lock_guard lock(m_mutex);
    return m_facts;
}

StepFacts& RunRecord::Open(int step) {
    if (m_facts.steps.empty() || m_facts.steps.back().step != step || m_facts.steps.back().written)
        m_facts.steps.push_back({step});
    return m_facts.steps.back();
}
