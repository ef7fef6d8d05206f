#pragma once
// The highest release this host has sent for a model, kept in the state folder as one file a
// model (trust/release_state.h), written in one step and read as hostile input.

#include "trust/release_state.h"

#include <optional>
#include <string>

namespace cli {

struct KeptRelease {
    std::optional<trust::ReleaseState> state; // none kept yet
    std::string error;                        // the file is there but not ours, or unreadable
};

// The file of a model in the folder: "release-<model>.state", the model's bytes other than
// letters, digits, '.', '_' and '-' written as %HH.
std::string ReleaseStatePath(const std::string& folder, const std::string& model);

KeptRelease ReadKeptRelease(const std::string& folder, const std::string& model);

// Creates the folder when needed; why it cannot take the file, or empty.
std::string PrepareStateFolder(const std::string& folder);

// Writes the state whole in one step; why it failed, or empty.
std::string WriteKeptRelease(const std::string& folder, const trust::ReleaseState& state);

} // namespace cli
