#include "support/read_only_folder.h"

#include "support/test_support.h"

#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>

namespace testsupport {

ReadOnlyFolder::ReadOnlyFolder(const QString& folder) : m_folder(folder)
{
    m_immutable = runProcess("chattr", {"-R", "+i", folder}).exitCode == 0
        && !QFile(folder + "/probe").open(QIODevice::WriteOnly);
    if (m_immutable)
        return;
    runProcess("chattr", {"-R", "-i", folder});
    m_previous = setWritableFolderProbe([folder](const QString& path) {
        const QFileInfo info(path);
        return path != folder && !path.startsWith(folder + "/") && info.isDir() && info.isWritable();
    });
}

ReadOnlyFolder::~ReadOnlyFolder()
{
    if (m_immutable)
        runProcess("chattr", {"-R", "-i", m_folder});
    else
        setWritableFolderProbe(m_previous);
}

TestCachePaths::TestCachePaths()
{
    QStandardPaths::setTestModeEnabled(true);
}

TestCachePaths::~TestCachePaths()
{
    QStandardPaths::setTestModeEnabled(false);
}

QMap<QString, QString> contentOf(const QString& folder)
{
    QMap<QString, QString> sums;
    for (const QString& entry : listTree(folder))
        sums[entry] = entry.endsWith('/') ? QString() : sha1sumOf(folder + "/" + entry);
    return sums;
}

} // namespace testsupport
