#pragma once

#include <QStandardPaths>
#include <QString>

namespace moxel::test {

// moxel-popup's settings file under a configuration folder ($XDG_CONFIG_HOME),
// by default the folder this process's own settings go to.
inline QString settingsFile(const QString &configHome = QStandardPaths::writableLocation(
                                QStandardPaths::GenericConfigLocation))
{
    return configHome + QStringLiteral("/moxel/moxel-popup.conf");
}

} // namespace moxel::test
