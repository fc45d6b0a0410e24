#include "base/file_names.h"

#include <QFileInfo>
#include <QRegularExpression>

#include <utility>

namespace {

bool pathIsTaken(const QString& path)
{
    // A dangling symbolic link counts as taken: writing there would follow the link.
    const QFileInfo info(path);
    return info.exists() || info.isSymLink();
}

QString replaceForbiddenFileCharacters(QString name)
{
    static const QString forbidden = QStringLiteral("\n\\/:?\"<>|");
    for (QChar& c : name) {
        if (forbidden.contains(c))
            c = QLatin1Char('-');
    }
    return name;
}

} // namespace

QString uniqueFileName(const QString& path, bool alwaysNumber)
{
    if (!alwaysNumber && !pathIsTaken(path))
        return path;
    const QString suffix = QFileInfo(path).completeSuffix();
    QString base = path;
    QString ext;
    if (!suffix.isEmpty()) {
        ext = QLatin1Char('.') + suffix;
        base.chop(ext.size());
    }
    for (qint64 k = 1;; ++k) {
        // One multi-argument arg(): a "%" inside the path must not be taken for a placeholder.
        const QString candidate =
            QStringLiteral("%1_%2%3").arg(base, QStringLiteral("%1").arg(k, 3, 10, QLatin1Char('0')), ext);
        if (!pathIsTaken(candidate))
            return candidate;
    }
}

QString sanitizeFileName(QString name)
{
    return replaceForbiddenFileCharacters(std::move(name)).trimmed();
}

QString portalSafeName(QString name)
{
    // Without Unicode properties \d and \s match ASCII digits and white space only.
    const QRegularExpression notPortalSafe(QStringLiteral("[^a-zA-Z-_#\\d\\s]"));
    name = replaceForbiddenFileCharacters(std::move(name));
    name.replace(notPortalSafe, QStringLiteral("_"));
    return name.trimmed();
}

bool isPlainName(const QString& name)
{
    if (name.isEmpty() || name == QLatin1String(".") || name == QLatin1String(".."))
        return false;
    for (const QChar c : name) {
        if (c == QLatin1Char('/') || c == QLatin1Char('\\') || c.unicode() == 0)
            return false;
    }
    return true;
}
