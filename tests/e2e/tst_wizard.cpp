// A first-time user goes through the start wizard against the real news server: no list files,
// the server typed on page 2, the group list fetched on page 3, groups chosen through the find
// window and by double-click, identity on page 4, body on page 5; Finish posts to every chosen
// group and the articles are read back from the server.

#include "E2eWindow.h"
#include "support/NewsServer.h"
#include "support/ReportedErrors.h"

#include "selection/TFrmWiz.h"
#include "selection/TfrmFind.h"
#include "support/ListEntries.h"

#include <QFileInfo>
#include <QRandomGenerator>
#include <QTest>
#include <QTimer>

static constexpr int NetTimeout = 60000;
// The groups every server of the tool carries.
static constexpr int ServerGroups = 13;

class tst_wizard : public QObject {
    Q_OBJECT

    std::unique_ptr<NewsServer> FServer;
    ReportedErrors FErrors;

private slots:
    void initTestCase() {
        FServer = std::make_unique<NewsServer>();
        QVERIFY2(FServer->Start({}), FServer->Output().constData());
    }
    void cleanupTestCase() {
        QVERIFY(FServer->Stop());
        FServer.reset();
    }
    void init() { FErrors.Collect(); }
    void cleanup() {
        FErrors.Release();
        QCOMPARE(FErrors.Texts(), std::vector<std::string>());
    }

    void firstTimeUserPostsThroughTheWizard() {
        E2eWindow e2e{QString()};
        TfrmMain& main = *e2e.Window;
        main.eAddress->clear();
        main.eSubject->clear();
        QVERIFY(!QFileInfo::exists(e2e.Dir() + "/newsgrps.txt"));
        QCOMPARE(main.trcvNewsgroups->Count(), 0);

        // Wired as the program's start-up wires them.
        auto* const find = new TfrmFind(MainWindowAccessOf(main), &main);
        main.SetFindWindow(find);
        auto* const wizard = new TFrmWiz(MainWindowAccessOf(main), find, &main);
        find->SetWizardToPost(wizard->trcvtoPost);
        main.SetStartWizard(wizard);
        connect(&main, &TfrmMain::GroupListArrived, wizard, &TFrmWiz::GroupListArrived);
        main.show();

        const QString subject =
            QStringLiteral("wizard %1").arg(QRandomGenerator::global()->generate64(), 0, 16);
        const QStringList body{"Hello from the wizard,", "", "two lines."};
        bool walked = false;
        QTimer::singleShot(0, wizard, [&] {
            // Whatever fails below, the wizard is closed so that Start Here returns.
            struct Closer {
                TFrmWiz* w;
                ~Closer() {
                    if (w->isVisible())
                        w->btnCancelClick();
                }
            } closer{wizard};
            QVERIFY(wizard->isModal());
            QTest::mouseClick(wizard->btnNext, Qt::LeftButton);
            QTest::keyClicks(wizard->eHost, FServer->Host());
            QTest::keyClicks(wizard->eOrganization, QStringLiteral("Example Club"));
            QTest::mouseClick(wizard->btnNext, Qt::LeftButton);

            // Page 3 fetches the list from the server just typed.
            QCOMPARE(int(wizard->ActivePage()), int(TWizardPage::wpGroups));
            QVERIFY(!wizard->btnNext->isEnabled());
            QTRY_VERIFY_WITH_TIMEOUT(wizard->btnNext->isEnabled(), NetTimeout);
            QVERIFY(wizard->BtnBack->isEnabled());
            QCOMPARE(wizard->trcvNewsgroups->Count(), ServerGroups);
            QCOMPARE(main.trcvNewsgroups->Count(), ServerGroups);

            // Groups through the find window, which the wizard shows modally.
            QTimer::singleShot(0, find, [&] {
                QTest::keyClicks(find->eFindText, QStringLiteral("comp.lang"));
                QTest::mouseClick(find->sbFind, Qt::LeftButton);
                QTest::mouseClick(find->sbSelectAll, Qt::LeftButton);
                QTest::mouseClick(find->sbSendtoPost, Qt::LeftButton);
                QTest::mouseClick(find->sbClose, Qt::LeftButton);
            });
            QTest::mouseClick(wizard->sbFindGroups, Qt::LeftButton);
            QCOMPARE(int(wizard->ActivePage()), int(TWizardPage::wpIntro));
            QCOMPARE(Entries(wizard->trcvtoPost), (QStringList{"comp.lang.c", "comp.lang.c++"}));

            // Back to the groups page (the list is there now) and one more by double-click.
            QTest::mouseClick(wizard->btnNext, Qt::LeftButton);
            QCOMPARE(wizard->eHost->text(), FServer->Host());
            QTest::mouseClick(wizard->btnNext, Qt::LeftButton);
            QVERIFY(wizard->btnNext->isEnabled());
            trcvListbox* const all = wizard->trcvNewsgroups;
            const int row = all->Items().IndexOf("alt.test");
            QVERIFY(row >= 0);
            QTest::mouseDClick(all->viewport(), Qt::LeftButton, {},
                               all->visualRect(all->model()->index(row, 0)).center());
            QCOMPARE(Entries(wizard->trcvtoPost),
                     (QStringList{"alt.test", "comp.lang.c", "comp.lang.c++"}));

            QTest::mouseClick(wizard->btnNext, Qt::LeftButton);
            QTest::keyClicks(wizard->eName, QStringLiteral("Pat Example"));
            QTest::keyClicks(wizard->eEmailAddress, QStringLiteral("pat@example.com"));
            QTest::keyClicks(wizard->eSubject, subject);
            QTest::mouseClick(wizard->btnNext, Qt::LeftButton);
            QCOMPARE(int(wizard->ActivePage()), int(TWizardPage::wpBody));
            wizard->dcMsgBody->SetLines(body);
            QTest::mouseClick(wizard->btnFinish, Qt::LeftButton);
            walked = true;
        });
        QTest::mouseClick(main.sbStartHere, Qt::LeftButton);
        QVERIFY(walked);
        QVERIFY(!wizard->isVisible());

        // The main window holds the wizard's values and runs the posting.
        QCOMPARE(main.eHost->text(), FServer->Host());
        QCOMPARE(main.eOrganization->text(), QStringLiteral("Example Club"));
        QCOMPARE(main.eAddress->text(), QStringLiteral("pat@example.com"));
        QCOMPARE(main.eSubject->text(), subject);
        QCOMPARE(main.dcMsgBody->Lines(), body);
        QCOMPARE(Entries(main.trcvToPost),
                 (QStringList{"alt.test", "comp.lang.c", "comp.lang.c++"}));
        QTRY_COMPARE_WITH_TIMEOUT(e2e.MessageCount(QStringLiteral("Finished Posting")), 1,
                                  NetTimeout);
        QVERIFY2(e2e.Log().contains("Finished Posting: 3 accepted, 0 refused"),
                 qPrintable(e2e.Log()));

        for (const QString group : {"alt.test", "comp.lang.c", "comp.lang.c++"}) {
            const QJsonArray found = FServer->ArticlesWithSubject(group, subject);
            QCOMPARE(found.size(), 1);
            const QJsonObject article = found[0].toObject();
            const QJsonObject headers = article.value("headers").toObject();
            QCOMPARE(headers.value("Newsgroups").toString(), group);
            // The name and organization from the identity page go out with the article.
            QCOMPARE(headers.value("From").toString(),
                     QStringLiteral("Pat Example <pat@example.com>"));
            QCOMPARE(headers.value("Organization").toString(), QStringLiteral("Example Club"));
            const QJsonArray parts =
                ReadArticleParts(article.value("raw").toString()).value("parts").toArray();
            QCOMPARE(parts.size(), 1);
            QCOMPARE(parts[0].toObject().value("text").toString(), body.join("\r\n") + "\r\n");
        }
        main.close();
    }
};

QTEST_MAIN(tst_wizard)
#include "tst_wizard.moc"
