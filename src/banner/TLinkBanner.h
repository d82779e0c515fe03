#pragma once

#include <QByteArray>
#include <QCursor>
#include <QImage>
#include <QString>
#include <QWidget>

#include <optional>

// A picture strip that opens a web address when clicked; the main window docks one, LinkBanner1,
// above its status bar.
//
// While the control is enabled, the pointer entering it turns the cursor into a pointing hand
// and fires OnEnter; leaving puts the earlier cursor back and fires OnExit. Disabling the control
// while the pointer is over it also puts the earlier cursor back, so the hand never sticks.
class TLinkBanner : public QWidget {
    Q_OBJECT
    Q_PROPERTY(QString URL READ URL WRITE SetURL)

public:
    static constexpr int BannerHeight = 51;
    static constexpr const char* SiteURL = "http://heraldix.example.com/";

    explicit TLinkBanner(QWidget* parent = nullptr);

    // The main window's banner: named LinkBanner1, 51 pixels high, showing the program's own
    // picture and linking to the program's web site.
    static TLinkBanner* CreateLinkBanner1(QWidget* parent);

    QString URL() const { return m_url; }
    // Puts "http://" in front of an address that does not start with "http://" (the test is
    // case-sensitive) or "https://".
    void SetURL(const QString& url);

    QImage Picture() const { return m_picture; }
    void SetPicture(const QImage& picture);
    // Shows a JPEG picture. A picture that cannot be decoded leaves the banner without one and
    // says so on standard error; returns whether the picture is shown.
    bool LoadJpeg(const QByteArray& data);

    // A JPEG file compiled into the program ("banner.jpg", "about.jpg"); empty when unknown.
    static QByteArray EmbeddedJpeg(const QString& name);
    // Decodes a JPEG; on failure reports on standard error, naming the picture, and gives a null
    // image.
    static QImage DecodeOrReport(const QByteArray& data, const QString& what);

    QSize sizeHint() const override;

signals:
    void OnEnter();
    void OnExit();
    void URLChanged(const QString& url);

protected:
    void paintEvent(QPaintEvent* event) override;
    void enterEvent(QEnterEvent* event) override;
    void leaveEvent(QEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    void RestoreCursor();

    QString m_url;
    QImage m_picture;
    // The cursor in force when the pointer came in; set only while the hand is shown.
    std::optional<QCursor> m_savedCursor;
    bool m_hadOwnCursor = false;
};
