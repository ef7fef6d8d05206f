#pragma once
// The commands of a signed roll-out: `manifest` writes the set's manifest, `verify` checks the set
// as `update --manifest` does and contacts no unit; and what `update` does with them before and
// after its run.

#include "cli/set_evidence.h"
#include "cli/trust_options.h"

#include <cstdio>
#include <memory>
#include <optional>
#include <string>

class ComponentStore;

namespace cli {

class UpdateSet;

// Says a set that is refused, on one line; returns the usage status (2).
int SetRefused(std::FILE* err, const std::string& why);

int ManifestCommand(const TrustOptions& options, const std::optional<std::string>& targetVersion,
                    const UpdateSet& set, std::FILE* out, std::FILE* err);

int VerifyCommand(const TrustOptions& options, const UpdateSet& set, std::FILE* out,
                  std::FILE* err);

// The set of an update as its units will receive it: the loaded files every unit's run shares,
// and the evidence the report gives of them and of who started the run.
struct PreparedSet {
    std::shared_ptr<ComponentStore> store;
    SetEvidence evidence;
    OperatorIdentity who;
};

// Verifies a signed set (or describes an unsigned one) before any unit is contacted; the status
// to end with when the update must not run.
std::optional<int> PrepareSet(const TrustOptions& options,
                              const std::optional<std::string>& targetVersion, const UpdateSet& set,
                              PreparedSet& prepared, std::FILE* err);

// After the run: when a unit completed with a signed set of a higher release than this host had
// sent for the model, that release is kept. false (said on err) when it could not be written.
bool KeepRelease(const TrustOptions& options, const std::string& model, const PreparedSet& prepared,
                 bool unitCompleted, std::FILE* err);

} // namespace cli
