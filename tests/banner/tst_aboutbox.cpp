// The About window.

#include "banner/TAboutBox.h"
#include "banner/TURLLabel.h"
#include "banner/TWebLink.h"

#include "OpenedLinks.h"

#include <QLabel>
#include <QPointer>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>

class tst_aboutbox : public QObject {
    Q_OBJECT

private:
    OpenedLinks m_opened;

private slots:
    void initTestCase() { QCoreApplication::setApplicationName("Heraldix"); }
    void init() { m_opened.Clear(); }

    void textsAndLayout() {
        TAboutBox box;
        QCOMPARE(box.windowTitle(), QString("About Heraldix"));
        QCOMPARE(box.Label3->text(), QString("1.1.0.1"));
        QCOMPARE(TAboutBox::ProgramVersion(), QString("1.1.0.1"));
        QVERIFY(box.OKButton->isDefault());
        QCOMPARE(box.OKButton->text(), QString("OK"));
        QVERIFY(box.Image1->pixmap().size() == QSize(250, 55));
        const QStringList texts = [&] {
            QStringList all;
            for (const QLabel* label : box.findChildren<QLabel*>())
                all << label->text();
            return all;
        }();
        QVERIFY(texts.contains("Stop by our web site at "));
        QVERIFY(texts.contains("version number:"));
        QVERIFY(QUrl(box.URLLabel1->URL()).host().endsWith("example.com"));
    }

    void withoutVersion() {
        TAboutBox box(QString(), nullptr);
        QCOMPARE(box.windowTitle(), QString("About"));
        QVERIFY(box.Label3->text().isEmpty());
    }

    void showTwiceOkHides() {
        QPointer<TAboutBox> box = new TAboutBox;
        for (int round = 0; round < 2; ++round) {
            box->show();
            QVERIFY(QTest::qWaitForWindowExposed(box));
            QCOMPARE(box->windowTitle(), QString("About Heraldix"));
            QCOMPARE(box->Label3->text(), QString("1.1.0.1"));
            QCOMPARE(box->minimumSize(), box->maximumSize()); // fixed size
            QTest::mouseClick(box->OKButton, Qt::LeftButton);
            QVERIFY(!box->isVisible());
            QCoreApplication::processEvents();
            QVERIFY(!box.isNull());
        }
        delete box;
    }

    void enterPressesOk() {
        TAboutBox box;
        box.show();
        QVERIFY(QTest::qWaitForWindowExposed(&box));
        box.OKButton->setFocus();
        QTest::keyClick(&box, Qt::Key_Return);
        QVERIFY(!box.isVisible());
    }

    void linkLabel() {
        TAboutBox box;
        TURLLabel* link = box.URLLabel1;
        const QColor resting = link->TextColor();
        QCOMPARE(resting, link->palette().color(QPalette::Link));

        QEnterEvent enter(QPointF(1, 1), QPointF(1, 1), QPointF(1, 1));
        QCoreApplication::sendEvent(link, &enter);
        QCOMPARE(link->TextColor(), QColor(Qt::red));
        QEvent leave(QEvent::Leave);
        QCoreApplication::sendEvent(link, &leave);
        QCOMPARE(link->TextColor(), resting);

        QTest::mouseClick(link, Qt::LeftButton);
        QCOMPARE(m_opened.Urls(), QStringList({link->URL()}));
        QVERIFY(link->Visited());
        QCOMPARE(link->TextColor(), resting); // visited colouring is off

        QTest::keyClick(link, Qt::Key_Space);
        QCOMPARE(m_opened.Urls().size(), 2);
    }
};

QTEST_MAIN(tst_aboutbox)
#include "tst_aboutbox.moc"
