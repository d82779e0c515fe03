#pragma once

#include <QColor>
#include <QLabel>
#include <QString>

// A label that opens a web address when clicked, or when Enter or Space is pressed while it has
// the focus. It is drawn in the link colour and turns HighlightColor while the pointer is over it;
// visited links are not coloured differently unless VisitedColoring is set.
class TURLLabel : public QLabel {
    Q_OBJECT

public:
    explicit TURLLabel(QWidget* parent = nullptr);

    QString URL() const { return m_url; }
    void SetURL(const QString& url);

    QColor HighlightColor = Qt::red;
    QColor VisitedColor = Qt::black;
    bool VisitedColoring = false;

    // The colour the text is drawn in now.
    QColor TextColor() const { return palette().color(QPalette::WindowText); }
    bool Visited() const { return m_visited; }

    void Open();

protected:
    void enterEvent(QEnterEvent* event) override;
    void leaveEvent(QEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    void SetTextColor(const QColor& color);
    QColor RestingColor() const;

    QString m_url;
    bool m_visited = false;
};
