#pragma once
// The rules of update-set discovery that do not need the dialog (the scans themselves are
// members of CUpdaterDlg).

#include "platform/file.h"

#include <functional>
#include <string>
#include <vector>

// The entry to record from a sorted search result: walking from the head, an entry that passes
// accept wins when nothing is chosen yet or its last-write time is strictly later than the
// chosen one's, so among equal times the first in name order stays. Null when none passes.
const platform::FindEntry* ChooseNewest(const std::vector<platform::FindEntry>& sorted,
                                        const std::function<bool(const std::string&)>& accept);

// The version number in a CPU program file's name: its third and fourth characters as a
// two-digit decimal number (ab07.cpu gives 7), or 5 when they are not both digits.
int CpuFileVersion(const std::string& name);
