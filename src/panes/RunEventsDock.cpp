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

RunEventsModel::RunEventsModel(const RunPlot& plot, QObject* parent)
    : QAbstractListModel(parent), plot_(plot) {}

int RunEventsModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(rows_.size());
}

QVariant RunEventsModel::data(const QModelIndex& at, int role) const {
    if (!at.isValid() || at.row() >= static_cast<int>(rows_.size()))
        return {};
    const auto [source, e] = At(at.row());
    const RunEvent& event = plot_.SourceIndex(source).Events().Events()[e];
    if (role == Qt::DisplayRole)
        return plot_.DescribeEvent(source, e);
    if (role == Qt::ToolTipRole && event.kind == RunEvent::Kind::kNote)
        return QString::fromStdString(event.text);
    return {};
}

void RunEventsModel::Refresh() {
    std::vector<std::uint64_t> generations;
    for (std::size_t src = 0; src < plot_.SourceCount(); ++src)
        generations.push_back(plot_.SourceIndex(static_cast<int>(src)).Events().Generation());
    if (generations == shown_)
        return;
    beginResetModel();
    shown_ = std::move(generations);
    // Each source's events are in time order (and bounded by RunEvents::kMaxEvents): merged.
    rows_.clear();
    for (std::size_t src = 0; src < plot_.SourceCount(); ++src) {
        const std::size_t mid = rows_.size();
        for (std::size_t e = 0; e < plot_.SourceIndex(static_cast<int>(src)).Events().Size(); ++e)
            rows_.emplace_back(static_cast<int>(src), e);
        std::inplace_merge(rows_.begin(), rows_.begin() + static_cast<std::ptrdiff_t>(mid), rows_.end(),
                           [this](const auto& x, const auto& y) {
                               return plot_.SourceIndex(x.first).Events().Events()[x.second].ms <
                                      plot_.SourceIndex(y.first).Events().Events()[y.second].ms;
                           });
    }
    endResetModel();
}

RunEventsDock::RunEventsDock(RunIndex& index, RunPlot& plot, QMenu* menu, QWidget* parent)
    : QDockWidget(QStringLiteral("Events"), parent), index_(index), plot_(plot) {
    setObjectName(QStringLiteral("RunEvents"));
    model_ = new RunEventsModel(plot, this);
    list_ = new QListView(this);
    list_->setObjectName(QStringLiteral("RunEventsList"));
    list_->setUniformItemSizes(true); // a long list costs only the rows in sight
    list_->setModel(model_);
    setWidget(list_);
    const auto show = [this](const QModelIndex& at) {
        const auto [source, e] = model_->At(at.row());
        plot_.ShowEvent(source, e);
    };
    connect(list_, &QListView::activated, this, show);
    connect(list_, &QListView::clicked, this, show);
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
