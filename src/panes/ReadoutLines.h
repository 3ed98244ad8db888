// Lines of text under a plot, changed many times a minute: a line is laid out again and
// repainted only when its own text changes, and the widget's size follows the number of lines
// alone, so a new text never lays out the window again.
#pragma once

#include <QStaticText>
#include <QStringList>
#include <QWidget>
#include <vector>

namespace zelvox {

class ReadoutLines : public QWidget {
public:
    explicit ReadoutLines(QWidget* parent = nullptr);

    void SetLines(const QStringList& lines);
    // The lines joined by line breaks.
    QString Text() const { return lines_.join(QLatin1Char('\n')); }

protected:
    void paintEvent(QPaintEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    QRect LineRect(int line) const;

    QStringList lines_;
    std::vector<QStaticText> laidOut_;
};

} // namespace zelvox
