// Command-line driver for the archive code, so scripts can time it against other tools:
//   tar_tool create ARCHIVE BASEDIR LISTFILE   (LISTFILE: one path below BASEDIR per line)
//   tar_tool extract ARCHIVE                   (into the folder that holds ARCHIVE)
#include "base/tar_reader.h"
#include "base/tar_writer.h"

#include <QApplication>
#include <QFile>

#include <fstream>
#include <iostream>
#include <stdexcept>

namespace {

int create(const QString& archivePath, const QString& baseDir, const QString& listPath)
{
    QFile list(listPath);
    if (!list.open(QIODevice::ReadOnly | QIODevice::Text))
        throw std::runtime_error("cannot read " + listPath.toStdString());
    std::ofstream out(archivePath.toStdString(), std::ios::binary | std::ios::trunc);
    TarWriter writer(&out);
    while (!list.atEnd()) {
        const QByteArray name = list.readLine().chopped(1);
        if (!name.isEmpty())
            writer.putFile(baseDir + '/' + QString::fromUtf8(name), name.constData());
    }
    writer.finish();
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const QStringList args = app.arguments();
    try {
        if (args.size() == 5 && args[1] == "create")
            return create(args[2], args[3], args[4]);
        if (args.size() == 3 && args[1] == "extract") {
            extractTar(args[2]);
            return 0;
        }
    } catch (const std::exception& e) {
        std::cerr << "tar_tool: " << e.what() << '\n';
        return 1;
    }
    std::cerr << "usage: tar_tool create ARCHIVE BASEDIR LISTFILE | tar_tool extract ARCHIVE\n";
    return 2;
}
