#pragma once

#include <QString>
#include <QStringList>

#include <functional>

namespace nimbrel {

// What a package turned off for every user of it, through the environment: the launch report
// (NIMBREL_NO_LAUNCH_REPORT=1) and the update check (NIMBREL_NO_UPDATE_CHECK=1). What it turned off
// stays off whatever the settings say.
struct PackagerPolicy {
    static constexpr const char* noLaunchReportVariable = "NIMBREL_NO_LAUNCH_REPORT";
    static constexpr const char* noUpdateCheckVariable = "NIMBREL_NO_UPDATE_CHECK";

    bool launchReportOff = false;
    bool updateCheckOff = false;
    // One diagnostic line per variable whose value is neither 1 nor 0.
    QStringList problems;
};

// Reads the two variables through `lookup` (a variable's value, empty when unset). Unset, empty or "0"
// leaves the feature to the settings and "1" turns it off, spaces around the value aside. Any other value
// turns it off too, with a line in `problems`: whoever set a "NO_…" variable wanted the feature off.
PackagerPolicy readPackagerPolicy(const std::function<QString(const char* variable)>& lookup);
// The same, from this process's environment.
PackagerPolicy packagerPolicyFromEnvironment();

}  // namespace nimbrel
