// The link's message boxes: short fixed texts with one OK button, shown modally at once.
#pragma once

#include "link/StartResult.h"

#include <QString>

class QWidget;

namespace zelvox {

// A message box owned by `owner` (none when null) with the given text and caption. A non-empty
// `detail` goes into the box's detailed text.
void ShowLinkMessage(QWidget* owner, const QString& text, const QString& caption, const QString& detail = {});

// The detailed text for a port that cannot be opened: the system's reason, plus what the user
// can do about the common cases (no permission, port in use).
QString OpenPortErrorDetail(int errorCode, const QString& reason);

// Message boxes for a failed START, owned by `owner`: "please close port fist",
// "open port error" / "error" (with the system's reason as detailed text, and the dialout
// hint for a permission error), "open thread error,try again" / "error".
void ShowStartFailure(QWidget* owner, const StartResult& result);

} // namespace zelvox
