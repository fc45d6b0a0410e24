#include "camera/usb_update.h"

#include "base/questions.h"
#include "base/synced_file.h"

#include <QDebug>
#include <QFile>
#include <QFileInfo>
#include <QStorageInfo>

namespace {

class SystemVolumeProbe : public VolumeProbe {
public:
    QString readyVolumeRoot(const QString& folder) const override
    {
        const QStorageInfo volume(folder);
        return volume.isValid() && volume.isReady() ? volume.rootPath() : QString();
    }
};

const VolumeProbe* installedProbe = nullptr;

void inform(QWidget* parent, const QString& title, const QString& text)
{
    questions().question(parent, Questions::Information, title, text, Questions::Ok, Questions::Ok);
}

bool sameFile(const QString& a, const QString& b)
{
    const QString canonicalA = QFileInfo(a).canonicalFilePath();
    return !canonicalA.isEmpty() && canonicalA == QFileInfo(b).canonicalFilePath();
}

} // namespace

const VolumeProbe& volumeProbe()
{
    static const SystemVolumeProbe system;
    return installedProbe ? *installedProbe : system;
}

const VolumeProbe* setVolumeProbe(const VolumeProbe* probe)
{
    return std::exchange(installedProbe, probe);
}

void installUpdateViaUsb(const UsbUpdateVariant& variant, const QString& webAddress, const QString& file,
                         QWidget* parent)
{
    inform(parent, variant.title, variant.firstText);
    const QString folder =
        questions().existingDirectory(parent, QStringLiteral("Select your camera USB Flash drive"), QString());
    if (folder.isEmpty())
        return;
    QString root = volumeProbe().readyVolumeRoot(folder);
    if (root.isEmpty()) {
        qCritical() << QStringLiteral("Selected storage is not ready/valid: ") + folder;
        return;
    }
    while (root.size() > 1 && root.endsWith(QLatin1Char('/')))
        root.chop(1);
    // The camera looks only at the root, whichever folder of the drive was picked.
    const QString target = (root == QLatin1String("/") ? QString() : root) + QLatin1Char('/') + variant.fileName;
    // The download may already be that file (picked from the drive itself): it is where it belongs.
    const bool inPlace = sameFile(file, target);
    if (!inPlace) {
        if (!copyReplacing(file, target)) {
            qCritical() << variant.failureText + target;
            return;
        }
        // The copy on the drive is whole; the download is no longer needed.
        QFile::remove(file);
    }
    QString instructions = variant.instructions;
    if (variant.instructionsEndWithWebAddress)
        instructions += webAddress;
    inform(parent, variant.title, instructions);
}
