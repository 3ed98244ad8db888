// The save-file dialog of every save command: it opens in the folder where the user last saved
// in this run (the working folder before the first save). Nothing is kept between runs.
#pragma once

#include <QFileDialog>
#include <QString>

namespace zelvox {

// As QFileDialog::getSaveFileName, starting in the last save's folder; a confirmed choice
// makes its folder the next start.
QString GetSaveFileName(QWidget* parent, const QString& filter, QFileDialog::Options options = {});

// The folder the next save dialog opens in; empty before the first save.
QString LastSaveFolder();

} // namespace zelvox
