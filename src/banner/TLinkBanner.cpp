#include "banner/TLinkBanner.h"

#include "banner/TJpegDecoder.h"
#include "banner/TWebLink.h"

#include <QFile>
#include <QMouseEvent>
#include <QPainter>
#include <QtGlobal>

// The resource file is compiled into a static library; it has to be registered by hand.
static void InitBannerResources() {
    Q_INIT_RESOURCE(banner);
}

TLinkBanner::TLinkBanner(QWidget* parent) : QWidget(parent) {
    setFixedHeight(BannerHeight);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    setAccessibleName(tr("Heraldix web site"));
}

TLinkBanner* TLinkBanner::CreateLinkBanner1(QWidget* parent) {
    auto* banner = new TLinkBanner(parent);
    banner->setObjectName(QStringLiteral("LinkBanner1"));
    banner->LoadJpeg(EmbeddedJpeg(QStringLiteral("banner.jpg")));
    banner->SetURL(QString::fromLatin1(SiteURL));
    return banner;
}

void TLinkBanner::SetURL(const QString& url) {
    QString normalised = url;
    if (!url.startsWith(QLatin1String("http://")) && !url.startsWith(QLatin1String("https://")))
        normalised.prepend(QLatin1String("http://"));
    if (normalised == m_url)
        return;
    m_url = normalised;
    setToolTip(m_url);
    emit URLChanged(m_url);
}

void TLinkBanner::SetPicture(const QImage& picture) {
    m_picture = picture;
    updateGeometry();
    update();
}

bool TLinkBanner::LoadJpeg(const QByteArray& data) {
    SetPicture(DecodeOrReport(data, QStringLiteral("banner")));
    return !m_picture.isNull();
}

QByteArray TLinkBanner::EmbeddedJpeg(const QString& name) {
    InitBannerResources();
    QFile file(QStringLiteral(":/heraldix/") + name);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return file.readAll();
}

QImage TLinkBanner::DecodeOrReport(const QByteArray& data, const QString& what) {
    QString error;
    QImage image = TJpegDecoder::Decode(data, &error);
    if (image.isNull())
        qWarning("Heraldix: the %s picture could not be decoded (%s); it is not shown.",
                 qPrintable(what), qPrintable(error));
    return image;
}

QSize TLinkBanner::sizeHint() const {
    return QSize(m_picture.isNull() ? 200 : m_picture.width(), BannerHeight);
}

void TLinkBanner::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    if (m_picture.isNull()) {
        painter.fillRect(rect(), palette().window());
        return;
    }
    // Beyond the picture the strip goes on in the colour of the picture's right edge.
    painter.fillRect(rect(), m_picture.pixelColor(m_picture.width() - 1, 0));
    painter.drawImage(QPoint(0, (height() - m_picture.height()) / 2), m_picture);
}

void TLinkBanner::enterEvent(QEnterEvent* event) {
    QWidget::enterEvent(event);
    if (!isEnabled())
        return;
    if (!m_savedCursor) {
        m_hadOwnCursor = testAttribute(Qt::WA_SetCursor);
        m_savedCursor = cursor();
    }
    setCursor(Qt::PointingHandCursor);
    emit OnEnter();
}

void TLinkBanner::leaveEvent(QEvent* event) {
    QWidget::leaveEvent(event);
    if (!isEnabled())
        return;
    RestoreCursor();
    emit OnExit();
}

void TLinkBanner::changeEvent(QEvent* event) {
    QWidget::changeEvent(event);
    if (event->type() == QEvent::EnabledChange && !isEnabled())
        RestoreCursor();
}

void TLinkBanner::RestoreCursor() {
    if (!m_savedCursor)
        return;
    if (m_hadOwnCursor)
        setCursor(*m_savedCursor);
    else
        unsetCursor();
    m_savedCursor.reset();
}

void TLinkBanner::mouseReleaseEvent(QMouseEvent* event) {
    QWidget::mouseReleaseEvent(event);
    if (isEnabled() && event->button() == Qt::LeftButton &&
        rect().contains(event->position().toPoint()))
        TWebLink::Open(m_url);
}
