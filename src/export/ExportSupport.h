// Small pieces shared by the exports: the progress texts, safe writes and the error box.
#pragma once

#include <QString>
#include <QtGlobal>
#include <functional>

class QFileDevice;
class QWidget;

namespace zelvox {

// Where an export reports how far it got (the status bar's fourth pane in the program).
using ProgressText = std::function<void(const QString& text)>;

// Writes all of `data` through to the file: short writes are retried (the next attempt reports
// the real error, e.g. a full disk) and the file's buffer is flushed, so a failure shows here.
// Qt's save file does not notice a failed flush by itself: a caller must cancel it when this
// returns false, or a truncated file would be committed.
bool WriteFully(QFileDevice& file, const char* data, qint64 size);

// A modal message box with the error icon, an OK button and the caption "Zelvox".
void ShowErrorBox(QWidget* parent, const QString& text);

} // namespace zelvox
