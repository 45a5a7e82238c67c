#pragma once
// --check as the pair's unit runs: under its account and in its sandbox, through systemd-run.
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "process/identity.h"

namespace brimlet {

// The properties of the pair's unit that decide what a run may reach, as `systemctl show -p`
// takes them (LoadState first: a unit that is not loaded is not copied).
inline constexpr std::string_view kUnitCheckProperties =
    "LoadState,User,Group,SupplementaryGroups,WorkingDirectory,UMask,ProtectSystem,ProtectHome,"
    "ReadWritePaths,ReadOnlyPaths,InaccessiblePaths,PrivateTmp,PrivateDevices,PrivateUsers,"
    "PrivateNetwork,NoNewPrivileges,RestrictAddressFamilies";

// The systemd-run command that runs `link --check` with the properties of `showText` (the
// output of `systemctl show -p kUnitCheckProperties UNIT`): every property with a value is
// passed on as it is shown. Nothing when the unit is not loaded or names no User.
std::optional<std::vector<std::string>> UnitCheckCommand(std::string_view showText,
                                                         const std::string& unit,
                                                         const std::string& link);

#ifndef _WIN32
// Run as root for a pair of `linkRoot` on a system run by systemd, replaces the process with
// the check inside the unit brimlet@NAME.service's account and sandbox; returns (and the
// check goes on as before) when any of that does not hold or systemd-run cannot be started.
void CheckInsideUnit(const ExecutableIdentity& target, std::string_view linkRoot);
#endif

}  // namespace brimlet
