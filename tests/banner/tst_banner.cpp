// The banner control and the JPEG decoding behind it.

#include "banner/TJpegDecoder.h"
#include "banner/TLinkBanner.h"
#include "banner/TWebLink.h"

#include "OpenedLinks.h"

#include <QBuffer>
#include <QEnterEvent>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTest>

namespace {

// The position of the frame header's height and width in a baseline JPEG, or -1.
qsizetype SizeFieldOffset(const QByteArray& jpeg) {
    const qsizetype sof = jpeg.indexOf(QByteArray("\xff\xc0", 2));
    return sof < 0 ? -1 : sof + 5;
}

QByteArray Encode(const QImage& image) {
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "JPEG", 90);
    return bytes;
}

void SendEnter(QWidget* w) {
    QEnterEvent enter(QPointF(5, 5), QPointF(5, 5), w->mapToGlobal(QPointF(5, 5)));
    QCoreApplication::sendEvent(w, &enter);
}

void SendLeave(QWidget* w) {
    QEvent leave(QEvent::Leave);
    QCoreApplication::sendEvent(w, &leave);
}

} // namespace

class tst_banner : public QObject {
    Q_OBJECT

private:
    OpenedLinks m_opened;

private slots:
    void init() { m_opened.Clear(); }

    void embeddedPicturesDecode_data() {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QSize>("size");
        QTest::newRow("banner") << "banner.jpg" << QSize(640, TLinkBanner::BannerHeight);
        QTest::newRow("About window") << "about.jpg" << QSize(250, 55);
    }
    void embeddedPicturesDecode() {
        QFETCH(QString, name);
        const QByteArray jpeg = TLinkBanner::EmbeddedJpeg(name);
        QVERIFY(!jpeg.isEmpty());
        QVERIFY2(jpeg.size() < 100 * 1024, "the picture should stay small");
        QString error;
        const QImage image = TJpegDecoder::Decode(jpeg, &error);
        QVERIFY2(!image.isNull(), qPrintable(error));
        QTEST(image.size(), "size");
        // Our pictures start in deep blue on the left.
        const QColor left = image.pixelColor(2, 2);
        QVERIFY2(left.blue() > left.red() + 20, qPrintable(left.name()));
    }

    // Pictures written by another encoder, in both colour layouts, decode to what was drawn.
    void decodesForeignPictures_data() {
        QTest::addColumn<QImage>("source");
        QImage colour(37, 19, QImage::Format_RGB32);
        colour.fill(QColor(200, 40, 40));
        QImage grey(16, 9, QImage::Format_Grayscale8);
        grey.fill(QColor(128, 128, 128));
        QTest::newRow("colour, odd size") << colour;
        QTest::newRow("greyscale") << grey;
    }
    void decodesForeignPictures() {
        QFETCH(QImage, source);
        const QByteArray jpeg = Encode(source);
        if (jpeg.isEmpty())
            QSKIP("no JPEG writer to make test pictures with");
        QString error;
        const QImage image = TJpegDecoder::Decode(jpeg, &error);
        QVERIFY2(!image.isNull(), qPrintable(error));
        QCOMPARE(image.size(), source.size());
        const QColor expected = source.pixelColor(source.width() / 2, source.height() / 2);
        const QColor got = image.pixelColor(image.width() / 2, image.height() / 2);
        QVERIFY2(qAbs(got.red() - expected.red()) < 8 && qAbs(got.green() - expected.green()) < 8 &&
                     qAbs(got.blue() - expected.blue()) < 8,
                 qPrintable(got.name() + " vs " + expected.name()));
    }

    // Broken input must give no picture and a reason, never end the program.
    void brokenPicturesRefused_data() {
        QTest::addColumn<QByteArray>("jpeg");
        const QByteArray good = TLinkBanner::EmbeddedJpeg("banner.jpg");
        QTest::newRow("empty") << QByteArray();
        QTest::newRow("not a JPEG") << QByteArray("GIF89a, or anything else at all");
        QTest::newRow("start marker only") << QByteArray("\xff\xd8", 2);
        QTest::newRow("cut in the headers") << good.left(200);
        QTest::newRow("cut in the scan") << good.left(good.size() / 2);
        QTest::newRow("end marker missing") << good.left(good.size() - 2);
        QByteArray zeroWidth = good;
        const qsizetype at = SizeFieldOffset(good);
        QVERIFY(at > 0);
        zeroWidth[at + 2] = 0;
        zeroWidth[at + 3] = 0;
        QTest::newRow("zero width") << zeroWidth;
        QByteArray huge = good;
        huge[at] = huge[at + 1] = huge[at + 2] = huge[at + 3] = char(0xff);
        QTest::newRow("claims 65535 by 65535") << huge;
        QByteArray badTable = good;
        const qsizetype dqt = good.indexOf(QByteArray("\xff\xdb", 2));
        QVERIFY(dqt > 0);
        badTable[dqt + 4] = char(0x7f); // a table number libjpeg does not allow
        QTest::newRow("bad quantisation table") << badTable;
    }
    void brokenPicturesRefused() {
        QFETCH(QByteArray, jpeg);
        QString error;
        QVERIFY(TJpegDecoder::Decode(jpeg, &error).isNull());
        QVERIFY(!error.isEmpty());
    }

    // Damage inside the compressed data is not always detectable: it may decode to wrong pixels,
    // but never to another size, and never hurt the program.
    void scrambledDataSurvived() {
        const QByteArray good = TLinkBanner::EmbeddedJpeg("banner.jpg");
        const qsizetype scan = good.indexOf(QByteArray("\xff\xda", 2)) + 20;
        QVERIFY(scan > 20);
        for (int step = 0; step < 40; ++step) {
            QByteArray bad = good;
            const qsizetype from = scan + step * (good.size() - scan - 10) / 40;
            for (qsizetype i = from; i < from + 8 && i < bad.size() - 2; ++i)
                bad[i] = char(bad[i] ^ (0x5a + step));
            const QImage image = TJpegDecoder::Decode(bad);
            QVERIFY(image.isNull() || image.size() == QSize(640, TLinkBanner::BannerHeight));
        }
    }

    void brokenBannerShowsNoPicture() {
        TLinkBanner banner;
        QVERIFY(banner.LoadJpeg(TLinkBanner::EmbeddedJpeg("banner.jpg")));
        QTest::ignoreMessage(QtWarningMsg,
                             QRegularExpression("^Heraldix: the banner picture could not be "
                                                "decoded \\(.+\\); it is not shown\\.$"));
        QVERIFY(!banner.LoadJpeg("\xff\xd8\xff\xe0 truncated"));
        QVERIFY(banner.Picture().isNull());
        banner.resize(300, TLinkBanner::BannerHeight);
        banner.grab(); // painting without a picture is fine
    }

    void mainWindowBanner() {
        QWidget window;
        TLinkBanner* banner = TLinkBanner::CreateLinkBanner1(&window);
        QCOMPARE(banner->objectName(), QString("LinkBanner1"));
        QCOMPARE(banner->URL(), QString(TLinkBanner::SiteURL));
        QVERIFY(QUrl(banner->URL()).host().endsWith("example.com"));
        QCOMPARE(banner->Picture().size(), QSize(640, TLinkBanner::BannerHeight));
        banner->resize(900, 200);
        QCOMPARE(banner->height(), TLinkBanner::BannerHeight);
        // Past the picture's right edge the strip continues in the edge's colour.
        const QImage shot = banner->grab().toImage();
        QCOMPARE(shot.pixelColor(850, 25), banner->Picture().pixelColor(639, 0));
    }

    void urlNormalised_data() {
        QTest::addColumn<QString>("given");
        QTest::addColumn<QString>("stored");
        QTest::newRow("no scheme") << "www.example.com"
                                   << "http://www.example.com";
        QTest::newRow("http kept") << "http://example.com/a"
                                   << "http://example.com/a";
        QTest::newRow("capital scheme gets a second one") << "HTTP://example.com"
                                                          << "http://HTTP://example.com";
        QTest::newRow("https kept") << "https://example.com"
                                    << "https://example.com";
        QTest::newRow("broken scheme") << "http:/example.com"
                                       << "http://http:/example.com";
        QTest::newRow("empty") << ""
                               << "http://";
    }
    void urlNormalised() {
        QFETCH(QString, given);
        TLinkBanner banner;
        banner.SetURL(given);
        QTEST(banner.URL(), "stored");
        QCOMPARE(banner.property("URL").toString(), banner.URL());
    }

    void sameUrlTwiceChangesNothing() {
        TLinkBanner banner;
        QSignalSpy changed(&banner, &TLinkBanner::URLChanged);
        banner.SetURL("example.com");
        banner.SetURL("example.com");
        banner.SetURL("http://example.com");
        QCOMPARE(changed.count(), 1);
        banner.SetURL("example.org");
        QCOMPARE(changed.count(), 2);
    }

    void pointerEnterAndLeave_data() {
        QTest::addColumn<bool>("ownCursor");
        QTest::newRow("inherited cursor") << false;
        QTest::newRow("own cursor") << true;
    }
    void pointerEnterAndLeave() {
        QFETCH(bool, ownCursor);
        QWidget window;
        TLinkBanner& banner = *new TLinkBanner(&window);
        if (ownCursor)
            banner.setCursor(Qt::CrossCursor);
        QSignalSpy entered(&banner, &TLinkBanner::OnEnter);
        QSignalSpy exited(&banner, &TLinkBanner::OnExit);
        SendEnter(&banner);
        QCOMPARE(banner.cursor().shape(), Qt::PointingHandCursor);
        QCOMPARE(entered.count(), 1);
        QCOMPARE(exited.count(), 0);
        SendLeave(&banner);
        QCOMPARE(exited.count(), 1);
        QCOMPARE(banner.cursor().shape(), ownCursor ? Qt::CrossCursor : Qt::ArrowCursor);
        QCOMPARE(banner.testAttribute(Qt::WA_SetCursor), ownCursor);
    }

    void disabledBannerIgnoresPointer() {
        TLinkBanner banner;
        banner.SetURL("example.com");
        banner.setEnabled(false);
        QSignalSpy entered(&banner, &TLinkBanner::OnEnter);
        QSignalSpy exited(&banner, &TLinkBanner::OnExit);
        SendEnter(&banner);
        QCOMPARE(banner.cursor().shape(), Qt::ArrowCursor);
        SendLeave(&banner);
        QTest::mouseClick(&banner, Qt::LeftButton);
        QCOMPARE(entered.count(), 0);
        QCOMPARE(exited.count(), 0);
        QVERIFY(m_opened.Urls().isEmpty());
    }

    // Disabled while the hand shows: the hand must not stay behind.
    void disablingRestoresCursor() {
        TLinkBanner banner;
        SendEnter(&banner);
        QCOMPARE(banner.cursor().shape(), Qt::PointingHandCursor);
        banner.setEnabled(false);
        QCOMPARE(banner.cursor().shape(), Qt::ArrowCursor);
        banner.setEnabled(true);
        SendEnter(&banner);
        SendLeave(&banner);
        QCOMPARE(banner.cursor().shape(), Qt::ArrowCursor);
    }

    void clickOpensUrl() {
        TLinkBanner banner;
        banner.resize(200, TLinkBanner::BannerHeight);
        banner.SetURL("heraldix.example.com/news");
        QTest::mouseClick(&banner, Qt::RightButton);
        QVERIFY(m_opened.Urls().isEmpty());
        QTest::mouseClick(&banner, Qt::LeftButton);
        QCOMPARE(m_opened.Urls(), QStringList({"http://heraldix.example.com/news"}));
    }
};

QTEST_MAIN(tst_banner)
#include "tst_banner.moc"
