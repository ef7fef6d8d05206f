#pragma once
// Which version a fleet run asks for: the units that are current already, and the version an
// updated unit must report when it is asked again after "Update Complete.".

#include "cli/check_unit.h"
#include "cli/unit_text.h" // VersionAsShown: the one form in which versions are compared

#include <optional>
#include <string>

namespace cli {

struct VersionRule {
    std::optional<std::string> current; // a unit at this text is left as it is
    std::optional<std::string> target;  // what an updated unit must report afterwards
    bool readAfter = false;             // log in again after the update and read the version
};

// A version text given on the command line (--skip-version, --target-version) in the form
// versions are compared: as `check` shows it, its escapes standing for their bytes, or plain.
std::string VersionGiven(const std::string& argument);

// Whether the unit counts as current (a unit of the set's model at the rule's version).
bool IsCurrent(const VersionRule& rule, const CheckResult& check);

// Why a unit that completed its update fails when asked again afterwards; empty when it passes.
std::string VersionAfterFailure(const VersionRule& rule, const CheckResult& after);

} // namespace cli
