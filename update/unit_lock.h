#pragma once
// The lock that keeps two runs (of any front end, in any process) from updating one unit at the
// same time.

#include <string>

// The lock's name for a unit's dotted address.
inline std::string UnitLockName(const std::string& address) {
    return "KQVorlink unit " + address;
}

// What the second run is told.
inline std::string UnitBusyText(const std::string& address) {
    return "Error : " + address + " is being updated by another run.";
}
