#include "panes/GraphExport.h"

#include "dialogs/SaveFileDialog.h"
#include "panes/TrendGraph.h"

#include <QFileDialog>
#include <QFrame>
#include <QMessageBox>
#include <QPainter>
#include <QPrintDialog>
#include <QPrinter>
#include <QSaveFile>
#include <QtEndian>

namespace zelvox {

namespace {

constexpr int kFileHeaderBytes = 14;
constexpr int kInfoHeaderBytes = 40;
constexpr int kBitsPerPixel = 32;

// Writes everything through to the file, retrying after a short write so that the real error
// shows. A save file does not notice a short write or a failed flush by itself.
bool WriteFully(QSaveFile& file, const QByteArray& bytes) {
    qint64 done = 0;
    while (done < bytes.size()) {
        const qint64 written = file.write(bytes.constData() + done, bytes.size() - done);
        if (written <= 0)
            return false;
        done += written;
    }
    return file.flush();
}

template <typename T> void Put(QByteArray& out, qsizetype at, T value) {
    qToLittleEndian<T>(value, out.data() + at);
}

} // namespace

QImage CaptureGraph(TrendGraph& pane) {
    // The window is brought up to date too, so what is saved is what it shows.
    pane.repaint();
    // The pane's outer width: in the main window the pane sits in a cell whose sunken border
    // is the pane's own window border; a pane on its own has none (a window manager's frame
    // around it is not part of it).
    QWidget* outer = &pane;
    if (auto* cell = qobject_cast<QFrame*>(pane.parentWidget());
        cell && cell->contentsRect() == pane.geometry())
        outer = cell;
    const int width = outer->width();
    // Outer width x 250 from the pane's client origin, as the window shows it: the plot, then
    // the cell's right border and what lies beyond it.
    QWidget* window = pane.window();
    const QRect source(pane.mapTo(window, QPoint(0, 0)), QSize(width, kPlotRows));
    QImage picture(width, kPlotRows, QImage::Format_RGB32);
    picture.fill(Qt::black);
    QPainter painter(&picture);
    window->render(&painter, QPoint(0, 0), QRegion(source));
    painter.end();
    return picture;
}

QByteArray GraphBitmapFile(const QImage& picture) {
    const QImage pixels = picture.convertToFormat(QImage::Format_RGB32);
    const int width = pixels.width();
    const int height = pixels.height();
    const qsizetype stride = ((qsizetype(width) * kBitsPerPixel / 8) + 3) & ~qsizetype(3);
    const qsizetype imageBytes = stride * height;
    const qsizetype offset = kFileHeaderBytes + kInfoHeaderBytes;
    QByteArray out(offset + imageBytes, '\0');

    Put<quint16>(out, 0, 0x4D42); // "BM"
    Put<quint32>(out, 2, quint32(offset + imageBytes));
    Put<quint32>(out, 10, quint32(offset));
    Put<quint32>(out, 14, kInfoHeaderBytes);
    Put<qint32>(out, 18, width);
    Put<qint32>(out, 22, height); // positive: bottom row first
    Put<quint16>(out, 26, 1);
    Put<quint16>(out, 28, kBitsPerPixel);
    Put<quint32>(out, 30, 0); // uncompressed
    Put<quint32>(out, 34, quint32(imageBytes));
    // Resolutions, colours used and important colours stay 0.

    for (int y = 0; y < height; ++y) {
        const QRgb* line = reinterpret_cast<const QRgb*>(pixels.constScanLine(height - 1 - y));
        uchar* row = reinterpret_cast<uchar*>(out.data()) + offset + stride * y;
        for (int x = 0; x < width; ++x) {
            row[4 * x + 0] = uchar(qBlue(line[x]));
            row[4 * x + 1] = uchar(qGreen(line[x]));
            row[4 * x + 2] = uchar(qRed(line[x]));
            row[4 * x + 3] = 0;
        }
    }
    return out;
}

bool WriteGraphFile(const QImage& picture, const QString& path, QWidget* parent) {
    const QByteArray bytes = GraphBitmapFile(picture);
    QSaveFile file(path);
    // Replaced only once complete; rewritten in place where the folder takes no new file but
    // the old one may be written.
    file.setDirectWriteFallback(true);
    bool written = file.open(QIODevice::WriteOnly) && WriteFully(file, bytes);
    written = written && file.commit();
    if (!written) {
        const QString reason = file.errorString();
        file.cancelWriting();
        QMessageBox box(QMessageBox::Critical, QStringLiteral("Zelvox"),
                        QStringLiteral("save graph file error\n%1\n%2").arg(path, reason), QMessageBox::Ok,
                        parent);
        box.exec();
    }
    return written;
}

bool PrintPageOn(QPrinter& printer, const PagePainter& paint) {
    printer.setDocName(QStringLiteral("Zelvox"));
    printer.setFromTo(1, 1);
    QPainter painter;
    if (!painter.begin(&printer)) {
        printer.abort();
        return false;
    }
    paint(painter, QRect(0, 0, printer.width(), printer.height()));
    if (!painter.end()) {
        printer.abort();
        return false;
    }
    return true;
}

QString PrintPageFailure(QPrinter& printer, const PagePainter& paint) {
    // Without a printer Qt falls back to a PDF file, which needs a name to begin.
    const bool toFile = printer.outputFormat() == QPrinter::PdfFormat;
    if (toFile && printer.outputFileName().isEmpty())
        return QStringLiteral("No printer is installed: add one in the system's printer settings, "
                              "then print again.");
    if (PrintPageOn(printer, paint))
        return {};
    if (toFile)
        return QStringLiteral("%1 could not be written.").arg(printer.outputFileName());
    return QStringLiteral("The printer %1 did not take the job.").arg(printer.printerName());
}

namespace {

PagePainter GraphPage(TrendGraph& pane) {
    return [&pane](QPainter& painter, const QRect& page) { pane.PrintPage(painter, page); };
}

} // namespace

bool PrintGraphOn(TrendGraph& pane, QPrinter& printer) {
    return PrintPageOn(printer, GraphPage(pane));
}

QString PrintGraphFailure(TrendGraph& pane, QPrinter& printer) {
    return PrintPageFailure(printer, GraphPage(pane));
}

void TrendGraph::ExportGraph() {
    // Captured before the dialog opens, so the dialog is never part of the picture.
    const QImage picture = CaptureGraph(*this);
    const QString path = GetSaveFileName(this, QStringLiteral("*.bmp"));
    if (path.isEmpty())
        return;
    WriteGraphFile(picture, path, this);
}

namespace {

// The graph prints on one page: the dialog's page-number choices stay disabled. Qt enables them
// again each time the dialog is shown (the print system could pick pages itself), so they are
// disabled once the dialog is visible.
class GraphPrintDialog : public QPrintDialog {
public:
    using QPrintDialog::QPrintDialog;

    void setVisible(bool visible) override {
        QPrintDialog::setVisible(visible);
        if (!visible)
            return;
        for (const char* name : kPageRangeControls)
            for (QWidget* control : findChildren<QWidget*>(QLatin1String(name)))
                control->setEnabled(false);
    }
};

} // namespace

void TrendGraph::PrintGraph() {
    QPrinter printer(QPrinter::HighResolution);
    GraphPrintDialog dialog(&printer, this);
    dialog.setOption(QAbstractPrintDialog::PrintSelection, false);
    dialog.setOption(QAbstractPrintDialog::PrintPageRange, false);
    dialog.setOption(QAbstractPrintDialog::PrintCurrentPage, false);
    dialog.setOption(QAbstractPrintDialog::PrintToFile, false);
    if (dialog.exec() != QDialog::Accepted)
        return;
    const QString failure = PrintGraphFailure(*this, printer);
    if (failure.isEmpty())
        return;
    QMessageBox box(QMessageBox::Critical, QStringLiteral("Zelvox"),
                    QStringLiteral("print graph error\n%1").arg(failure), QMessageBox::Ok, this);
    box.exec();
}

void TrendGraph::PrintPage(QPainter& printer, const QRect& pageRect) {
    // Anisotropic: the plot's width and its 250 rows each stretch to the printable area.
    const int width = clientRect_.right() + 1;
    printer.save();
    printer.setWindow(0, 0, width, kPlotRows);
    printer.setViewport(pageRect);
    printer.drawImage(QRect(0, 0, width, kPlotRows), plotImage_, QRect(0, 0, width, kPlotRows));
    printer.restore();
}

} // namespace zelvox
