// The pieces of the trend graph's export and printing, without dialogs: capturing the plot,
// turning it into a bitmap file, writing it, printing it on a printer that is already set up.
#pragma once

#include <QByteArray>
#include <QImage>
#include <QString>
#include <functional>

class QPainter;
class QPrinter;
class QRect;
class QWidget;

namespace zelvox {

class TrendGraph;

// Recomposes the plot and returns the top kPlotRows rows of the pane as its window shows them, as
// wide as the pane's outer width (its border included).
QImage CaptureGraph(TrendGraph& pane);

// The bytes of a 32-bit uncompressed bottom-up bitmap file of `picture`: 14-byte file header,
// 40-byte info header, no colour table, pixels as blue, green, red and a zero byte.
QByteArray GraphBitmapFile(const QImage& picture);

// Writes the bitmap file to `path` (beside it first, then renamed over it; rewritten in place
// where the folder takes no new file but the old one may be written). On failure shows
// an error box naming the path and the system's reason and returns false.
bool WriteGraphFile(const QImage& picture, const QString& path, QWidget* parent);

// Paints one page into the printable area `page`.
using PagePainter = std::function<void(QPainter& painter, const QRect& page)>;

// One page, job name "Zelvox", painted by paint. False when the job could not be started or
// finished (it is then aborted).
bool PrintPageOn(QPrinter& printer, const PagePainter& paint);

// Prints as PrintPageOn does and says why nothing was printed: no printer installed, a
// printer that refused the job, a file that could not be written. Empty when printed.
QString PrintPageFailure(QPrinter& printer, const PagePainter& paint);

// The trend graph's page: the plot image stretched over the printable area.
bool PrintGraphOn(TrendGraph& pane, QPrinter& printer);
QString PrintGraphFailure(TrendGraph& pane, QPrinter& printer);

// The print dialog's page-number choices ("Pages from", "to", "Pages"), by object name; the
// graph's print dialog keeps them disabled.
inline constexpr const char* kPageRangeControls[] = {"printRange", "from", "to", "pagesRadioButton",
                                                     "pagesLineEdit"};

} // namespace zelvox
