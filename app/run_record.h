#pragma once
// What the unit itself confirmed during a run, taken from its replies: the version text it gave
// when it was identified as the set's model, each upload of a component file that it answered
// with the end of the transfer ("226"), and each component it wrote. The run notes; a front end
// reads while the run goes on, so the record is locked.

#include <mutex>
#include <optional>
#include <string>
#include <vector>

// One step of the run as the unit answered it: a component, or one pass of the CPU program.
struct StepFacts {
    int step = 0;                     // the step code (UpdateStep)
    unsigned uploadsAcknowledged = 0; // its files' uploads that the unit acknowledged
    bool received = false;            // the unit acknowledged the upload of every file of it
    bool written = false; // the unit took the write: a file component's "u_soft" was answered
                          // without refusal; the CPU program's unit came back after its restart
};

struct RunFacts {
    std::optional<std::string> version; // the unit's version text when first identified
    std::vector<StepFacts> steps;       // in the order of the run
    unsigned notes = 0;                 // grows with every note: tells a reader what is new

    // How often the unit took the write of a step (the CPU program's passes).
    int Writes(int step) const;
    // The steps of which the unit acknowledged every upload, written or not (a component whose
    // second file it refused is not among them).
    unsigned ComponentsAcknowledged() const;
};

class RunRecord {
  public:
    void Clear();
    void VersionTold(const std::string& text); // the first one of the run stays
    void UploadAcknowledged(int step);
    void Received(int step); // every file of the step was acknowledged
    void Written(int step);
    bool VersionKnown() const;
    RunFacts Facts() const;

  private:
    StepFacts& Open(int step); // the step's entry, made when the last one is another or written

    mutable std::mutex m_mutex;
    RunFacts m_facts;
};
