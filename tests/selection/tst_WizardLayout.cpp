// Each wizard page and the find-groups window at their default sizes: every control inside its
// window and fully visible, no two controls on top of each other. With HERALDIX_SCREENSHOT_DIR
// set, each is also saved as a PNG there (the README's screenshots are made this way).
#include "MainWindowDouble.h"

#include "selection/TBodyEditor.h"
#include "selection/TFrmWiz.h"
#include "selection/TfrmFind.h"
#include "selection/trcvListbox.h"

#include <QAbstractButton>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QStackedWidget>
#include <QStyle>
#include <QTemporaryDir>
#include <QTest>

class tst_WizardLayout : public QObject {
    Q_OBJECT

    static QString Describe(const QWidget* w) {
        return QStringLiteral("%1 (%2)").arg(w->objectName(), w->metaObject()->className());
    }

    // The visible controls directly on `area` are inside it, not cut off and apart.
    static void CheckLaidOut(QWidget* area) {
        QList<QWidget*> controls;
        for (QWidget* child : area->findChildren<QWidget*>(Qt::FindDirectChildrenOnly))
            if (child->isVisible())
                controls << child;
        QVERIFY(!controls.isEmpty());
        for (QWidget* control : controls) {
            QVERIFY2(area->rect().contains(control->geometry()),
                     qPrintable(Describe(control) + QStringLiteral(" reaches outside")));
            if (auto* label = qobject_cast<QLabel*>(control); label && label->pixmap().isNull())
                QVERIFY2(label->width() >= label->sizeHint().width() &&
                             label->height() >= label->sizeHint().height(),
                         qPrintable(Describe(control) + QStringLiteral(" is cut off")));
            if (auto* button = qobject_cast<QAbstractButton*>(control))
                QVERIFY2(button->width() >= button->sizeHint().width(),
                         qPrintable(Describe(control) + QStringLiteral(" is cut off")));
            if (auto* edit = qobject_cast<QLineEdit*>(control))
                QVERIFY2(edit->width() >= 120,
                         qPrintable(Describe(control) + QStringLiteral(" is too narrow")));
            for (QWidget* other : controls)
                if (other != control)
                    QVERIFY2(!control->geometry().intersects(other->geometry()),
                             qPrintable(Describe(control) + QStringLiteral(" overlaps ") +
                                        Describe(other)));
        }
    }

    static void Shoot(QWidget* window, const QString& name) {
        const QByteArray dir = qgetenv("HERALDIX_SCREENSHOT_DIR");
        if (!dir.isEmpty())
            QVERIFY(window->grab().save(QString::fromLocal8Bit(dir) + "/" + name + ".png"));
    }

private slots:
    void wizardPages_data() {
        QTest::addColumn<int>("page");
        QTest::newRow("intro") << int(TWizardPage::wpIntro);
        QTest::newRow("server") << int(TWizardPage::wpServer);
        QTest::newRow("groups") << int(TWizardPage::wpGroups);
        QTest::newRow("identity") << int(TWizardPage::wpIdentity);
        QTest::newRow("body") << int(TWizardPage::wpBody);
    }
    void wizardPages() {
        QFETCH(int, page);
        QTemporaryDir dir;
        MainWindowDouble main(dir.path());
        main.eHost->setText(QStringLiteral("news.example.invalid"));
        main.eName->setText(QStringLiteral("Pat Example"));
        main.eAddress->setText(QStringLiteral("pat@example.invalid"));
        main.eSubject->setText(QStringLiteral("Meeting notes"));
        main.dcMsgBody->SetLines({QStringLiteral("Hello all,"), QString(),
                                  QStringLiteral("the notes of Tuesday's meeting follow.")});
        main.trcvToPost->Items().Assign({"misc.test"});
        main.Label10->setText(QStringLiteral("notes.txt"));
        main.Image1->setPixmap(main.style()->standardIcon(QStyle::SP_FileIcon).pixmap(32, 32));
        main.trcvNewsgroups->Items().Assign(
            {"alt.test", "comp.lang.c", "comp.lang.c++", "misc.test", "rec.arts.books"});
        main.trcvNewsgroups->Items().SaveToFile(dir.filePath(QStringLiteral("newsgrps.txt")));

        TFrmWiz wizard(main.Access(), nullptr);
        wizard.show();
        QVERIFY(QTest::qWaitForWindowExposed(&wizard));
        for (int step = 0; step < page; ++step)
            wizard.btnNextClick();
        QCOMPARE(int(wizard.ActivePage()), page);
        QCoreApplication::processEvents();
        Shoot(&wizard, QStringLiteral("wizard-%1-%2")
                           .arg(page + 1)
                           .arg(QString::fromLatin1(QTest::currentDataTag())));

        CheckLaidOut(wizard.PageControl1->currentWidget());
        for (QPushButton* button :
             {wizard.BtnBack, wizard.btnNext, wizard.btnCancel, wizard.btnFinish}) {
            QVERIFY(wizard.rect().contains(button->geometry()));
            QVERIFY2(button->width() >= button->sizeHint().width(),
                     qPrintable(Describe(button) + QStringLiteral(" is cut off")));
        }
    }

    void findWindow() {
        QTemporaryDir dir;
        MainWindowDouble main(dir.path());
        main.trcvNewsgroups->Items().Assign(
            {"alt.test", "comp.lang.c", "comp.lang.c++", "comp.os.linux.misc", "misc.test"});
        TfrmFind find(main.Access());
        find.show();
        QVERIFY(QTest::qWaitForWindowExposed(&find));
        find.eFindText->setText(QStringLiteral("comp"));
        find.sbFindClick();
        find.trcvFindGroups->SetSelection(1, true);
        QCoreApplication::processEvents();
        Shoot(&find, QStringLiteral("find"));
        QCOMPARE(find.size(), QSize(384, 203));
        CheckLaidOut(&find);
    }
};

QTEST_MAIN(tst_WizardLayout)
#include "tst_WizardLayout.moc"
