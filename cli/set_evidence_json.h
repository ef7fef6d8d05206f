#pragma once
// The update report's evidence of the set (its "set" object's fields beside folder and model)
// and its "operator" object.

#include "cli/set_evidence.h"

#include <nlohmann/json.hpp>

namespace cli {

void AddSetEvidence(nlohmann::json& report, const SetEvidence& set, const OperatorIdentity& who);

} // namespace cli
