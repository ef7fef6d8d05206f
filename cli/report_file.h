#pragma once
// Where a JSON report goes. It is written before any unit is contacted (so a folder that cannot
// take it is a usage error, not a surprise at the end) and then rewritten whole after every
// change: a run cut off at any moment, even by a power cut, leaves a valid report of every unit
// that had ended.

#include <mutex>
#include <string>

namespace cli {

class ReportFile {
  public:
    explicit ReportFile(std::string path); // empty: no report wanted
    bool Wanted() const { return !m_path.empty(); }
    const std::string& Path() const { return m_path; }

    // Replaces the report with the text in one step (threads may call it at once). false, with
    // Error() saying why, when it could not; the previous report then stays as it was.
    bool Write(const std::string& text);
    std::string Error() const;

  private:
    const std::string m_path;
    mutable std::mutex m_mutex;
    std::string m_error;
};

// Why files cannot be made in the folder, or empty when they can (a file is made and deleted).
std::string FolderNotWritable(const std::string& folder);

} // namespace cli
