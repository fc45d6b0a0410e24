// Loads a project folder and exports it as the window's export command does, then prints the
// archive's path, the export's HTML summary and the keys of the enciphered kinds (hex), so that
// outside tools can decipher the members. One source for builds of different commits: the headers
// are found where the checkout keeps them (one core library before the layers, the layers after).
#if __has_include("model/property.h")
#include "base/cipher.h"
#include "base/notification.h"
#include "model/property.h"
#else
#include "app/notification.h"
#include "project/cipher.h"
#include "project/property.h"
#endif

#include <QApplication>
#include <QEventLoop>
#include <QImageReader>
#include <QTimer>

#include <cstdio>

namespace {

QByteArray keyHex(char selector)
{
    std::uint8_t key[16];
    buildCipherKey(selector, key);
    return QByteArray(reinterpret_cast<const char*>(key), 16).toHex();
}

// The jobs the load's scans post to the GUI thread (outlines, placements, removals) land, as they
// do in the window before anyone can start an export.
void settle()
{
    for (int pass = 0; pass < 10; ++pass) {
        QEventLoop loop;
        QTimer::singleShot(100, &loop, &QEventLoop::quit);
        loop.exec(QEventLoop::ExcludeUserInputEvents);
    }
}

} // namespace

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s PROJECT_FOLDER\n", argv[0]);
        return 2;
    }
    qSetMessagePattern(QStringLiteral("%{time yyyy-MM-dd hh:mm:ss.zzz} %{type}: %{message}"));
    QImageReader::setAllocationLimit(1024);
    QApplication app(argc, argv);
    QApplication::setOrganizationName("Korvessa");
    QApplication::setApplicationName("Quoril");
    Notification::install();

    const QString folder = QString::fromLocal8Bit(argv[1]);
    Property property;
    if (!property.load(folder)) {
        std::fprintf(stderr, "the load failed\n");
        return 1;
    }
    settle();
    QString html;
    if (!property.exportTar(html)) {
        std::fprintf(stderr, "the export failed\n");
        return 1;
    }
    std::printf("summary %s\n", html.toUtf8().toBase64().constData());
    std::printf("key data %s\nkey svg %s\nkey dxf %s\n", keyHex(CipherKind::Data).constData(),
                keyHex(CipherKind::SvgPlan).constData(), keyHex(CipherKind::DxfPlan).constData());
    return 0;
}
