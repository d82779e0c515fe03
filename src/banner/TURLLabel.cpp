#include "banner/TURLLabel.h"

#include "banner/TWebLink.h"

#include <QKeyEvent>
#include <QMouseEvent>

TURLLabel::TURLLabel(QWidget* parent) : QLabel(parent) {
    setCursor(Qt::PointingHandCursor);
    setFocusPolicy(Qt::StrongFocus);
    QFont f = font();
    f.setUnderline(true);
    setFont(f);
    SetTextColor(RestingColor());
}

void TURLLabel::SetURL(const QString& url) {
    m_url = url;
    setToolTip(url);
    setAccessibleDescription(url);
}

void TURLLabel::Open() {
    if (m_url.isEmpty())
        return;
    TWebLink::Open(m_url);
    m_visited = true;
    if (!underMouse())
        SetTextColor(RestingColor());
}

QColor TURLLabel::RestingColor() const {
    return m_visited && VisitedColoring ? VisitedColor : palette().color(QPalette::Link);
}

void TURLLabel::SetTextColor(const QColor& color) {
    QPalette p = palette();
    p.setColor(QPalette::WindowText, color);
    setPalette(p);
}

void TURLLabel::enterEvent(QEnterEvent* event) {
    QLabel::enterEvent(event);
    SetTextColor(HighlightColor);
}

void TURLLabel::leaveEvent(QEvent* event) {
    QLabel::leaveEvent(event);
    SetTextColor(RestingColor());
}

void TURLLabel::mouseReleaseEvent(QMouseEvent* event) {
    QLabel::mouseReleaseEvent(event);
    if (event->button() == Qt::LeftButton && rect().contains(event->position().toPoint()))
        Open();
}

void TURLLabel::keyPressEvent(QKeyEvent* event) {
    switch (event->key()) {
    case Qt::Key_Return:
    case Qt::Key_Enter:
    case Qt::Key_Space:
        Open();
        return;
    default:
        QLabel::keyPressEvent(event);
    }
}
