#include "MainWindowFixture.h"
#include "app/TProgramDir.h"
#include "app/TfrmHistory.h"
#include "app/TfrmMain.h"
#include "app/TfrmRunReport.h"
#include "selection/EFileError.h"
#include "selection/TBodyEditor.h"
#include "selection/TScriptedPrompts.h"
#include "selection/TfrmPreview.h"
#include "selection/trcvListbox.h"
#include "support/ListEntries.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenuBar>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QSignalSpy>
#include <QPushButton>
#include <QSpinBox>
#include <QTabWidget>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

class tst_TfrmMain : public QObject, private MainWindowFixture {
    Q_OBJECT

    // Three runs of one subject, oldest first: a post with a refusal, the cancel of it, and a
    // post that replaced the first one's article.
    static std::vector<THistoryRun> HistoryRuns() {
        using O = THistoryOutcome;
        const THistoryRun post{"a1",
                               1000,
                               THistoryKind::hkPost,
                               "news.example",
                               {},
                               false,
                               "",
                               "p@example.com",
                               "FAQ",
                               "",
                               {{"alt.test", O::hoAccepted, "240 ok", "<a1@x>", ""},
                                {"mod.test", O::hoRefused, "441 no", "<a2@x>", ""}}};
        THistoryRun cancel = post;
        cancel.RunID = "b2";
        cancel.Time = 2000;
        cancel.Kind = THistoryKind::hkCancel;
        cancel.Target = "a1";
        cancel.Groups = {{"alt.test", O::hoCancelled, "240 cancel", "<a1@x>", ""},
                         {"misc.test", O::hoKept, "240 kept", "<a3@x>", ""}};
        THistoryRun replacing = post;
        replacing.RunID = "c3";
        replacing.Time = 3000;
        replacing.Groups = {{"alt.test", O::hoAccepted, "240 ok", "<c1@x>", "<a1@x>"},
                            {"misc.test", O::hoMissing, "240 ok", "<c2@x>", ""}};
        return {post, cancel, replacing};
    }
    void WriteHistory() const {
        for (const THistoryRun& run : HistoryRuns())
            TPostingHistory(Path(TPostingHistory::FileName).toStdString()).Append(run);
    }

    static void Trigger(TfrmMain& window, const char* action) {
        QAction* const found = window.findChild<QAction*>(QString::fromLatin1(action));
        QVERIFY2(found, action);
        found->trigger();
    }

private slots:
    void init() { BeginTest(); }
    void cleanup() { EndTest(); }

    void firstStart() {
        TfrmMain window(FDir->path());
        QCOMPARE(window.ProgramDir(), FDir->path() + "/");
        QCOMPARE(window.DialogDir(), window.ProgramDir());
        QCOMPARE(window.trcvNewsgroups->Count(), 0);
        QCOMPARE(window.trcvToPost->Count(), 0);
        QCOMPARE(window.StatusPanelText(0), QStringLiteral("Newsgroups: 0"));
        QCOMPARE(window.StatusPanelText(1), QString());
        QCOMPARE(window.StatusPanelText(2), QStringLiteral("Selected Newsgroups: 0"));
        QCOMPARE(window.ActivePage(), TMainPage::pgMessage);
        QCOMPARE(window.eNewsreader->text(), TfrmMain::DefaultNewsreader());
        QCOMPARE(window.seTimeout->value(), 60);
        QVERIFY(!window.cbLogon->isChecked());
        QVERIFY(window.AttachmentPath().isEmpty());
        QCOMPARE(window.PendingOperation(), TPendingOperation::ListGroups);
        QCOMPARE(window.windowTitle(), QStringLiteral("Heraldix"));
        QCOMPARE(window.PageControl1->count(), 5);
        QVERIFY(!window.PageControl1->isTabVisible(int(TMainPage::pgStatus)));
        QCOMPARE(FPrompts->Messages(), QStringList());
    }

    void listFilesLoadedAtStartAndWrittenOnClose() {
        Write("newsgrps.txt", "misc.test\r\nalt.test\r\nALT.TEST\r\ncomp.os\n");
        Write("selgrps.txt", "misc.test\r\n");
        {
            TfrmMain window(FDir->path());
            QCOMPARE(Entries(window.trcvNewsgroups),
                     (QStringList{"alt.test", "comp.os", "misc.test"}));
            QCOMPARE(Entries(window.trcvToPost), QStringList{"misc.test"});
            QCOMPARE(window.StatusPanelText(0), QStringLiteral("Newsgroups: 3"));
            QCOMPARE(window.StatusPanelText(2), QStringLiteral("Selected Newsgroups: 1"));
            window.trcvNewsgroups->Items().Add("Comp.Lang.C");
            window.trcvToPost->Items().Clear();
            window.show();
            QVERIFY(window.close());
        }
        QCOMPARE(Read("newsgrps.txt"),
                 QByteArray("alt.test\r\nComp.Lang.C\r\ncomp.os\r\nmisc.test\r\n"));
        QCOMPARE(Read("selgrps.txt"), QByteArray(""));
        QCOMPARE(FPrompts->Messages(), QStringList());
    }

    // A list file that cannot be read is reported and left alone when the window closes.
    void unreadableListFileIsReportedAndKept() {
        QVERIFY(QDir(FDir->path()).mkdir("newsgrps.txt"));
        Write("selgrps.txt", "alt.test\r\n");
        {
            TfrmMain window(FDir->path());
            QCOMPARE(FPrompts->Messages().size(), 1);
            QVERIFY(FPrompts->Messages()[0].contains("newsgrps.txt"));
            QCOMPARE(window.trcvNewsgroups->Count(), 0);
            QCOMPARE(window.trcvToPost->Count(), 1);
            window.FormClose();
        }
        QVERIFY(QFileInfo(Path("newsgrps.txt")).isDir());
        QCOMPARE(Read("selgrps.txt"), QByteArray("alt.test\r\n"));
    }

    void closeRaisesWhenAListCannotBeWritten() {
        TfrmMain window(FDir->path());
        window.trcvToPost->Items().Add("alt.test");
        QVERIFY(QDir(FDir->path()).mkdir("newsgrps.txt"));
        QVERIFY_THROWS_EXCEPTION(EFileError, window.FormClose());
        // The other file is written all the same.
        QCOMPARE(Read("selgrps.txt"), QByteArray("alt.test\r\n"));
    }

    void selectGroupsAddsMarkedEntries() {
        TfrmMain window(FDir->path());
        window.trcvNewsgroups->Items().Assign({"alt.test", "comp.lang.c", "misc.test", "rec.arts"});
        window.trcvToPost->Items().Add("COMP.LANG.C");

        window.SelectGroups1Click();
        QCOMPARE(Entries(window.trcvToPost), QStringList{"COMP.LANG.C"});

        window.trcvNewsgroups->SetSelection(1, true);
        window.trcvNewsgroups->SetSelection(3, true);
        window.SelectGroups1Click();
        QCOMPARE(Entries(window.trcvToPost), (QStringList{"COMP.LANG.C", "rec.arts"}));
        QVERIFY(window.trcvNewsgroups->IsSelected(1));
        QVERIFY(window.trcvNewsgroups->IsSelected(3));
        QCOMPARE(window.StatusPanelText(2), QStringLiteral("Selected Newsgroups: 2"));

        Trigger(window, "SelectGroups1");
        QCOMPARE(window.trcvToPost->Count(), 2);
    }

    void doubleClickAddsTheCurrentEntry() {
        TfrmMain window(FDir->path());
        window.trcvNewsgroupsDblClick();
        QCOMPARE(window.trcvToPost->Count(), 0);

        window.trcvNewsgroups->Items().Assign({"alt.test", "misc.test"});
        window.trcvNewsgroups->SetItemIndex(1);
        emit window.trcvNewsgroups->DoubleClicked();
        QCOMPARE(Entries(window.trcvToPost), QStringList{"misc.test"});
        QCOMPARE(window.StatusPanelText(2), QStringLiteral("Selected Newsgroups: 1"));
    }

    void clearWindowAsksOnEachPage_data() {
        QTest::addColumn<int>("page");
        QTest::addColumn<bool>("answer");
        QTest::addColumn<QString>("question");
        const QString groups = "Are you sure you want to clear the newsgroups?";
        const QString selected = "Are you sure you want to clear the selected newsgroups";
        const QString message = "Are you sure you want to clear the message";
        const QString options = "Are you sure you want to clear your preferences?";
        QTest::newRow("Newsgroups, Yes") << int(TMainPage::pgNewsgroups) << true << groups;
        QTest::newRow("Newsgroups, No") << int(TMainPage::pgNewsgroups) << false << groups;
        QTest::newRow("to Post, Yes") << int(TMainPage::pgToPost) << true << selected;
        QTest::newRow("to Post, No") << int(TMainPage::pgToPost) << false << selected;
        QTest::newRow("Message, Yes") << int(TMainPage::pgMessage) << true << message;
        QTest::newRow("Message, No") << int(TMainPage::pgMessage) << false << message;
        QTest::newRow("Options, Yes") << int(TMainPage::pgOptions) << true << options;
        QTest::newRow("Options, No") << int(TMainPage::pgOptions) << false << options;
        QTest::newRow("Status") << int(TMainPage::pgStatus) << true << QString();
    }
    void clearWindowAsksOnEachPage() {
        QFETCH(int, page);
        QFETCH(bool, answer);
        QFETCH(QString, question);
        Write("notes.txt", "notes\n");
        TfrmMain window(FDir->path());
        window.trcvNewsgroups->Items().Assign({"alt.test", "misc.test"});
        window.trcvToPost->Items().Assign({"misc.test"});
        for (QLineEdit* edit :
             {window.eName, window.eAddress, window.eSubject, window.eHost, window.eOrganization,
              window.eUserName, window.ePassword, window.eProxy})
            edit->setText(edit->objectName() + "-value");
        window.seTimeout->setValue(90);
        window.cbLogon->setChecked(true);
        window.dcMsgBody->SetLines({"line one", "line two"});
        FPrompts->QueueFileName(Path("notes.txt"));
        window.btnAttachClick();
        window.mDisplay->appendPlainText("200 ready");

        window.ShowPage(static_cast<TMainPage>(page));
        FPrompts->QueueAnswer(answer);
        window.sbClearClick();

        QCOMPARE(FPrompts->Questions(), question.isEmpty() ? QStringList() : QStringList{question});
        const bool yes = answer && !question.isEmpty();
        const auto cleared = [&](TMainPage which) { return yes && page == int(which); };
        QCOMPARE(window.trcvNewsgroups->Count(), cleared(TMainPage::pgNewsgroups) ? 0 : 2);
        QCOMPARE(window.trcvToPost->Count(), cleared(TMainPage::pgToPost) ? 0 : 1);
        QCOMPARE(window.StatusPanelText(0),
                 QStringLiteral("Newsgroups: %1").arg(window.trcvNewsgroups->Count()));

        const bool message = cleared(TMainPage::pgMessage);
        QCOMPARE(window.dcMsgBody->Lines(),
                 message ? QStringList() : (QStringList{"line one", "line two"}));
        QCOMPARE(window.AttachmentPath(), message ? QString() : Path("notes.txt"));
        QCOMPARE(window.Label10->text(), message ? QString() : QStringLiteral("notes.txt"));
        QCOMPARE(window.Label10->toolTip(), window.Label10->text());
        QCOMPARE(window.Image1->toolTip(), window.Label10->text());
        QCOMPARE(window.Image1->pixmap().isNull(), message);

        const bool options = cleared(TMainPage::pgOptions);
        for (QLineEdit* edit : {window.eHost, window.eOrganization, window.eUserName,
                                window.ePassword, window.eProxy})
            QCOMPARE(edit->text(), options ? QString() : edit->objectName() + "-value");
        QCOMPARE(window.eNewsreader->text(), options ? QString() : TfrmMain::DefaultNewsreader());
        QCOMPARE(window.seTimeout->value(), 90);
        QVERIFY(window.cbLogon->isChecked());
        for (QLineEdit* edit : {window.eName, window.eAddress, window.eSubject})
            QCOMPARE(edit->text(), edit->objectName() + "-value");
        QCOMPARE(window.mDisplay->toPlainText(), QStringLiteral("200 ready"));
    }

    void attachFile() {
        Write("first.zip", "PK");
        Write("second.txt", "text");
        TfrmMain window(FDir->path());
        window.btnAttachClick();
        QCOMPARE(FPrompts->FileDialogs(), QStringList{window.DialogDir()});
        QVERIFY(window.AttachmentPath().isEmpty());
        QVERIFY(window.Image1->pixmap().isNull());

        FPrompts->QueueFileName(Path("first.zip"));
        window.btnAttachClick();
        QCOMPARE(window.AttachmentPath(), Path("first.zip"));
        QCOMPARE(window.Label10->text(), QStringLiteral("first.zip"));
        QVERIFY(!window.Image1->pixmap().isNull());
        QCOMPARE(window.Image1->pixmap().size(), QSize(32, 32));

        FPrompts->QueueFileName(Path("second.txt"));
        window.btnAttachClick();
        QCOMPARE(window.AttachmentPath(), Path("second.txt"));
        QCOMPARE(window.Label10->toolTip(), QStringLiteral("second.txt"));
        // Cancelling keeps the file chosen before.
        window.btnAttachClick();
        QCOMPARE(window.AttachmentPath(), Path("second.txt"));
    }

    void loadMessage() {
        Write("message.txt", "Dear all,\r\n\r\nsee you\rthere\n");
        TfrmMain window(FDir->path());
        window.dcMsgBody->SetLines({"old"});
        window.btnLoadMessageClick();
        QCOMPARE(window.dcMsgBody->Lines(), QStringList{"old"});

        FPrompts->QueueFileName(Path("message.txt"));
        window.btnLoadMessageClick();
        QCOMPARE(window.dcMsgBody->Lines(), (QStringList{"Dear all,", "", "see you", "there"}));
        QCOMPARE(FPrompts->FileDialogs(), (QStringList{window.DialogDir(), window.DialogDir()}));

        FPrompts->QueueFileName(Path("gone.txt"));
        QVERIFY_THROWS_EXCEPTION(EFileError, window.btnLoadMessageClick());
        QCOMPARE(window.dcMsgBody->Lines().size(), 4);
    }

    void menusShowPages() {
        TfrmMain window(FDir->path());
        QStringList menus;
        for (QAction* menu : window.menuBar()->actions())
            menus << menu->text();
        QCOMPARE(menus, (QStringList{"&Files", "&View", "&Groups", "&Help"}));
        Trigger(window, "Status1");
        QCOMPARE(window.ActivePage(), TMainPage::pgStatus);
        QVERIFY(window.mDisplay->isVisibleTo(&window));
        Trigger(window, "Newsgroups1");
        QCOMPARE(window.ActivePage(), TMainPage::pgNewsgroups);
        Trigger(window, "SelectedGroups1");
        QCOMPARE(window.ActivePage(), TMainPage::pgToPost);
        Trigger(window, "Options1");
        QCOMPARE(window.ActivePage(), TMainPage::pgOptions);
        Trigger(window, "Message1");
        QCOMPARE(window.ActivePage(), TMainPage::pgMessage);
        Trigger(window, "Options2");
        QCOMPARE(window.ActivePage(), TMainPage::pgOptions);
    }

    void postAbortAndGroupListFlags() {
        TfrmMain window(FDir->path());
        window.spdPostClick();
        // Everything the checks find is in one box.
        QCOMPARE(FPrompts->Messages(),
                 QStringList{"You haven't entered a subject\nYou haven't entered an email address\n"
                             "You haven't selected any groups to post to\n"
                             "The message body is empty"});
        window.spbAbortClick();
        QVERIFY(window.Aborted());
        window.SetPendingOperation(TPendingOperation::PostArticles);
        window.SetHideByteCount(true);
        Trigger(window, "Getgrouplist1");
        QVERIFY(!window.Aborted());
        QVERIFY(!window.HideByteCount());
        QCOMPARE(window.PendingOperation(), TPendingOperation::ListGroups);
    }

    // Lines reach the log gathered, in one update, and read as they would one by one.
    void logTakesHeldLinesAtOnce_data() {
        QTest::addColumn<QStringList>("lines");
        QTest::newRow("in order") << QStringList{"200 ready", "POST", "340 go", "240 ok"};
        QTest::newRow("empty lines between") << QStringList{"a", "", "b", ""};
        QTest::newRow("empty lines first") << QStringList{"", "", "a", ""};
        QTest::newRow("a line of blocks") << QStringList{"a\nb", "c"};
        QTest::newRow("blocks after empty lines") << QStringList{"", "\na"};
    }
    void logTakesHeldLinesAtOnce() {
        QFETCH(QStringList, lines);
        TfrmMain window(FDir->path());
        QPlainTextEdit oneByOne;
        QSignalSpy updates(window.mDisplay, &QPlainTextEdit::textChanged);
        for (const QString& line : lines) {
            window.AppendToLog(line);
            oneByOne.appendPlainText(line);
        }
        QCOMPARE(updates.count(), 0);
        QCOMPARE(window.LogText(), oneByOne.toPlainText());
        QCOMPARE(updates.count(), 1);
        // A user who turns to the log sees every line at once.
        window.AppendToLog(QStringLiteral("last"));
        window.ShowPage(TMainPage::pgStatus);
        QVERIFY(window.mDisplay->toPlainText().endsWith(QLatin1String("\nlast")));
    }

    // Files > Posting History lists the runs newest first; opening one shows its groups in the
    // report window, which cannot post a history run again.
    void historyRunsOpenInTheReport_data() {
        QTest::addColumn<int>("row");
        QTest::addColumn<QString>("report");
        QTest::newRow("replacing post") << 0
                                        << "alt.test\taccepted\t240 ok\t<c1@x>\t<a1@x>\n"
                                           "misc.test\taccepted, then missing\t240 ok\t<c2@x>\t\n";
        QTest::newRow("cancel") << 1
                                << "alt.test\tcancelled\t240 cancel\t<a1@x>\n"
                                   "misc.test\tnot withdrawn: the server withdraws only articles "
                                   "that carry a Cancel-Lock\t240 kept\t<a3@x>\n";
        QTest::newRow("post with a refusal")
            << 2 << "alt.test\taccepted\t240 ok\t<a1@x>\nmod.test\trefused\t441 no\t\n";
    }
    void historyRunsOpenInTheReport() {
        QFETCH(int, row);
        QFETCH(QString, report);
        WriteHistory();
        TfrmMain window(FDir->path());
        Trigger(window, "Postinghistory1");
        TfrmHistory* const history = window.HistoryWindow();
        QVERIFY(history && history->isVisible());
        QCOMPARE(history->Rows().size(), size_t(3));
        const std::vector<QStringList> runs{{"post", "news.example", "FAQ", "2", "0"},
                                            {"cancel", "news.example", "FAQ", "2", "0"},
                                            {"post", "news.example", "FAQ", "1", "1"}};
        for (size_t i = 0; i < runs.size(); ++i)
            QCOMPARE(history->Rows()[i].mid(1), runs[i]);
        history->tblRuns->setCurrentCell(row, 2);
        QTest::mouseClick(history->btnOpen, Qt::LeftButton);
        TfrmRunReport* const shown = window.RunReport();
        QVERIFY(shown && shown->isVisible());
        QCOMPARE(shown->Text(), report);
        QCOMPARE(shown->Run(), HistoryRuns()[size_t(2 - row)]);
        QVERIFY(!shown->btnPostAgain->isEnabled());
    }

    // A run that replaced earlier articles names, per group, the article it replaced.
    void finishedRunReportNamesWhatItReplaced() {
        const THistoryRun replacing = HistoryRuns()[2];
        std::vector<TGroupOutcome> outcomes;
        for (const THistoryGroup& group : replacing.Groups)
            outcomes.push_back({group.Group, 240, group.Reply, group.MessageID, true, true});
        TfrmRunReport report;
        report.SetRun(replacing);
        report.ShowRun(outcomes, false);
        QCOMPARE(report.Text(), QStringLiteral("alt.test\taccepted\t240 ok\t<c1@x>\t<a1@x>\n"
                                               "misc.test\taccepted\t240 ok\t<c2@x>\t\n"));
    }

    // The chooser offers the posting runs alone and gives back the one chosen; with none to
    // offer it says so instead.
    void chooserGivesAPostingRun() {
        QVERIFY(!TfrmHistory::ChooseRun(nullptr, Path("none.jsonl").toStdString()));
        QCOMPARE(FPrompts->Messages(), QStringList{"The posting history holds no run yet"});
        WriteHistory();
        size_t offered = 0;
        QTimer::singleShot(0, [&offered] {
            auto* const chooser = qobject_cast<TfrmHistory*>(QApplication::activeModalWidget());
            QVERIFY(chooser);
            offered = chooser->Rows().size();
            chooser->tblRuns->setCurrentCell(1, 0);
            QTest::mouseClick(chooser->btnOpen, Qt::LeftButton);
        });
        const std::optional<THistoryRun> chosen =
            TfrmHistory::ChooseRun(nullptr, Path(TPostingHistory::FileName).toStdString());
        QCOMPARE(offered, size_t(2));
        QVERIFY(chosen);
        QCOMPARE(chosen->RunID, std::string("a1"));
    }

    void stateShortNames() {
        QCOMPARE(TfrmMain::StateShortName(0), QString());
        QCOMPARE(TfrmMain::StateShortName(1), QStringLiteral("Connected"));
        QCOMPARE(TfrmMain::StateShortName(13), QStringLiteral("Sending Post"));
        QCOMPARE(TfrmMain::StateShortName(18), QStringLiteral("AuthPass"));
        QCOMPARE(TfrmMain::StateShortName(28), QStringLiteral("Date"));
        QCOMPARE(TfrmMain::StateShortName(30), QStringLiteral("StartTLS"));
        QCOMPARE(TfrmMain::StateShortName(31), QString());
        QCOMPARE(TfrmMain::StateShortName(-1), QString());
    }

    // The settings file and screen readers find the controls by name and by label.
    void controlsAreNamedAndLabelled() {
        TfrmMain window(FDir->path());
        const char* const names[] = {"eName",          "eAddress",      "eHost",     "eNewsreader",
                                     "eOrganization",  "ePassword",     "eProxy",    "eUserName",
                                     "seTimeout",      "eSubject",      "dcMsgBody", "cbLogon",
                                     "trcvNewsgroups", "trcvToPost",    "mDisplay",  "Image1",
                                     "Label10",        "spdPost",       "sbClear",   "spbAbort",
                                     "cbSecurity",     "seConnections", "cbVerify"};
        for (const char* name : names)
            QVERIFY2(window.findChild<QWidget*>(QString::fromLatin1(name)), name);

        QList<QWidget*> labelled;
        for (QLabel* label : window.findChildren<QLabel*>())
            if (label->buddy())
                labelled << label->buddy();
        for (QWidget* input :
             {static_cast<QWidget*>(window.eName), static_cast<QWidget*>(window.eAddress),
              static_cast<QWidget*>(window.eSubject), static_cast<QWidget*>(window.eHost),
              static_cast<QWidget*>(window.eOrganization),
              static_cast<QWidget*>(window.eNewsreader), static_cast<QWidget*>(window.seTimeout),
              static_cast<QWidget*>(window.eUserName), static_cast<QWidget*>(window.ePassword),
              static_cast<QWidget*>(window.cbSecurity),
              static_cast<QWidget*>(window.seConnections)})
            QVERIFY2(labelled.contains(input), qPrintable(input->objectName()));
        QCOMPARE(window.trcvToPost->accessibleName(), QStringLiteral("Newsgroups to Post"));
        QCOMPARE(window.dcMsgBody->accessibleName(), QStringLiteral("Message body"));
        QCOMPARE(window.mDisplay->accessibleName(), QStringLiteral("Status log"));
        QCOMPARE(window.ePassword->echoMode(), QLineEdit::Password);
        QVERIFY(!window.eProxy->isVisibleTo(&window));
    }

    // A box shows a server's markup as its characters: every box is plain text.
    void boxesArePlainText() {
        const QString text = QStringLiteral("400 <b>busy</b> <a href='http://x'>click</a>");
        QList<Qt::TextFormat> formats;
        QTimer closer;
        QObject::connect(&closer, &QTimer::timeout, [&] {
            for (QWidget* widget : QApplication::topLevelWidgets())
                if (auto* const box = qobject_cast<QMessageBox*>(widget); box && box->isVisible()) {
                    formats << box->textFormat();
                    box->done(0);
                }
        });
        closer.start(10);
        TQtPrompts prompts;
        prompts.ShowIconMessage(nullptr, text, TPromptIcon::Warning);
        prompts.AskChoice(nullptr, text, QStringLiteral("Trust"), QStringLiteral("Cancel"));
        QCOMPARE(formats, (QList<Qt::TextFormat>{Qt::PlainText, Qt::PlainText}));
    }

    void programDirFallsBackWhenNotWritable() {
        QCOMPARE(TProgramDir::Choose(FDir->path(), Path("fallback")), FDir->path() + "/");
        const QString fallback = Path("config/heraldix");
        QCOMPARE(TProgramDir::Choose(Path("no-such-dir"), fallback), fallback + "/");
        QVERIFY(QFileInfo(fallback).isDir());
    }

    // Preview shows the run's first article and a line per article, composed by the engine's
    // composer, and leaves the window as it was; what the run could not post is said instead.
    void previewShowsTheRun_data() {
        QTest::addColumn<QString>("address");
        QTest::addColumn<int>("perArticle");
        QTest::addColumn<QStringList>("groups");
        QTest::addColumn<QStringList>("articles");
        QTest::addColumn<QString>("message");
        const QStringList three{"alt.test", "comp.lang.c", "misc.test"};
        QTest::newRow("separate") << "pat@example.com" << 1 << three << three << QString();
        QTest::newRow("cross-post by two")
            << "pat@example.com" << 2 << three << QStringList{"alt.test,comp.lang.c", "misc.test"}
            << QString();
        QTest::newRow("no address")
            << "" << 1 << three << QStringList() << "You haven't entered an email address";
        QTest::newRow("no groups") << "pat@example.com" << 1 << QStringList() << QStringList()
                                   << "You haven't selected any groups to post to";
    }
    void previewShowsTheRun() {
        QFETCH(QString, address);
        QFETCH(int, perArticle);
        QFETCH(QStringList, groups);
        QFETCH(QStringList, articles);
        QFETCH(QString, message);
        TfrmMain window(FDir->path());
        window.Operation().SetComposer(
            TArticleComposer(TArticleComposer::SystemTime, [](uint8_t* bytes, size_t count) {
                std::fill_n(bytes, count, 0xab);
            }));
        window.eAddress->setText(address);
        window.eSubject->setText(QStringLiteral("Grüße"));
        window.dcMsgBody->SetLines({"Hello", ".", "Bye"});
        window.cbSendAs->setCurrentIndex(perArticle > 1 ? 1 : 0);
        window.seGroupsPerArticle->setValue(perArticle);
        for (const QString& group : groups)
            window.trcvToPost->Items().Add(group.toStdString());
        window.btnPreviewClick();
        auto* const preview = window.findChild<TfrmPreview*>();
        QCOMPARE(FPrompts->Messages(), message.isEmpty() ? QStringList() : QStringList{message});
        QCOMPARE(preview != nullptr, message.isEmpty());
        QVERIFY(!window.Busy());
        if (!preview)
            return;
        const QString text = preview->mArticle->toPlainText();
        const QString id = "<" + QString("ab").repeated(16) +
                           (perArticle > 1 ? ".0.2@example.com>" : ".0@example.com>");
        QVERIFY2(text.startsWith("Path: not-for-mail\nNewsgroups: alt.test") &&
                     text.contains("\nMessage-ID: " + id + "\n") &&
                     text.endsWith("\n\nHello\n.\nBye"),
                 qPrintable(text));
        QVERIFY(preview->lblExample->text().contains(id + " is an example"));
        QStringList lines;
        for (int row = 0; row < preview->lbArticles->count(); ++row)
            lines << preview->lbArticles->item(row)->text().section("  ", 0, 0);
        QCOMPARE(lines, articles);
        const qsizetype size = QString(text + "\n").replace("\n", "\r\n").toUtf8().size();
        QCOMPARE(preview->lbArticles->item(0)->text(),
                 articles[0] + QStringLiteral("  %1 bytes").arg(size));
    }

    // "Replace my previous post" names the newest run of the Subject on the server, or the run
    // chosen from the history; ticked, the run's articles replace that run's in its groups.
    void replaceNamesTheRunItReplaces_data() {
        QTest::addColumn<QString>("subject");
        QTest::addColumn<bool>("otherServer");
        QTest::addColumn<QString>("chosen");
        QTest::addColumn<QString>("run");
        QTest::newRow("newest of the subject") << "FAQ" << false << QString() << "b2";
        QTest::newRow("no run of the subject") << "News" << false << QString() << "";
        QTest::newRow("another server") << "FAQ" << true << QString() << "";
        QTest::newRow("chosen run") << "News" << false << QStringLiteral("a1") << "a1";
        QTest::newRow("chosen run of another server")
            << "FAQ" << false << QStringLiteral("d4") << "b2";
    }
    void replaceNamesTheRunItReplaces() {
        QFETCH(QString, subject);
        QFETCH(bool, otherServer);
        QFETCH(QString, chosen);
        QFETCH(QString, run);
        const TPostingHistory history(Path("history.jsonl").toStdString());
        THistoryRun earlier;
        earlier.Subject = "FAQ";
        earlier.Server = "news.example.org";
        earlier.Groups = {{"alt.test", THistoryOutcome::hoAccepted, "240", "", ""}};
        for (const char* id : {"a1", "b2", "d4"}) {
            earlier.RunID = id;
            earlier.Groups[0].MessageID = std::string("<") + id + "@x>";
            earlier.Server += id[0] == 'd' ? ":120" : "";
            history.Append(earlier);
        }
        TfrmMain window(FDir->path());
        window.cbSecurity->setCurrentIndex(0);
        window.eHost->setText(otherServer ? "other.example.org" : "news.example.org");
        window.eSubject->setText(subject);
        window.trcvToPost->Items().Add("alt.test");
        window.SetRunChooser([&chosen](QWidget*, const std::string& path) {
            return TPostingHistory(path).Find(chosen.toStdString());
        });
        // Looked up once the typing has stopped.
        QTRY_VERIFY(!window.lblReplaceRun->text().isEmpty());
        if (!chosen.isEmpty())
            window.btnChooseRunClick();
        QCOMPARE(QString::fromStdString(window.ReplaceRun() ? window.ReplaceRun()->RunID : ""),
                 run);
        QCOMPARE(window.lblReplaceRun->text().startsWith("No earlier post"), run.isEmpty());
        QCOMPARE(FPrompts->Messages().size(), chosen == "d4" ? 1 : 0);
        QCOMPARE(window.cbReplace->isChecked(), chosen == "a1");
        window.cbReplace->setChecked(true);
        const TNewsRequest request = window.RunRequest();
        QCOMPARE(QString::fromStdString(request.ReplacesRun), run);
        using TReplaces = std::map<std::string, std::string>;
        QVERIFY(request.Replaces ==
                (run.isEmpty() ? TReplaces()
                               : TReplaces{{"alt.test", "<" + run.toStdString() + "@x>"}}));
    }
};

QTEST_MAIN(tst_TfrmMain)
#include "tst_TfrmMain.moc"
