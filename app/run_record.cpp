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

// Makes a note (change says whether it changed anything) and tells the listener of it.
template <typename Change> void RunRecord::Note(const Change& change) {
    {
        std::lock_guard lock(m_mutex);
        if (!change(m_facts))
            return;
        ++m_facts.notes;
    }
    if (m_listener)
        m_listener();
}

void RunRecord::VersionTold(const std::string& text) {
    Note([&](RunFacts& facts) {
        if (facts.version)
            return false;
        facts.version = text;
        return true;
    });
}

void RunRecord::UploadAcknowledged(int step) {
    Note([&](RunFacts&) {
        ++Open(step).uploadsAcknowledged;
        return true;
    });
}

void RunRecord::Received(int step) {
    std::lock_guard lock(m_mutex);
    Open(step).received = true;
    ++m_facts.notes;
}

void RunRecord::Written(int step) {
    Note([&](RunFacts&) {
        Open(step).written = true;
        return true;
    });
}

void RunRecord::Answered() {
    Note([](RunFacts&) { return true; });
}

bool RunRecord::VersionKnown() const {
    std::lock_guard lock(m_mutex);
    return m_facts.version.has_value();
}

RunFacts RunRecord::Facts() const {
    std::lock_guard lock(m_mutex);
    return m_facts;
}

void RunRecord::Listen(std::function<void()> listener) {
    m_listener = std::move(listener);
}

StepFacts& RunRecord::Open(int step) {
    if (m_facts.steps.empty() || m_facts.steps.back().step != step || m_facts.steps.back().written)
        m_facts.steps.push_back({step});
    return m_facts.steps.back();
}
