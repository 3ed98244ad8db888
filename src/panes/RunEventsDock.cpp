#include "panes/RunEventsDock.h"

#include "journal/RecordKeeper.h"
#include "panes/RunPlot.h"
#include "record/RowCodec.h"
#include "runview/RunIndex.h"

#include <QAction>
#include <QInputDialog>
#include <QLineEdit>
#include <QListView>
#include <QMenu>
#include <QMessageBox>
#include <algorithm>
#include <cmath>

namespace zelvox {

RunEventsModel::RunEventsModel(const RunIndex& index, const RunPlot& plot, QObject* parent)
    : QAbstractListModel(parent), index_(index), plot_(plot) {}

int RunEventsModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : rows_;
}

QVariant RunEventsModel::data(const QModelIndex& at, int role) const {
    if (!at.isValid() || at.row() >= rows_)
        return {};
    const auto e = static_cast<std::size_t>(at.row());
    if (role == Qt::DisplayRole)
        return plot_.DescribeEvent(e);
    if (role == Qt::ToolTipRole && index_.Events().Events()[e].kind == RunEvent::Kind::kNote)
        return QString::fromStdString(index_.Events().Events()[e].text);
    return {};
}

void RunEventsModel::Refresh() {
    const RunEvents& events = index_.Events();
    if (events.Generation() == shown_)
        return;
    beginResetModel();
    shown_ = events.Generation();
    rows_ = static_cast<int>(events.Size()); // bounded by RunEvents::kMaxEvents
    endResetModel();
}

RunEventsDock::RunEventsDock(RunIndex& index, RunPlot& plot, QMenu* menu, QWidget* parent)
    : QDockWidget(QStringLiteral("Events"), parent), index_(index), plot_(plot) {
    setObjectName(QStringLiteral("RunEvents"));
    model_ = new RunEventsModel(index, plot, this);
    list_ = new QListView(this);
    list_->setObjectName(QStringLiteral("RunEventsList"));
    list_->setUniformItemSizes(true); // a long list costs only the rows in sight
    list_->setModel(model_);
    setWidget(list_);
    connect(list_, &QListView::activated, this,
            [this](const QModelIndex& at) { plot_.ShowEvent(static_cast<std::size_t>(at.row())); });
    connect(list_, &QListView::clicked, this,
            [this](const QModelIndex& at) { plot_.ShowEvent(static_cast<std::size_t>(at.row())); });
    // The keys are the plot's, as M, N, O and G are; the menu names them.
    QAction* next =
        menu->addAction(QStringLiteral("Next event\tE"), &plot_, [this] { plot_.GoToEvent(true); });
    QAction* previous = menu->addAction(QStringLiteral("Previous event\tShift+E"), &plot_,
                                        [this] { plot_.GoToEvent(false); });
    next->setObjectName(QStringLiteral("nextEvent"));
    previous->setObjectName(QStringLiteral("previousEvent"));
    menu->addSeparator();
    QAction* note = menu->addAction(QStringLiteral("Add Note..."), this, &RunEventsDock::OnAddNote);
    note->setObjectName(QStringLiteral("addNote"));
    note->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_N));
    menu->addAction(toggleViewAction());
}

void RunEventsDock::Refresh() {
    model_->Refresh();
}

bool RunEventsDock::AddNote(const QString& text, QString* why) {
    const std::string kept = NoteText(text.toStdString());
    if (kept.empty()) {
        *why = QStringLiteral("a note needs a text");
        return false;
    }
    // At a cursor, over the span between both, else at the middle of what is in sight.
    const auto a = plot_.Cursor(0), b = plot_.Cursor(1);
    std::int64_t ms = 0, length = 0;
    if (a && b) {
        ms = std::min(*a, *b);
        length = std::abs(*b - *a);
    } else if (a || b) {
        ms = a ? *a : *b;
    } else {
        const TimeScale view = plot_.View();
        ms = static_cast<std::int64_t>(std::floor(view.Ms(std::max(1, plot_.PlotRect().width()) / 2.0)));
    }
    // The Index of the row that carries it: the first at or after it, else the next one.
    const std::int64_t i = index_.LowerBound(ms);
    const std::int64_t carrier = i < index_.Size()   ? index_.IndexOf(i)
                                 : index_.Size() > 0 ? index_.IndexOf(index_.Size() - 1) + 1
                                                     : 0;
    WallTime at;
    at.instant = std::chrono::sys_time<WallTime::Milliseconds>(WallTime::Milliseconds(ms));
    at.utcOffset = std::chrono::seconds(index_.Offsets().At(ms));
    const EventRow row = NoteRow(at, carrier, kept, length);
    index_.Events().Add(RunEventOf(row));
    Refresh();
    plot_.update();
    if (!writer_) {
        *why = QStringLiteral("this run has no journal to save it beside");
        return false;
    }
    if (!writer_(row, why))
        return false;
    emit noteSaved(QString::fromStdString(kept));
    return true;
}

void RunEventsDock::OnAddNote() {
    bool ok = false;
    const QString text = QInputDialog::getText(this, QStringLiteral("Add Note"), QStringLiteral("Note:"),
                                               QLineEdit::Normal, QString(), &ok);
    if (!ok)
        return;
    QString why;
    if (!AddNote(text, &why))
        QMessageBox::warning(this, QStringLiteral("Add Note"),
                             QStringLiteral("The note is not saved: %1.").arg(why));
}

} // namespace zelvox
