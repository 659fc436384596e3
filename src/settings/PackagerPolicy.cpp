#include "settings/PackagerPolicy.h"

#include <QtGlobal>

namespace nimbrel {

namespace {

bool turnsOff(const char* variable, const QString& raw, QStringList& problems)
{
    const QString value = raw.trimmed();
    if (value.isEmpty() || value == QLatin1String("0"))
        return false;
    if (value != QLatin1String("1"))
        problems.append(QStringLiteral("[Nimbrel] %1=\"%2\" is neither 1 nor 0; it is taken as 1")
                            .arg(QLatin1String(variable), raw));
    return true;
}

}  // namespace

PackagerPolicy readPackagerPolicy(const std::function<QString(const char* variable)>& lookup)
{
    PackagerPolicy policy;
    policy.launchReportOff = turnsOff(PackagerPolicy::noLaunchReportVariable,
                                      lookup(PackagerPolicy::noLaunchReportVariable), policy.problems);
    policy.updateCheckOff =
        turnsOff(PackagerPolicy::noUpdateCheckVariable, lookup(PackagerPolicy::noUpdateCheckVariable), policy.problems);
    return policy;
}

PackagerPolicy packagerPolicyFromEnvironment()
{
    return readPackagerPolicy([](const char* variable) { return qEnvironmentVariable(variable); });
}

}  // namespace nimbrel
