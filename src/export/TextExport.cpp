#include "export/TextExport.h"

#include "dialogs/SaveFileDialog.h"
#include "session/MeterSession.h"
#include "session/ReadingsModel.h"

#include <QFileDialog>
#include <QSaveFile>
#include <QtEndian>

namespace zelvox {

namespace {

// Appends one table row as its line: each field followed by TAB, then CR LF.
void AppendLine(const ReadingsModel& readings, int row, QString& line) {
    for (int column = 0; column < 4; ++column) {
        line += readings.CellText(row, column);
        line += u'\t';
    }
    line += u"\r\n";
}

void AppendLittleEndian(const QString& text, QByteArray& out) {
    const qsizetype at = out.size();
    out.resize(at + text.size() * 2);
    qToLittleEndian<char16_t>(text.utf16(), text.size(), out.data() + at);
}

} // namespace

QByteArray TableTextBytes(const ReadingsModel& readings) {
    QByteArray bytes;
    QString line;
    const int rows = readings.Count();
    for (int row = 0; row < rows; ++row) {
        line.clear();
        AppendLine(readings, row, line);
        AppendLittleEndian(line, bytes);
    }
    return bytes;
}

bool WriteTableText(const ReadingsModel& readings, const QString& path, QString* reason) {
    QSaveFile file(path);
    // A folder the user may not add files to, holding a file the user may write: the file is
    // truncated and rewritten in place, as a plain create-or-truncate would.
    file.setDirectWriteFallback(true);
    if (!file.open(QIODevice::WriteOnly)) {
        *reason = file.errorString();
        return false;
    }
    // Written in blocks of rows so a long table needs no second copy in memory.
    constexpr qsizetype kBlock = 64 * 1024;
    QByteArray block;
    block.reserve(kBlock + 1024);
    QString line;
    const int rows = readings.Count();
    for (int row = 0; row < rows; ++row) {
        line.clear();
        AppendLine(readings, row, line);
        AppendLittleEndian(line, block);
        if (block.size() >= kBlock || row == rows - 1) {
            if (!WriteFully(file, block.constData(), block.size())) {
                *reason = file.errorString();
                file.cancelWriting(); // the old file stays as it was (unless rewritten in place)
                return false;
            }
            block.clear();
        }
    }
    if (!file.commit()) {
        *reason = file.errorString();
        return false;
    }
    return true;
}

void SaveTextFile(MeterSession& session, const ProgressText& progress, QWidget* parent,
                  const QString& chosenPath) {
    if (chosenPath.isEmpty())
        return;
    // The extension is always added, whatever the chosen name ends with.
    const QString path = chosenPath + QStringLiteral(".txt");
    WorkerPause pause = session.PauseWorkers();
    progress(QStringLiteral("start to txt excel,please wait..."));
    QString reason;
    const bool written = WriteTableText(session.Readings(), path, &reason);
    pause.Release();
    if (written) {
        progress(QStringLiteral("save txt file successfully"));
        return;
    }
    // A run that failed must neither look successful nor still working.
    progress(QStringLiteral("save txt file error"));
    ShowErrorBox(parent, QStringLiteral("save txt file error\n%1\n%2").arg(path, reason));
}

void SaveTextFileCommand(MeterSession& session, const ProgressText& progress, QWidget* parent) {
    const QString chosen =
        GetSaveFileName(parent, QStringLiteral("TXT(*.txt)"), QFileDialog::DontConfirmOverwrite);
    SaveTextFile(session, progress, parent, chosen);
}

} // namespace zelvox
