#include "panes/ControlPanel.h"

#include "dialogs/LinkMessages.h"
#include "panes/ScreenMetrics.h"
#include "panes/SegmentLayout.h"
#include "panes/SegmentPicture.h"
#include "res/Artwork.h"
#include "res/ControlIds.h"
#include "session/MeterSession.h"

#include <QFontMetrics>
#include <QLabel>
#include <QLineEdit>
#include <QPaintEvent>
#include <QPainter>
#include <QPushButton>
#include <algorithm>
#include <cmath>

namespace zelvox {

namespace {

// The display's background picture, which also draws the segment pictures that lie on it. It
// repaints only the rectangles it is asked for (a frame asks for one around the pictures it
// switched), each drawn on its own: small copies, where one draw of the whole picture clipped to
// several would hand the work to Qt's drawing threads and wait for them. The pictures are drawn in
// number order, so where two overlap (m and micro) the higher number is on top.
class DisplayBackground : public QLabel {
public:
    DisplayBackground(QWidget* parent, const QImage& image,
                      const std::array<SegmentPicture*, kSegmentCount>& pictures)
        : QLabel(parent), image_(image), pictures_(pictures) {
        setPixmap(QPixmap::fromImage(image));
    }

protected:
    void paintEvent(QPaintEvent* event) override {
        if (image_.size() != size()) {
            QLabel::paintEvent(event);
            return;
        }
        QPainter painter(this);
        for (const QRect& r : event->region()) {
            painter.drawImage(r.topLeft(), image_, r);
            for (SegmentPicture* segment : pictures_)
                if (segment)
                    segment->Paint(painter, r);
        }
    }

private:
    const QImage image_;
    const std::array<SegmentPicture*, kSegmentCount>& pictures_;
};

// The value fields' font: a SimSun-like face, 15 pixels high and about 8 pixels per character.
// Falls back through CJK-capable and plain monospace faces to whatever is installed.
QFont FieldFont() {
    QFont font;
    font.setFamilies({QStringLiteral("SimSun"), QStringLiteral("NSimSun"), QStringLiteral("AR PL UMing CN"),
                      QStringLiteral("AR PL SungtiL GB"), QStringLiteral("Noto Sans Mono CJK SC"),
                      QStringLiteral("WenQuanYi Zen Hei Mono"), QStringLiteral("DejaVu Sans Mono"),
                      QStringLiteral("monospace")});
    font.setStyleHint(QFont::TypeWriter);
    font.setPixelSize(15);
    font.setWeight(QFont::Normal);
    font.setItalic(false);
    font.setUnderline(false);
    font.setStrikeOut(false);
    // Narrow the face to the 8-pixel average character width the fields were laid out for.
    const int average = QFontMetrics(font).averageCharWidth();
    if (average > 0 && average != 8)
        font.setStretch(std::clamp(static_cast<int>(std::lround(800.0 / average)), 50, 150));
    return font;
}

QRect FromEdges(int left, int top, int right, int bottom) {
    return QRect(left, top, std::max(0, right - left), std::max(0, bottom - top));
}

} // namespace

ControlPanel::ControlPanel(MeterSession* session, bool wide, QWidget* parent)
    : QWidget(parent), session_(session), wide_(wide) {}

ControlPanel::~ControlPanel() = default;

void ControlPanel::InitialUpdate() {
    if (background_)
        return; // built once

    const QImage backgroundImage = res::LoadImage(res::kLcdBackground);
    const int W = backgroundImage.width();
    const int H = backgroundImage.height();
    background_ = new DisplayBackground(this, backgroundImage, segments_);
    background_->setObjectName(ControlName(kDisplayBackground));
    background_->setWindowTitle(QStringLiteral("MYStatic"));
    background_->setAlignment(Qt::AlignCenter);
    background_->setGeometry(0, 0, W, H);
    // The pane paints its own background, so a repaint of it stops here instead of reaching down
    // to the main window; the display covers its own rectangle.
    setAutoFillBackground(true);
    background_->setAttribute(Qt::WA_OpaquePaintEvent);

    const auto& layout = SegmentLayout();
    for (int s = 0; s < kSegmentCount; ++s) {
        const QImage image = res::LoadImage(layout[s].imageId);
        auto* picture = new SegmentPicture(background_);
        picture->setObjectName(ControlName(kFirstSegmentPicture + s));
        picture->SetImage(image);
        picture->SetKeyColour(QColor(0, 0, 0));
        picture->SetGeometry(QRect(layout[s].x, layout[s].y, image.width(), image.height()));
        segments_[s] = picture;
    }

    CreateButtons(W, H);
    stopButton_->setEnabled(false);
    LayOutFields(W, H);

    const QFont font = FieldFont();
    for (QLineEdit* field : {maxField_, maxTimeField_, minField_, minTimeField_}) {
        field->setFont(font);
        field->setText(QStringLiteral("0"));
    }

    // Until the first START the display shows every segment lit, and the mirror agrees.
    for (SegmentPicture* picture : segments_)
        picture->SetLit(true);
}

void ControlPanel::CreateButtons(int W, int H) {
    const int top = H + 3;
    const int bottom = H + 38;
    const int quarter = W / 4;
    auto make = [&](const char* text, int id, int left, int right, void (ControlPanel::*handler)()) {
        auto* button = new QPushButton(QString::fromLatin1(text), this);
        button->setObjectName(ControlName(id));
        button->setGeometry(FromEdges(left, top, right, bottom));
        connect(button, &QPushButton::clicked, this, handler);
        return button;
    };
    startButton_ = make("START", kStartButton, 0, quarter - 10, &ControlPanel::OnStart);
    stopButton_ = make("STOP", kStopButton, quarter, 2 * quarter - 10, &ControlPanel::OnStop);
    resetButton_ = make("RESET", kResetButton, W / 2, quarter + W / 2 - 10, &ControlPanel::OnReset);
    exitButton_ = make("EXIT", kExitButton, 3 * quarter, 4 * quarter - 10, &ControlPanel::OnExit);
}

void ControlPanel::LayOutFields(int W, int H) {
    auto label = [&](const char* text, int id) {
        auto* l = new QLabel(QString::fromLatin1(text), this);
        l->setObjectName(ControlName(id));
        l->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
        return l;
    };
    auto field = [&](int id) {
        auto* f = new QLineEdit(this);
        f->setObjectName(ControlName(id));
        f->setReadOnly(true);
        f->setFrame(false);
        return f;
    };
    maxLabel_ = label("MAX", kMaxLabel);
    maxTimeLabel_ = label("TIME", kMaxTimeLabel);
    minLabel_ = label("MIN", kMinLabel);
    minTimeLabel_ = label("TIME", kMinTimeLabel);
    maxField_ = field(kMaxValueField);
    maxTimeField_ = field(kMaxTimeField);
    minField_ = field(kMinValueField);
    minTimeField_ = field(kMinTimeField);

    if (wide_) {
        // Two columns beside the display: labels, then fields, in rows 30 high every 50.
        QWidget* const labels[] = {maxLabel_, maxTimeLabel_, minLabel_, minTimeLabel_};
        QWidget* const fields[] = {maxField_, maxTimeField_, minField_, minTimeField_};
        for (int row = 0; row < 4; ++row) {
            labels[row]->setGeometry(FromEdges(W, 50 * row, W + 40, 50 * row + 30));
            fields[row]->setGeometry(FromEdges(W + 50, 50 * row, W + 150, 50 * row + 30));
        }
        return;
    }

    // One column of eight rows, as wide as the pane leaves beside the display. k * H / 8 is
    // computed as (k * H) / 8, which can differ from k * e.
    const int left = W + 1;
    const int right = width() - 1;
    const int e = H / 8;
    auto row = [&](int k) { return k * H / 8; };
    maxLabel_->setGeometry(FromEdges(left, 0, right, e - 2));
    maxField_->setGeometry(FromEdges(left, e, right, 2 * e));
    maxTimeLabel_->setGeometry(FromEdges(left, row(2), right, e + row(2)));
    maxTimeField_->setGeometry(FromEdges(left, row(3), right, e + row(3)));
    minLabel_->setGeometry(FromEdges(left, row(4), right, e + row(4) - 2));
    minField_->setGeometry(FromEdges(left, row(5), right, e + row(5)));
    minTimeLabel_->setGeometry(FromEdges(left, row(6), right, e + row(6)));
    minTimeField_->setGeometry(FromEdges(left, row(7), right, e + row(7)));
}

void ControlPanel::OnStart() {
    const StartResult result = session_->Start();
    if (result.status != StartStatus::Started)
        ShowStartFailure(this, result);
}

void ControlPanel::OnStop() {
    session_->Stop();
}

void ControlPanel::OnReset() {
    session_->Reset();
}

void ControlPanel::OnExit() {
    emit exitRequested();
}

void ControlPanel::ShowStarted() {
    for (SegmentPicture* picture : segments_)
        if (picture)
            picture->SetLit(false, /*repaint=*/false);
    if (background_)
        background_->update();
    if (startButton_)
        startButton_->setEnabled(false);
    if (stopButton_)
        stopButton_->setEnabled(true);
}

void ControlPanel::ShowStopped() {
    if (startButton_)
        startButton_->setEnabled(true);
    if (stopButton_)
        stopButton_->setEnabled(false);
}

void ControlPanel::SetField(QLineEdit* field, const std::optional<std::u16string>& text) {
    if (!field || !text)
        return;
    // A reading equal to the maximum renews only its time: the value field keeps its text, and
    // is neither laid out nor repainted again.
    const QString shown = QString::fromStdU16String(*text);
    if (shown == field->text())
        return;
    field->setText(shown);
    // Show the start of the text: in the narrow layout a field is narrower than "1.504V", and
    // showing its end (".504V") would read as another number.
    field->setCursorPosition(0);
}

void ControlPanel::ShowMaxMin(const MaxMinTexts& texts) {
    SetField(maxField_, texts.maxValueText);
    SetField(maxTimeField_, texts.maxTimeText);
    SetField(minField_, texts.minValueText);
    SetField(minTimeField_, texts.minTimeText);
}

void ControlPanel::ApplySegmentChanges(const std::vector<SegmentChange>& changes) {
    // One rectangle around every switched picture: Qt paints and sends a region of many small
    // rectangles piece by piece, which costs more than the few extra pixels of their bounding box.
    QRect changed;
    for (const SegmentChange& change : changes)
        if (SegmentPicture* picture = segments_[change.picture])
            if (picture->SetLit(change.show, /*repaint=*/false))
                changed |= picture->geometry();
    if (background_ && !changed.isEmpty())
        background_->update(changed);
}

} // namespace zelvox
