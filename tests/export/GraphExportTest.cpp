// The trend graph as a bitmap file and on paper: header fields, pixel rows, the save dialog,
// failures, one printed page stretched over the printable area.
#include "panes/GraphExport.h"
#include "ExportTestSupport.h"
#include "panes/TrendGraph.h"
#include "support/Pictures.h"
#include "support/SessionHub.h"

#include <QPainter>
#include <QPrintDialog>
#include <QPrinter>
#include <QPrinterInfo>
#include <QtEndian>
#include <gtest/gtest.h>
#include <memory>

using namespace zelvox;
using zelvox::testing::ModalWatcher;
using zelvox::testing::ReadAll;

namespace {

quint32 U32(const QByteArray& b, int at) {
    return qFromLittleEndian<quint32>(b.constData() + at);
}
quint16 U16(const QByteArray& b, int at) {
    return qFromLittleEndian<quint16>(b.constData() + at);
}
qint32 I32(const QByteArray& b, int at) {
    return qFromLittleEndian<qint32>(b.constData() + at);
}

// Blue, green, red and the reserved byte of pixel (x, y) of a 32-bit bottom-up file.
QByteArray PixelBytes(const QByteArray& file, int width, int height, int x, int y) {
    return file.mid(54 + (qsizetype(height - 1 - y) * width + x) * 4, 4);
}

QByteArray Bgr0(int r, int g, int b) {
    const char bytes[4] = {char(b), char(g), char(r), 0};
    return QByteArray(bytes, 4);
}

struct GraphFixture : ::testing::Test {
    zelvox::testing::SessionHub hub;
    std::unique_ptr<TrendGraph> graph;
    QTemporaryDir dir;
    void SetUp() override {
        graph = std::make_unique<TrendGraph>(hub.session);
        graph->resize(450, 279); // the top row of the main window on an 800-pixel-wide screen
        graph->InitialUpdate();
    }
};

TEST(GraphBitmap, HeaderAndBottomUpRowsOfASmallPicture) {
    QImage picture(3, 2, QImage::Format_RGB32);
    const QRgb colours[2][3] = {{qRgb(1, 2, 3), qRgb(4, 5, 6), qRgb(7, 8, 9)},
                                {qRgb(10, 11, 12), qRgb(13, 14, 15), qRgb(16, 17, 18)}};
    for (int y = 0; y < 2; ++y)
        for (int x = 0; x < 3; ++x)
            picture.setPixel(x, y, colours[y][x]);
    const QByteArray file = GraphBitmapFile(picture);
    ASSERT_EQ(file.size(), 54 + 24);
    // Bottom row first, blue green red and a zero byte per pixel.
    EXPECT_EQ(file.mid(54).toHex(),
              QByteArray("0c0b0a00 0f0e0d00 12111000 03020100 06050400 09080700").replace(' ', ""));
    EXPECT_EQ(file.left(2), QByteArray("BM"));
    const struct {
        int offset, size;
        qint64 value;
    } fields[] = {{2, 4, 78},  {6, 2, 0},  {8, 2, 0},  {10, 4, 54}, {14, 4, 40},
                  {18, 4, 3},  {22, 4, 2}, {26, 2, 1}, {28, 2, 32}, {30, 4, 0},
                  {34, 4, 24}, {38, 4, 0}, {42, 4, 0}, {46, 4, 0},  {50, 4, 0}};
    for (const auto& f : fields)
        EXPECT_EQ(f.size == 4 ? qint64(U32(file, f.offset)) : qint64(U16(file, f.offset)), f.value)
            << f.offset;
}

TEST_F(GraphFixture, A450WidePaneGives450054Bytes) {
    const QImage picture = CaptureGraph(*graph);
    ASSERT_EQ(picture.size(), QSize(450, kPlotRows));
    const QByteArray file = GraphBitmapFile(picture);
    ASSERT_EQ(file.size(), 450054);
    EXPECT_EQ(U32(file, 2), 450054u);
    EXPECT_EQ(I32(file, 18), 450);
    EXPECT_EQ(I32(file, 22), kPlotRows);
    EXPECT_EQ(U16(file, 28), 32);
    EXPECT_EQ(U32(file, 34), 450000u);

    // Before the first reading: grey plot, blue axis at x = 50 and grid lines, no trace; the
    // control strip (rows 250..) is not part of it.
    const QByteArray grey = Bgr0(220, 220, 220), blue = Bgr0(0, 0, 255);
    EXPECT_EQ(PixelBytes(file, 450, kPlotRows, 50, 100), blue);                  // axis
    EXPECT_EQ(PixelBytes(file, 450, kPlotRows, 300, 0), blue);                   // top grid line
    EXPECT_EQ(PixelBytes(file, 450, kPlotRows, 300, graph->HalfHeight()), blue); // zero line
    EXPECT_EQ(PixelBytes(file, 450, kPlotRows, 300, 1), grey);
    EXPECT_EQ(PixelBytes(file, 450, kPlotRows, 449, 249), grey);
    for (int x = 0; x < 450; ++x)
        ASSERT_EQ(PixelBytes(file, 450, kPlotRows, x, 249), grey) << x; // the first row in the file
    for (int y = 0; y < kPlotRows; ++y)
        for (int x = 0; x < 450; ++x)
            ASSERT_EQ(
                PixelBytes(file, 450, kPlotRows, x, y),
                QByteArray(Bgr0(qRed(graph->PlotImage().pixel(x, y)), qGreen(graph->PlotImage().pixel(x, y)),
                                qBlue(graph->PlotImage().pixel(x, y)))))
                << x << "," << y;
}

TEST_F(GraphFixture, SaveDialogAsksBeforeOverwritingAndWritesTheCapture) {
    const QString path = dir.filePath(QStringLiteral("graph.bmp"));
    ModalWatcher watcher;
    watcher.onFileDialog = zelvox::testing::ChoosePath(path);
    graph->ExportGraph();
    ASSERT_EQ(watcher.dialogs.size(), 1u);
    EXPECT_EQ(watcher.dialogs[0].nameFilters, QStringList(QStringLiteral("*.bmp")));
    EXPECT_TRUE(watcher.dialogs[0].confirmsOverwrite);
    const QByteArray written = ReadAll(path);
    EXPECT_EQ(written, GraphBitmapFile(CaptureGraph(*graph)));
    EXPECT_TRUE(watcher.boxes.empty());

    // Choosing the existing file asks first; answering No keeps it.
    ASSERT_TRUE(zelvox::testing::WriteAll(path, "old"));
    int shown = 0;
    watcher.onFileDialog = [&](QFileDialog* dialog) {
        if (shown++ == 0)
            zelvox::testing::ChoosePath(path)(dialog);
        else
            dialog->reject(); // after the No, the dialog is still up: cancel it
    };
    watcher.answer = QMessageBox::No;
    graph->ExportGraph();
    ASSERT_EQ(watcher.boxes.size(), 1u);
    EXPECT_TRUE(watcher.boxes[0].text.contains(QStringLiteral("already exists")))
        << watcher.boxes[0].text.toStdString();
    EXPECT_EQ(ReadAll(path), QByteArray("old"));
}

TEST_F(GraphFixture, UnwritableFileShowsPathAndReason) {
    const QString path = zelvox::testing::UncreatablePath(dir, QStringLiteral("graph.bmp"));
    ModalWatcher watcher;
    EXPECT_FALSE(WriteGraphFile(CaptureGraph(*graph), path, graph.get()));
    ASSERT_EQ(watcher.boxes.size(), 1u);
    EXPECT_EQ(watcher.boxes[0].icon, QMessageBox::Critical);
    EXPECT_TRUE(watcher.boxes[0].text.contains(path));
    EXPECT_TRUE(watcher.boxes[0].text.contains(QStringLiteral("Not a directory")))
        << watcher.boxes[0].text.toStdString();

    // A write that fails half-way leaves an existing file as it was.
    const QString existing = dir.filePath(QStringLiteral("kept.bmp"));
    ASSERT_TRUE(zelvox::testing::WriteAll(existing, QByteArray(100, 'k')));
    {
        zelvox::testing::FileSizeLimit limit(64 * 1024);
        EXPECT_FALSE(WriteGraphFile(CaptureGraph(*graph), existing, graph.get()));
    }
    EXPECT_EQ(ReadAll(existing), QByteArray(100, 'k'));
    EXPECT_EQ(watcher.boxes.size(), 2u);
}

TEST_F(GraphFixture, PrintingGivesExactlyOnePage) {
    QPainter compose;
    QImage scratch(450, kPlotRows, QImage::Format_RGB32);
    compose.begin(&scratch);
    graph->DrawTrend(compose); // the pane's last paint
    compose.end();

    const QString pdf = dir.filePath(QStringLiteral("graph.pdf"));
    QPrinter printer(QPrinter::HighResolution);
    printer.setOutputFormat(QPrinter::PdfFormat);
    printer.setOutputFileName(pdf);
    ASSERT_TRUE(PrintGraphOn(*graph, printer));
    EXPECT_EQ(printer.docName(), QStringLiteral("Zelvox"));
    EXPECT_EQ(zelvox::testing::PdfPageCount(pdf), 1);
}

TEST_F(GraphFixture, PrintedPlotIsStretchedIndependentlyInBothDirections) {
    QImage scratch(450, kPlotRows, QImage::Format_RGB32);
    QPainter compose(&scratch);
    graph->DrawTrend(compose);
    compose.end();
    const QImage& plot = graph->PlotImage();

    // A page three times as wide and twice as high as the plot's 450 x 250.
    QImage page(1350, 500, QImage::Format_RGB32);
    page.fill(Qt::white);
    QPainter painter(&page);
    graph->PrintPage(painter, QRect(0, 0, 1350, 500));
    painter.end();
    for (const QPoint p : {QPoint(50, 100), QPoint(300, 0), QPoint(300, 1), QPoint(10, 249), QPoint(449, 249),
                           QPoint(200, graph->HalfHeight())})
        for (int dx = 0; dx < 3; ++dx)
            for (int dy = 0; dy < 2; ++dy)
                EXPECT_EQ(page.pixel(3 * p.x() + dx, 2 * p.y() + dy), plot.pixel(p)) << p.x() << "," << p.y();
}

} // namespace

namespace {

TEST_F(GraphFixture, PrintDialogOffersNoSelectionPagesOrFile) {
    struct Seen {
        bool found = false;
        bool selection = true, pageRange = true, currentPage = true, toFile = true;
        int rangeControls = 0;
        QStringList enabled; // page-number choices the user could still take
    } seen;
    QTimer poll;
    poll.setInterval(10);
    QObject::connect(&poll, &QTimer::timeout, [&] {
        for (QWidget* w : QApplication::topLevelWidgets()) {
            auto* dialog = qobject_cast<QPrintDialog*>(w);
            if (!dialog || !dialog->isVisible())
                continue;
            seen = {true,
                    dialog->testOption(QAbstractPrintDialog::PrintSelection),
                    dialog->testOption(QAbstractPrintDialog::PrintPageRange),
                    dialog->testOption(QAbstractPrintDialog::PrintCurrentPage),
                    dialog->testOption(QAbstractPrintDialog::PrintToFile),
                    0,
                    {}};
            for (const char* name : kPageRangeControls)
                for (QWidget* control : dialog->findChildren<QWidget*>(QLatin1String(name))) {
                    ++seen.rangeControls;
                    if (control->isEnabled()) // visible once the options are opened
                        seen.enabled << QLatin1String(name);
                }
            dialog->reject();
        }
    });
    poll.start();
    graph->PrintGraph();
    ASSERT_TRUE(seen.found);
    EXPECT_FALSE(seen.selection);
    EXPECT_FALSE(seen.pageRange);
    EXPECT_FALSE(seen.currentPage);
    EXPECT_FALSE(seen.toFile);
    EXPECT_GE(seen.rangeControls, 3) << "the dialog's controls were found";
    EXPECT_TRUE(seen.enabled.isEmpty()) << seen.enabled.join(QLatin1Char(' ')).toStdString();
}

TEST_F(GraphFixture, PrintingFailuresAreSaidAndACancelledDialogIsNot) {
    QPrinter toFile;
    toFile.setOutputFileName(zelvox::testing::UncreatablePath(dir, QStringLiteral("graph.pdf")));
    EXPECT_EQ(PrintGraphFailure(*graph, toFile),
              toFile.outputFileName() + QStringLiteral(" could not be written."));
    if (!QPrinterInfo::availablePrinterNames().isEmpty()) {
        GTEST_SKIP() << "a printer is installed here: the job would be printed";
    }
    for (const bool print : {false, true}) {
        ModalWatcher watcher;
        watcher.onOtherModal = [&](QWidget* w) {
            qobject_cast<QDialog*>(w)->done(print ? QDialog::Accepted : QDialog::Rejected);
        };
        graph->PrintGraph();
        EXPECT_EQ(watcher.others, 1);
        ASSERT_EQ(watcher.boxes.size(), print ? 1u : 0u);
        if (print) {
            EXPECT_TRUE(watcher.boxes[0].text.startsWith(
                QStringLiteral("print graph error\nNo printer is installed")));
        }
    }
}

} // namespace
