#include "MainWindowFixture.h"
#include "app/TMainSettings.h"
#include "app/TfrmMain.h"
#include "selection/TBodyEditor.h"
#include "selection/TScriptedPrompts.h"
#include "selection/trcvListbox.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QLineEdit>
#include <QSpinBox>
#include <QTemporaryDir>
#include <QTest>

// The settings file as the main window uses it: read right after the window is built, written
// when it closes and before the list files, in the window's own directory.
class tst_TMainSettings : public QObject, private MainWindowFixture {
    Q_OBJECT

private slots:
    void init() { BeginTest(); }
    void cleanup() { EndTest(); }

    void fieldsSurviveARestart() {
        {
            TfrmMain window(FDir->path());
            TMainSettings settings(window);
            settings.Restore();
            window.eName->setText(QStringLiteral("  Ann Example  "));
            window.eAddress->setText(QStringLiteral("ann@example.org"));
            window.eSubject->setText(QStringLiteral("Hello"));
            window.eFollowupTo->setText(QStringLiteral("misc.test,alt.test"));
            window.cbSendAs->setCurrentIndex(1);
            window.seGroupsPerArticle->setValue(12);
            window.eHost->setText(QStringLiteral("news.example.org:1119"));
            window.eUserName->setText(QStringLiteral("ann"));
            window.ePassword->setText(QStringLiteral("secret"));
            window.seTimeout->setValue(-5);
            window.cbLogon->setChecked(true);
            window.dcMsgBody->SetLines(
                {QStringLiteral("first"), QString(), QStringLiteral("third")});
            window.trcvToPost->Items().Add("misc.test");
            window.close();
        }
        const QByteArray ini = Read(QStringLiteral("frmsv.INI"));
        QVERIFY2(ini.contains("[TfrmMain]"), ini.constData());
        QVERIFY(ini.contains("eName.Text=Ann Example"));
        QVERIFY(ini.contains("cbLogon.Checked=True"));
        QVERIFY(ini.contains("[TfrmMain.dcMsgBody.Lines]"));
        QVERIFY(ini.contains("Count=3"));
        QVERIFY(ini.contains("ShowCmd="));
        QCOMPARE(Read(QStringLiteral("selgrps.txt")), QByteArray("misc.test\r\n"));
        // Owner-only: the file holds the password.
        QCOMPARE(QFile::permissions(Path(QStringLiteral("frmsv.INI"))) &
                     (QFile::ReadGroup | QFile::ReadOther | QFile::WriteGroup | QFile::WriteOther),
                 QFile::Permissions());

        TfrmMain window(FDir->path());
        TMainSettings settings(window);
        settings.Restore();
        QCOMPARE(window.eName->text(), QStringLiteral("Ann Example"));
        QCOMPARE(window.eAddress->text(), QStringLiteral("ann@example.org"));
        QCOMPARE(window.eSubject->text(), QStringLiteral("Hello"));
        QCOMPARE(window.eFollowupTo->text(), QStringLiteral("misc.test,alt.test"));
        QCOMPARE(window.GroupsPerArticle(), 12);
        QCOMPARE(window.eHost->text(), QStringLiteral("news.example.org:1119"));
        QCOMPARE(window.eUserName->text(), QStringLiteral("ann"));
        QCOMPARE(window.ePassword->text(), QStringLiteral("secret"));
        QCOMPARE(window.seTimeout->value(), -5);
        QVERIFY(window.cbLogon->isChecked());
        QCOMPARE(window.dcMsgBody->Lines(),
                 QStringList({QStringLiteral("first"), QString(), QStringLiteral("third")}));
        QCOMPARE(window.eNewsreader->text(), TfrmMain::DefaultNewsreader());
        QVERIFY(FPrompts->Messages().isEmpty());
    }

    // The settings file keeps the body as a post sends it: a Shift+Enter break ends a line and
    // a no-break space stays what it is.
    void bodyIsSavedAsItIsPosted() {
        {
            TfrmMain window(FDir->path());
            TMainSettings settings(window);
            settings.Restore();
            window.dcMsgBody->setPlainText(QStringLiteral("one\u2028two\u00a0words"));
            window.close();
        }
        TfrmMain window(FDir->path());
        TMainSettings settings(window);
        settings.Restore();
        QCOMPARE(window.dcMsgBody->Lines(),
                 (QStringList{QStringLiteral("one"), QStringLiteral("two\u00a0words")}));
    }

    // A hand-edited value with a line break or control character inside comes back as one
    // line; a Newsreader that names this program names it with the current version.
    void storedValuesComeBackAsSingleLines_data() {
        QTest::addColumn<QString>("field");
        QTest::addColumn<QByteArray>("stored");
        QTest::addColumn<QString>("restored");
        QTest::newRow("CR in the subject")
            << "eSubject" << QByteArray("Hello\rX-Injected: yes") << "Hello X-Injected: yes";
        QTest::newRow("controls in the name")
            << "eName" << QByteArray("Ann\x01\x7f\tExample") << "Ann   Example";
        QTest::newRow("line separator in the address")
            << "eAddress" << QByteArray("ann@example.org\xe2\x80\xa8x") << "ann@example.org x";
        QTest::newRow("the program's bare name")
            << "eNewsreader" << QByteArray("Heraldix") << TfrmMain::DefaultNewsreader();
        QTest::newRow("the program with an earlier version")
            << "eNewsreader" << QByteArray("Heraldix/1.0.0.0") << TfrmMain::DefaultNewsreader();
        QTest::newRow("another newsreader")
            << "eNewsreader" << QByteArray("Other Reader 2.0") << "Other Reader 2.0";
    }
    void storedValuesComeBackAsSingleLines() {
        QFETCH(QString, field);
        QFETCH(QByteArray, stored);
        QFETCH(QString, restored);
        Write(QStringLiteral("frmsv.INI"),
              "[TfrmMain]\r\n" + field.toLatin1() + ".Text=" + stored + "\r\n");
        TfrmMain window(FDir->path());
        TMainSettings settings(window);
        settings.Restore();
        QCOMPARE(window.findChild<QLineEdit*>(field)->text(), restored);
    }

    // Saving happens once: on the close, not again when the settings object goes.
    void closeSavesOnceBeforeTheListFiles() {
        TfrmMain window(FDir->path());
        TMainSettings settings(window);
        settings.Restore();
        QStringList order;
        connect(&window, &TfrmMain::FormClosing, [&] {
            order << (QFile::exists(Path(QStringLiteral("newsgrps.txt"))) ? "lists first"
                                                                          : "settings first");
        });
        window.close();
        QCOMPARE(order, QStringList{QStringLiteral("settings first")});
        QVERIFY(QFile::exists(Path(QStringLiteral("frmsv.INI"))));
        QVERIFY(QFile::remove(Path(QStringLiteral("frmsv.INI"))));
        settings.Save();
        QVERIFY(!QFile::exists(Path(QStringLiteral("frmsv.INI"))));
    }

    // A window that never read its settings never overwrites them.
    void noSaveWithoutRestore() {
        {
            TfrmMain window(FDir->path());
            TMainSettings settings(window);
            window.eName->setText(QStringLiteral("never stored"));
            window.close();
        }
        QVERIFY(!QFile::exists(Path(QStringLiteral("frmsv.INI"))));
    }

    // The connection security of a new file is TLS; a file from before the choice existed keeps
    // the clear connection it worked with; a stored choice comes back, and is written back.
    void connectionSecurityOnRestore_data() {
        QTest::addColumn<QByteArray>("file");
        QTest::addColumn<int>("restored");
        QTest::newRow("no settings file") << QByteArray() << 1;
        QTest::newRow("older file without the key")
            << QByteArray("[TfrmMain]\r\neHost.Text=news.example.org\r\n") << 0;
        QTest::newRow("STARTTLS stored")
            << QByteArray("[TfrmMain]\r\ncbSecurity.CurrentIndex=2\r\n") << 2;
        QTest::newRow("None stored")
            << QByteArray("[TfrmMain]\r\ncbSecurity.CurrentIndex=0\r\n") << 0;
    }

    void connectionSecurityOnRestore() {
        QFETCH(QByteArray, file);
        QFETCH(int, restored);
        if (!file.isEmpty())
            Write(QStringLiteral("frmsv.INI"), file);
        {
            TfrmMain window(FDir->path());
            TMainSettings settings(window);
            settings.Restore();
            QCOMPARE(window.cbSecurity->currentIndex(), restored);
            window.close();
        }
        QVERIFY(Read(QStringLiteral("frmsv.INI"))
                    .contains("cbSecurity.CurrentIndex=" + QByteArray::number(restored)));
    }

    // A new file posts over two connections; a file from before the choice keeps the one it
    // worked with; stored choices come back (a hand-edited count within the range), and are
    // written back.
    void connectionsAndVerifyOnRestore_data() {
        QTest::addColumn<QByteArray>("file");
        QTest::addColumn<int>("connections");
        QTest::addColumn<bool>("verify");
        QTest::newRow("no settings file") << QByteArray() << 2 << false;
        QTest::newRow("older file without the keys")
            << QByteArray("[TfrmMain]\r\neHost.Text=news.example.org\r\n") << 1 << false;
        QTest::newRow("stored choices")
            << QByteArray("[TfrmMain]\r\nseConnections.Value=5\r\ncbVerify.Checked=True\r\n") << 5
            << true;
        QTest::newRow("count above the range")
            << QByteArray("[TfrmMain]\r\nseConnections.Value=12\r\n") << 8 << false;
        QTest::newRow("count below the range")
            << QByteArray("[TfrmMain]\r\nseConnections.Value=0\r\n") << 1 << false;
    }

    void connectionsAndVerifyOnRestore() {
        QFETCH(QByteArray, file);
        QFETCH(int, connections);
        QFETCH(bool, verify);
        if (!file.isEmpty())
            Write(QStringLiteral("frmsv.INI"), file);
        {
            TfrmMain window(FDir->path());
            TMainSettings settings(window);
            settings.Restore();
            QCOMPARE(window.seConnections->value(), connections);
            QCOMPARE(window.cbVerify->isChecked(), verify);
            window.close();
        }
        const QByteArray saved = Read(QStringLiteral("frmsv.INI"));
        QVERIFY2(saved.contains("seConnections.Value=" + QByteArray::number(connections)),
                 saved.constData());
        QVERIFY(saved.contains(verify ? "cbVerify.Checked=True" : "cbVerify.Checked=False"));
    }

    // A settings file that cannot be written (here a directory stands in its place, which stops
    // root as well) is reported; the window still closes and the list files are still written.
    void failedWriteIsShownAndTheListsAreStillWritten() {
        QVERIFY(QDir(FDir->path()).mkdir(QStringLiteral("frmsv.INI")));
        TfrmMain window(FDir->path());
        TMainSettings settings(window);
        settings.Restore();
        window.trcvNewsgroups->Items().Add("alt.test");
        window.eName->setText(QStringLiteral("changed"));
        window.show();
        window.close();
        QVERIFY(!window.isVisible());
        QCOMPARE(FPrompts->Messages().size(), 1);
        QCOMPARE(FPrompts->Messages().first(),
                 QStringLiteral("Unable to write to ") + Path(QStringLiteral("frmsv.INI")));
        QCOMPARE(Read(QStringLiteral("newsgrps.txt")), QByteArray("alt.test\r\n"));
    }
};

QTEST_MAIN(tst_TMainSettings)
#include "tst_TMainSettings.moc"
