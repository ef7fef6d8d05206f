#pragma once
// Where a JSON report goes. It is written before any unit is contacted (so a folder that cannot
// take it is a usage error, not a surprise at the end) and then rewritten whole after every
// change: a run cut off at any moment, even by a power cut, leaves a valid report of every unit
// that had ended.

#include "platform/process.h"

#include <mutex>
#include <string>

namespace cli {

class ReportFile {
  public:
    explicit ReportFile(std::string path); // empty: no report wanted
    bool Wanted() const { return !m_path.empty(); }
    const std::string& Path() const { return m_path; }

    // Makes the report this run's own before anything is written: a path that is a symbolic
    // link names its target from then on (the link stays and shows the new report), and a lock
    // named after that target is held until the ReportFile ends, so that a second run writing
    // the same report is refused at its start. Empty `why` when it is ours.
    struct Refusal {
        std::string why;
        bool runFailure = false; // the lock could not be taken at all (not a usage error)
    };
    Refusal Claim();

    // Replaces the report with the text in one step (threads may call it at once). false, with
    // Error() saying why, when it could not; the previous report then stays as it was.
    bool Write(const std::string& text);
    std::string Error() const;

  private:
    std::string m_path;
    platform::SingleInstanceLock m_lock;
    mutable std::mutex m_mutex;
    std::string m_error;
};

// Why files cannot be made in the folder, or empty when they can (a file is made and deleted).
std::string FolderNotWritable(const std::string& folder);

} // namespace cli
