#pragma once
// Whether the files of a component can be uploaded at all, judged before anything is sent.

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

// The report for the first file whose record the transfer's length cannot hold, or, when the
// largest record cannot be allocated, for that file; nullopt when all can go. Files that cannot
// be sized here are left for the loader to report.
std::optional<std::string> FindUploadProblem(const std::vector<std::string>& names,
                                             size_t headerSize);
