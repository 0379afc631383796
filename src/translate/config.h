#pragma once

#include "http.h"
#include "service.h"
#include "upstream.h"

#include <QString>
#include <QStringList>

#include <functional>
#include <optional>

namespace moxel::xlate {

struct Config
{
    quint16 port = 8765;
    QString backend = QStringLiteral("demo");
    ServiceSettings service;
    HttpLimits limits;
    // The chosen backend's server and key; unused by the demo.
    UpstreamSettings upstream;
    QString model;
    QString phrasesFile;
    // Where to write the address once listening; empty: nowhere.
    QString addressFile;
};

struct ConfigResult
{
    std::optional<Config> config;
    // Set when the command line or a secret file is unusable.
    QString error;
    // The error is about a file the command line names, not about the command line.
    bool fileError = false;
    bool help = false;
    bool version = false;
};

using EnvLookup = std::function<QByteArray(const char *name)>;

// Secrets come from `env` or from files named on the command line, never
// from the command line itself.
ConfigResult parseConfig(const QStringList &arguments, const EnvLookup &env);
QString helpText();

// Writes `address` and a line feed to `path`, mode 0600, under a temporary
// name first, so that a reader finds the old address or the new one, whole.
// The error, or empty.
QString writeAddressFile(const QString &path, const QString &address);

} // namespace moxel::xlate
