#pragma once
// The manifest of an update set: a small text that names the set (model, release, optionally the
// version the units must end up with and when the manifest expires) and every component file
// with its SHA-256 and size. The format is stable; a later program reads every earlier format:
//
//   kqvorlink-manifest 1
//   model KQ-A2
//   release 7
//   target-version KQ-A2.01.02.50          (optional)
//   expires 2026-12-24T06:00:00+01:00      (optional)
//   file <sha256, 64 lowercase hex> <bytes> <name>    (one or more, sorted by name)
//
// Every line ends with a line feed and holds no control byte; a name holds no '/', '\' or ':'.

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace trust {

constexpr int kManifestFormat = 1;
constexpr size_t kMaxManifestBytes = 1024 * 1024;
constexpr size_t kMaxManifestFiles = 4096;

struct ManifestFile {
    std::string sha256; // lowercase hex
    uint64_t bytes = 0;
    std::string name;
};

struct Manifest {
    std::string model;
    uint64_t release = 0;
    std::optional<std::string> targetVersion;
    std::optional<std::string> expires; // ISO 8601 with its offset
    std::vector<ManifestFile> files;    // sorted by name
};

// Why a file name cannot stand in a manifest; empty when it can.
std::string FileNameProblem(const std::string& name);

// The manifest's text; its files are sorted here. The caller has checked the texts (printable).
std::string ManifestText(Manifest manifest);
// The lines of the files alone, as the manifest lists them (a set's digest without a manifest).
std::string FileLines(std::vector<ManifestFile> files);

struct ManifestReading {
    Manifest manifest;
    std::string error; // "line 4: ..." when the bytes are no manifest this program reads
};

ManifestReading ReadManifest(std::span<const uint8_t> bytes);

} // namespace trust
