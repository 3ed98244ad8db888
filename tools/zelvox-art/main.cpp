// zelvox-art <folder>: writes every image of the artwork table as <id>-<name>.png, for review.
#include "decode/StandardStreams.h"
#include "res/Artwork.h"

#include <QDir>
#include <QGuiApplication>
#include <cstdio>

int main(int argc, char** argv) {
    zelvox::OpenStandardStreams();
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv); // fonts for the dial numbers
    if (argc != 2) {
        std::fprintf(stderr, "usage: zelvox-art <folder>\n");
        return 2;
    }
    const QDir folder(QString::fromLocal8Bit(argv[1]));
    if (!folder.mkpath(QStringLiteral("."))) {
        std::fprintf(stderr, "zelvox-art: cannot create %s\n", argv[1]);
        return 1;
    }
    int written = 0;
    for (const zelvox::res::ImageInfo& info : zelvox::res::ImageTable()) {
        const QImage image = zelvox::res::LoadImage(info.id);
        const QString name = QStringLiteral("%1-%2.png").arg(info.id).arg(QString::fromLatin1(info.what));
        const QString path = folder.filePath(name);
        if (image.isNull() || image.size() != QSize(info.width, info.height) || !image.save(path)) {
            std::fprintf(stderr, "zelvox-art: image %d: cannot write %s\n", info.id, qPrintable(path));
            return 1;
        }
        ++written;
    }
    std::printf("%d images written to %s\n", written, qPrintable(folder.absolutePath()));
    return 0;
}
