// Small pieces shared by the exports: pausing the acquisition workers and the error box.
#pragma once

#include <QString>
#include <QtGlobal>
#include <atomic>

class QFileDevice;
class QWidget;

namespace zelvox {

class PaneLinks;

// Raises the acquisition's `paused` flag for as long as it lives (or until Release), so the
// reader and sampling threads idle while an export copies the table. Without a control panel
// (tests, tools) there is nothing to pause.
class ExportPause {
public:
    explicit ExportPause(PaneLinks& links);
    ~ExportPause() { Release(); }
    ExportPause(const ExportPause&) = delete;
    ExportPause& operator=(const ExportPause&) = delete;

    void Release();

private:
    std::atomic<int>* flag_ = nullptr;
};

// Writes all of `data` through to the file: short writes are retried (the next attempt reports
// the real error, e.g. a full disk) and the file's buffer is flushed, so a failure shows here.
// Qt's save file does not notice a failed flush by itself: a caller must cancel it when this
// returns false, or a truncated file would be committed.
bool WriteFully(QFileDevice& file, const char* data, qint64 size);

// A modal message box with the error icon, an OK button and the caption "Zelvox".
void ShowErrorBox(QWidget* parent, const QString& text);

} // namespace zelvox
