// The start wizard driven through its buttons against a stand-in main window: page order and
// button states, the group fetch on the groups page, copying from and to the main window,
// Cancel, Finish, the find window opened from the groups page, attaching and dropping files.
#include "MainWindowDouble.h"

#include "selection/TBodyEditor.h"
#include "selection/TFrmWiz.h"
#include "selection/TScriptedPrompts.h"
#include "selection/TfrmFind.h"
#include "selection/trcvListbox.h"
#include "support/ListEntries.h"
#include "support/TestFiles.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QDropEvent>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QMimeData>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QToolButton>
#include <QUrl>

class tst_TFrmWiz : public QObject {
    Q_OBJECT

    // "<back><next><finish>" as 1 (on) and 0 (off), with the page number in front.
    QString State() const {
        return QStringLiteral("%1:%2%3%4")
            .arg(int(FWiz->ActivePage()) + 1)
            .arg(FWiz->BtnBack->isEnabled() ? 1 : 0)
            .arg(FWiz->btnNext->isEnabled() ? 1 : 0)
            .arg(FWiz->btnFinish->isEnabled() ? 1 : 0);
    }

    void Next() { QTest::mouseClick(FWiz->btnNext, Qt::LeftButton); }
    void Back() { QTest::mouseClick(FWiz->BtnBack, Qt::LeftButton); }

    void FillMain() {
        FMain->eHost->setText(QStringLiteral("news.example.invalid"));
        FMain->eUserName->setText(QStringLiteral("pat"));
        FMain->ePassword->setText(QStringLiteral("secret"));
        FMain->eOrganization->setText(QStringLiteral("Example Club"));
        FMain->eName->setText(QStringLiteral("Pat Example"));
        FMain->eAddress->setText(QStringLiteral("pat@example.invalid"));
        FMain->eSubject->setText(QStringLiteral("Meeting"));
        FMain->eFollowupTo->setText(QStringLiteral("misc.test"));
        FMain->eReplyTo->setText(QStringLiteral("club@example.invalid"));
        FMain->dcMsgBody->SetLines({QStringLiteral("Hello"), QStringLiteral("all")});
        FMain->cbLogon->setChecked(true);
        FMain->cbSecurity->setCurrentIndex(2);
        FMain->trcvNewsgroups->Items().Assign({"alt.test", "comp.lang.c", "misc.test"});
        FMain->trcvToPost->Items().Assign({"misc.test"});
        // The wizard reads its all-groups list from the list file the main window was loaded
        // from.
        FMain->trcvNewsgroups->Items().SaveToFile(FDir.filePath(QStringLiteral("newsgrps.txt")));
    }

    QTemporaryDir FDir;
    MainWindowDouble* FMain = nullptr;
    TfrmFind* FFind = nullptr;
    TFrmWiz* FWiz = nullptr;
    TScriptedPrompts* FPrompts = nullptr;

private slots:
    void init() {
        QVERIFY(FDir.isValid());
        QFile::remove(FDir.filePath(QStringLiteral("newsgrps.txt")));
        QFile::remove(FDir.filePath(QStringLiteral("selgrps.txt")));
        FMain = new MainWindowDouble(FDir.path());
        FFind = new TfrmFind(FMain->Access(), FMain);
        FWiz = new TFrmWiz(FMain->Access(), FFind, FMain);
        FFind->SetWizardToPost(FWiz->trcvtoPost);
        FPrompts = TScriptedPrompts::InstallNew();
    }

    void cleanup() {
        TPrompts::Install(nullptr);
        delete FMain;
    }

    void pagesAndButtons() {
        FillMain();
        FWiz->show();
        QCOMPARE(State(), QStringLiteral("1:010"));
        Back(); // off: nothing happens
        QCOMPARE(State(), QStringLiteral("1:010"));
        Next();
        QCOMPARE(State(), QStringLiteral("2:110"));
        Next();
        QCOMPARE(State(), QStringLiteral("3:110"));
        QCOMPARE(FMain->GroupListFetches, 0);
        Next();
        QCOMPARE(State(), QStringLiteral("4:110"));
        Next();
        QCOMPARE(State(), QStringLiteral("5:101"));
        Next(); // off on the last page
        QCOMPARE(State(), QStringLiteral("5:101"));
        Back();
        QCOMPARE(State(), QStringLiteral("4:110"));
        Back();
        QCOMPARE(State(), QStringLiteral("3:110"));
        Back();
        QCOMPARE(State(), QStringLiteral("2:110"));
        Back();
        QCOMPARE(State(), QStringLiteral("1:010"));
        QVERIFY(FPrompts->Messages().isEmpty());
        // The page texts, as the user reads them.
        QVERIFY(FWiz->mIntro->text().startsWith(
            QStringLiteral("This wizard will lead you through the procedure to get started \n"
                           "posting to your favorites usenet newsgroups.")));
        QVERIFY(FWiz->mIntro->text().endsWith(QStringLiteral("\nresponsibility to use it "
                                                             "properly.")));
        QCOMPARE(FWiz->mIntro->text().count(QLatin1Char('\n')), 15);
        QVERIFY(FWiz->mGroups->text().endsWith(QStringLiteral("press next.\n\n\n")));
        QCOMPARE(FWiz->windowTitle(), QStringLiteral("Start Wizard"));
    }

    // A first-time user: no list anywhere, the server typed on page 2. The main window is asked
    // for the list with that server in its fields; Back and Next wait for the list.
    void groupsPageFetchesTheList() {
        QString hostAtFetch;
        bool logonAtFetch = false;
        FMain->OnGetGroupList = [&] {
            hostAtFetch = FMain->eHost->text();
            logonAtFetch = FMain->cbLogon->isChecked();
        };
        FWiz->show();
        Next();
        QTest::keyClicks(FWiz->eHost, QStringLiteral("news.example.invalid"));
        QTest::mouseClick(FWiz->cbLogon, Qt::LeftButton);
        Next();
        QCOMPARE(State(), QStringLiteral("3:000"));
        QCOMPARE(FMain->GroupListFetches, 1);
        QCOMPARE(hostAtFetch, QStringLiteral("news.example.invalid"));
        QVERIFY(logonAtFetch);

        FMain->trcvNewsgroups->Items().Assign({"misc.test", "alt.test"});
        FWiz->GroupListArrived();
        QCOMPARE(State(), QStringLiteral("3:110"));
        QCOMPARE(Entries(FWiz->trcvNewsgroups), (QStringList{"alt.test", "misc.test"}));

        // A list arriving while another page shows leaves that page's buttons alone.
        Back();
        Back();
        FWiz->GroupListArrived();
        QCOMPARE(State(), QStringLiteral("1:010"));
    }

    void identityPageNeedsAServer() {
        FWiz->show();
        FWiz->trcvNewsgroups->Items().Add("misc.test");
        Next();
        Next();
        Next();
        QCOMPARE(State(), QStringLiteral("4:110"));
        QCOMPARE(FPrompts->Messages(),
                 QStringList{"To proceed you should backup and enter your news server."});

        // With a server typed in the wizard it goes to the main window instead.
        FPrompts->Forget();
        Back();
        Back();
        FWiz->eHost->setText(QStringLiteral("news.example.invalid"));
        FWiz->eOrganization->setText(QStringLiteral("Club"));
        FWiz->eUserName->setText(QStringLiteral("pat"));
        FWiz->ePassword->setText(QStringLiteral("secret"));
        Next();
        Next();
        QVERIFY(FPrompts->Messages().isEmpty());
        QCOMPARE(FMain->eHost->text(), QStringLiteral("news.example.invalid"));
        QCOMPARE(FMain->eOrganization->text(), QStringLiteral("Club"));
        QCOMPARE(FMain->eUserName->text(), QStringLiteral("pat"));
        QCOMPARE(FMain->ePassword->text(), QStringLiteral("secret"));
    }

    // Showing copies the main window's values, reads the all-groups list file of the program's
    // directory (not of the working directory) and takes the main window's current to-post list.
    void showingCopiesFromTheMainWindow() {
        FillMain();
        QVERIFY(WriteTestFile(FDir.filePath(QStringLiteral("newsgrps.txt")),
                              "rec.arts.books\r\nalt.test\r\n"));
        QVERIFY(WriteTestFile(FDir.filePath(QStringLiteral("selgrps.txt")), "stale.group\r\n"));
        QTemporaryDir elsewhere;
        QVERIFY(WriteTestFile(elsewhere.filePath(QStringLiteral("newsgrps.txt")), "wrong.dir\r\n"));
        const QString oldCwd = QDir::currentPath();
        QVERIFY(QDir::setCurrent(elsewhere.path()));
        FWiz->show();
        QDir::setCurrent(oldCwd);

        QCOMPARE(FWiz->WizardDir(), FDir.path() + QLatin1Char('/'));
        QCOMPARE(FWiz->eHost->text(), FMain->eHost->text());
        QCOMPARE(FWiz->eUserName->text(), FMain->eUserName->text());
        QCOMPARE(FWiz->ePassword->text(), FMain->ePassword->text());
        QCOMPARE(FWiz->eOrganization->text(), FMain->eOrganization->text());
        QCOMPARE(FWiz->eName->text(), FMain->eName->text());
        QCOMPARE(FWiz->eEmailAddress->text(), FMain->eAddress->text());
        QCOMPARE(FWiz->eSubject->text(), FMain->eSubject->text());
        QCOMPARE(FWiz->dcMsgBody->Lines(), FMain->dcMsgBody->Lines());
        QVERIFY(FWiz->cbLogon->isChecked());
        QCOMPARE(FWiz->cbSecurity->currentIndex(), 2);
        QCOMPARE(Entries(FWiz->trcvNewsgroups), (QStringList{"alt.test", "rec.arts.books"}));
        QCOMPARE(Entries(FWiz->trcvtoPost), QStringList{"misc.test"});
        QCOMPARE(State(), QStringLiteral("1:010"));
        // The password is shown as typed.
        QCOMPARE(FWiz->ePassword->echoMode(), QLineEdit::Normal);
    }

    void cancelLeavesTheMainWindowAlone() {
        FillMain();
        const QStringList before = FMain->Fields();
        FWiz->show();
        for (QLineEdit* edit : {FWiz->eHost, FWiz->eUserName, FWiz->ePassword, FWiz->eOrganization,
                                FWiz->eName, FWiz->eEmailAddress, FWiz->eSubject})
            edit->setText(QStringLiteral("changed"));
        FWiz->dcMsgBody->SetLines({QStringLiteral("changed")});
        FWiz->cbLogon->setChecked(false);
        FWiz->trcvtoPost->Items().Add("alt.test");
        Next();
        Next();
        Next(); // the main window's list is not empty, so nothing is copied on page 4
        QTimer::singleShot(0, FWiz, [this] { QTest::mouseClick(FWiz->btnCancel, Qt::LeftButton); });
        QCOMPARE(FWiz->exec(), int(QDialog::Accepted));
        QVERIFY(!FWiz->isVisible());
        QCOMPARE(FMain->Fields(), before);
        QCOMPARE(FMain->Posts, 0);
        QCOMPARE(FMain->Refreshes, 1);
    }

    // Preview first shows the run Finish would start and copies nothing; Finish then copies.
    void finishCopiesEverythingThenPosts() {
        FillMain();
        const QStringList before = FMain->Fields();
        FWiz->show();
        FWiz->eHost->setText(QStringLiteral("news2.example.invalid"));
        FWiz->eUserName->setText(QStringLiteral("robin"));
        FWiz->ePassword->setText(QStringLiteral("hidden"));
        FWiz->eOrganization->setText(QStringLiteral("Other Club"));
        FWiz->cbLogon->setChecked(false);
        FWiz->cbSecurity->setCurrentIndex(0);
        FWiz->eName->setText(QStringLiteral("Robin Example"));
        FWiz->eEmailAddress->setText(QStringLiteral("robin@example.invalid"));
        FWiz->eSubject->setText(QStringLiteral("Agenda"));
        FWiz->eFollowupTo->setText(QStringLiteral("alt.test"));
        FWiz->dcMsgBody->SetLines({QStringLiteral("One"), QString(), QStringLiteral("Two")});
        FWiz->trcvtoPost->Items().Assign({"alt.test", "comp.lang.c"});
        for (int page = 0; page < 4; ++page)
            Next();
        QCOMPARE(State(), QStringLiteral("5:101"));
        QTest::mouseClick(FWiz->btnPreview, Qt::LeftButton);
        QCOMPARE(FMain->Fields(), before);
        QCOMPARE(FMain->Previews.size(), size_t(1));
        const TNewsRequest& run = FMain->Previews[0];
        const TArticleRequest& article = run.Article;
        QCOMPARE(run.Groups, (std::vector<std::string>{"alt.test", "comp.lang.c"}));
        QCOMPARE((std::vector<std::string>{article.PostingHost, article.Organization, article.Name,
                                           article.Address, article.Subject, article.Newsreader}),
                 (std::vector<std::string>{"news2.example.invalid", "Other Club", "Robin Example",
                                           "robin@example.invalid", "Agenda", "Double/1.0"}));
        QCOMPARE(article.BodyLines, (std::vector<std::string>{"One", "", "Two"}));

        QStringList atPost;
        bool wizardHidden = false;
        FMain->OnPost = [&] {
            atPost = FMain->Fields();
            wizardHidden = !FWiz->isVisible();
        };
        QTest::mouseClick(FWiz->btnFinish, Qt::LeftButton);
        QCOMPARE(FMain->Posts, 1);
        QCOMPARE(FMain->cbSecurity->currentIndex(), 0);
        QVERIFY(wizardHidden);
        QCOMPARE(FWiz->result(), int(QDialog::Accepted));
        QCOMPARE(atPost, (QStringList{"news2.example.invalid", "robin", "hidden", "Other Club",
                                      "Robin Example", "robin@example.invalid", "Agenda",
                                      "alt.test", "club@example.invalid", "One||Two", "no logon",
                                      "alt.test\r\ncomp.lang.c\r\n",
                                      "alt.test\r\ncomp.lang.c\r\nmisc.test\r\n"}));
        QCOMPARE(FMain->GroupListFetches, 0);
        QVERIFY(FMain->Refreshes >= 1);
    }

    // The find window opened from the groups page; coming back shows page 1 with the groups
    // sent there in the wizard's to-post list (and in the main window's).
    void findGroupsFromTheGroupsPage() {
        FillMain();
        QVERIFY(WriteTestFile(FDir.filePath(QStringLiteral("selgrps.txt")), "stale.group\r\n"));
        FWiz->show();
        Next();
        Next();
        QCOMPARE(State(), QStringLiteral("3:110"));
        bool wasModal = false;
        QTimer::singleShot(0, FFind, [&] {
            wasModal = FFind->isModal() && FFind->isVisible();
            QTest::keyClicks(FFind->eFindText, QStringLiteral("test"));
            QTest::mouseClick(FFind->sbFind, Qt::LeftButton);
            QTest::mouseClick(FFind->sbSelectAll, Qt::LeftButton);
            QTest::mouseClick(FFind->sbSendtoPost, Qt::LeftButton);
            QTest::mouseClick(FFind->sbClose, Qt::LeftButton);
        });
        QTest::mouseClick(FWiz->sbFindGroups, Qt::LeftButton);
        QVERIFY(wasModal);
        QCOMPARE(State(), QStringLiteral("1:010"));
        QCOMPARE(Entries(FWiz->trcvtoPost), (QStringList{"alt.test", "misc.test"}));
        QCOMPARE(Entries(FMain->trcvToPost), (QStringList{"alt.test", "misc.test"}));
    }

    void choosingGroupsOnTheGroupsPage() {
        FWiz->show();
        FWiz->trcvNewsgroups->Items().Assign({"alt.test", "comp.lang.c", "misc.test"});
        Next();
        Next();
        FWiz->pcGroups->setCurrentIndex(0);
        trcvListbox* const all = FWiz->trcvNewsgroups;

        // Double-clicking with no current row adds nothing; on a row adds that row.
        QTest::mouseDClick(all->viewport(), Qt::LeftButton, {}, QPoint(5, all->height() - 5));
        QCOMPARE(FWiz->trcvtoPost->Count(), 0);
        const QRect first = all->visualRect(all->model()->index(0, 0));
        QTest::mouseDClick(all->viewport(), Qt::LeftButton, {}, first.center());
        QCOMPARE(Entries(FWiz->trcvtoPost), QStringList{"alt.test"});

        // Several rows can be marked and sent with Select Groups.
        const QRect second = all->visualRect(all->model()->index(1, 0));
        const QRect third = all->visualRect(all->model()->index(2, 0));
        QTest::mouseClick(all->viewport(), Qt::LeftButton, {}, second.center());
        QTest::mouseClick(all->viewport(), Qt::LeftButton, Qt::ControlModifier, third.center());
        QTest::mouseClick(FWiz->sbSelectGroups, Qt::LeftButton);
        QCOMPARE(Entries(FWiz->trcvtoPost), (QStringList{"alt.test", "comp.lang.c", "misc.test"}));
        QCOMPARE(FMain->Refreshes, 1);
        QCOMPARE(FMain->trcvToPost->Count(), 0);
    }

    void attachShowsTheFileAndKeepsTheBody() {
        FWiz->show();
        FMain->OnAttach = [this] {
            QPixmap icon(32, 32);
            icon.fill(Qt::red);
            FMain->Image1->setPixmap(icon);
            FMain->Image1->setToolTip(QStringLiteral("notes.txt"));
            FMain->Label10->setText(QStringLiteral("notes.txt"));
            FMain->Label10->setToolTip(QStringLiteral("notes.txt"));
        };
        FWiz->dcMsgBody->SetLines({QStringLiteral("typed in the wizard")});
        FWiz->trcvNewsgroups->Items().Add("misc.test");
        for (int page = 0; page < 3; ++page)
            Next();
        QCOMPARE(int(FWiz->ActivePage()), int(TWizardPage::wpIdentity));
        QTest::mouseClick(FWiz->btnAttach, Qt::LeftButton);
        QCOMPARE(FMain->Attaches, 1);
        QCOMPARE(FWiz->Label10->text(), QStringLiteral("notes.txt"));
        QCOMPARE(FWiz->Label10->toolTip(), QStringLiteral("notes.txt"));
        QCOMPARE(FWiz->Image1->toolTip(), QStringLiteral("notes.txt"));
        QVERIFY(!FWiz->Image1->pixmap().isNull());
        QCOMPARE(FWiz->dcMsgBody->Lines(), QStringList{"typed in the wizard"});
    }

    void droppedFileBecomesTheBody() {
        FWiz->show();
        const QString path = FDir.filePath(QStringLiteral("message.txt"));
        QVERIFY(WriteTestFile(path, "Dear all,\r\nsee you there.\r\n"));
        QMimeData data;
        data.setUrls({QUrl::fromLocalFile(path),
                      QUrl::fromLocalFile(FDir.filePath(QStringLiteral("other.txt")))});
        const QPoint at = FWiz->rect().center();
        QDragEnterEvent enter(at, Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
        QCoreApplication::sendEvent(FWiz, &enter);
        QVERIFY(enter.isAccepted());
        QDropEvent drop(at, Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
        QCoreApplication::sendEvent(FWiz, &drop);
        QVERIFY(drop.isAccepted());
        QCOMPARE(FWiz->dcMsgBody->Lines(), (QStringList{"Dear all,", "see you there."}));
        // Nothing is attached by a drop.
        QCOMPARE(FMain->Attaches, 0);
        QVERIFY(FMain->Label10->text().isEmpty());
    }

    // While the main window runs an operation the wizard starts none: Finish is off and the
    // groups page fetches nothing (Back stays on so the user can come back for it); Finish
    // comes back when the operation ends.
    void nothingStartsWhileTheMainWindowIsBusy() {
        FMain->IsBusy = true;
        FWiz->show();
        Next();
        QTest::keyClicks(FWiz->eHost, QStringLiteral("news.example.invalid"));
        Next();
        QCOMPARE(State(), QStringLiteral("3:100"));
        QCOMPARE(FMain->GroupListFetches, 0);

        FMain->trcvNewsgroups->Items().Assign({"misc.test"});
        FWiz->GroupListArrived();
        for (int page = 0; page < 2; ++page)
            Next();
        QCOMPARE(State(), QStringLiteral("5:100"));
        FWiz->btnFinishClick();
        QCOMPARE(FMain->Posts, 0);
        FMain->IsBusy = false;
        FWiz->BusyChanged(false);
        QCOMPARE(State(), QStringLiteral("5:101"));
        QTest::mouseClick(FWiz->btnFinish, Qt::LeftButton);
        QCOMPARE(FMain->Posts, 1);
    }
};

QTEST_MAIN(tst_TFrmWiz)
#include "tst_TFrmWiz.moc"
