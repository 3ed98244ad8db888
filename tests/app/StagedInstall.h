// Installs one component of the build into a staging folder for a prefix, as a package is built.
#pragma once

#include <QProcess>
#include <QProcessEnvironment>
#include <QString>
#include <QStringList>

namespace zelvox::testing {

// `cmake --install` of `component` for `prefix` under DESTDIR=stage; empty on success, else
// what went wrong.
inline QString InstallStaged(const QString& stage, const QString& component, const QString& prefix) {
    QProcess install;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("DESTDIR"), stage);
    install.setProcessEnvironment(env);
    install.start(QStringLiteral(ZELVOX_CMAKE_COMMAND),
                  {QStringLiteral("--install"), QStringLiteral(ZELVOX_BINARY_DIR),
                   QStringLiteral("--component"), component, QStringLiteral("--prefix"), prefix});
    if (!install.waitForFinished(60000))
        return QStringLiteral("cmake --install did not finish");
    if (install.exitStatus() != QProcess::NormalExit || install.exitCode() != 0)
        return QString::fromLocal8Bit(install.readAllStandardError());
    return {};
}

} // namespace zelvox::testing
