// The main window at its default size: every control inside its page and fully visible, no two
// controls on top of each other. With HERALDIX_SCREENSHOT_DIR set, each page is also saved as a
// PNG there (the README's screenshots are made this way).
#include "app/TfrmHistory.h"
#include "app/TfrmMain.h"
#include "banner/TLinkBanner.h"
#include "selection/TBodyEditor.h"
#include "selection/trcvListbox.h"

#include <QAbstractButton>
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QPushButton>
#include <QSpinBox>
#include <QTabWidget>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QTest>

class tst_TfrmMainLayout : public QObject {
    Q_OBJECT

    // The visible controls a user reads or operates on `page` (layouts' own containers aside).
    static QList<QWidget*> Controls(QWidget* page) {
        QList<QWidget*> controls;
        for (QWidget* child : page->findChildren<QWidget*>(Qt::FindDirectChildrenOnly))
            if (child->isVisible())
                controls << child;
        return controls;
    }

    static QString Describe(const QWidget* w) {
        return QStringLiteral("%1 (%2)").arg(w->objectName(), w->metaObject()->className());
    }

private slots:
    void pagesAreLaidOutCleanly_data() {
        QTest::addColumn<int>("page");
        QTest::newRow("Newsgroups") << int(TMainPage::pgNewsgroups);
        QTest::newRow("Newsgroups to Post") << int(TMainPage::pgToPost);
        QTest::newRow("Message") << int(TMainPage::pgMessage);
        QTest::newRow("Options") << int(TMainPage::pgOptions);
        QTest::newRow("Status") << int(TMainPage::pgStatus);
    }
    void pagesAreLaidOutCleanly() {
        QFETCH(int, page);
        QTemporaryDir dir;
        TfrmMain window(dir.path());
        window.SetBanner(TLinkBanner::CreateLinkBanner1(&window));
        window.trcvNewsgroups->Items().Assign(
            {"alt.test", "comp.lang.c", "comp.lang.c++", "misc.test", "rec.arts.books"});
        window.trcvToPost->Items().Assign({"alt.test", "misc.test"});
        window.trcvNewsgroups->SetSelection(1, true);
        window.eName->setText(QStringLiteral("Pat Example"));
        window.eAddress->setText(QStringLiteral("pat@example.invalid"));
        window.eSubject->setText(QStringLiteral("Meeting notes"));
        window.dcMsgBody->SetLines(
            {QStringLiteral("Hello all,"), QString(),
             QStringLiteral("the notes of Tuesday's meeting are attached.")});
        window.SetAttachmentPath(dir.filePath(QStringLiteral("notes.txt")));
        window.eHost->setText(QStringLiteral("news.example.invalid"));
        window.cbSendAs->setCurrentIndex(1);
        window.mDisplay->appendPlainText(QStringLiteral("200 news.example.invalid ready"));
        window.RefreshStatusBar();
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        window.ShowPage(static_cast<TMainPage>(page));
        QCoreApplication::processEvents();

        const QByteArray shotDir = qgetenv("HERALDIX_SCREENSHOT_DIR");
        if (!shotDir.isEmpty()) {
            const QString name =
                QString::fromLatin1(QTest::currentDataTag()).toLower().replace(' ', '-');
            QVERIFY(window.grab().save(QString::fromLocal8Bit(shotDir) + "/main-" + name + ".png"));
        }

        QWidget* const shown = window.PageControl1->currentWidget();
        QVERIFY(shown->isVisible());
        const QList<QWidget*> controls = Controls(shown);
        QVERIFY(!controls.isEmpty());
        for (QWidget* control : controls) {
            QVERIFY2(shown->rect().contains(control->geometry()),
                     qPrintable(Describe(control) + QStringLiteral(" reaches outside its page")));
            if (auto* label = qobject_cast<QLabel*>(control); label && label->pixmap().isNull())
                QVERIFY2(label->width() >= label->sizeHint().width(),
                         qPrintable(Describe(control) + QStringLiteral(" is cut off")));
            if (auto* button = qobject_cast<QAbstractButton*>(control))
                QVERIFY2(button->width() >= button->sizeHint().width(),
                         qPrintable(Describe(control) + QStringLiteral(" is cut off")));
            for (QWidget* other : controls)
                if (other != control)
                    QVERIFY2(!control->geometry().intersects(other->geometry()),
                             qPrintable(Describe(control) + QStringLiteral(" overlaps ") +
                                        Describe(other)));
        }
        for (QAbstractButton* button : window.findChild<QWidget*>(QStringLiteral("pnlButtons"))
                                           ->findChildren<QAbstractButton*>())
            QVERIFY2(button->width() >= button->sizeHint().width(),
                     qPrintable(Describe(button) + QStringLiteral(" is cut off")));
    }

    // The Posting History window over a few months of runs: the runs' columns and the buttons
    // inside the window, the buttons whole.
    void historyWindowIsLaidOutCleanly() {
        QTemporaryDir dir;
        const std::string path = dir.filePath(TPostingHistory::FileName).toStdString();
        // Months of a FAQ and a release note cancelled an hour after it went out: a time, a
        // subject, groups accepted (or cancelled) and refused.
        const std::string faq = "Monthly FAQ: posting to many groups";
        const std::string note = "Release 2.0 of the meeting planner";
        const std::tuple<int64_t, std::string, size_t, size_t> runs[] = {{1788220800, faq, 118, 2},
                                                                         {1790899200, faq, 120, 0},
                                                                         {1791331200, note, 4, 1},
                                                                         {1791334800, note, 4, 0},
                                                                         {1793491200, faq, 119, 1}};
        for (const auto& [time, subject, accepted, refused] : runs) {
            const bool cancel = time == 1791334800;
            THistoryRun run;
            run.RunID = std::to_string(time);
            run.Time = time;
            run.Kind = cancel ? THistoryKind::hkCancel : THistoryKind::hkPost;
            run.Server = "news.example.org:563";
            run.Subject = subject;
            for (size_t i = 0; i < accepted + refused; ++i)
                run.Groups.push_back({"group." + std::to_string(i),
                                      i >= accepted ? THistoryOutcome::hoRefused
                                      : cancel      ? THistoryOutcome::hoCancelled
                                                    : THistoryOutcome::hoAccepted,
                                      "", "<x>", ""});
            TPostingHistory(path).Append(run);
        }
        TfrmHistory window(path, TfrmHistory::TMode::hmBrowse);
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        QCOMPARE(window.tblRuns->rowCount(), 5);
        const QByteArray shotDir = qgetenv("HERALDIX_SCREENSHOT_DIR");
        if (!shotDir.isEmpty())
            QVERIFY(window.grab().save(QString::fromLocal8Bit(shotDir) + "/history.png"));
        for (QWidget* control :
             std::initializer_list<QWidget*>{window.tblRuns, window.btnOpen, window.btnClose})
            QVERIFY2(window.rect().contains(control->geometry()), qPrintable(Describe(control)));
        for (QAbstractButton* button : {window.btnOpen, window.btnClose})
            QVERIFY2(button->width() >= button->sizeHint().width(), qPrintable(Describe(button)));
    }
};

QTEST_MAIN(tst_TfrmMainLayout)
#include "tst_TfrmMainLayout.moc"
