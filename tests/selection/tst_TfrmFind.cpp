// The find-groups window driven through its widgets: searches that accumulate, letter case,
// sending marked results to both to-post lists, Clear and Close, and where it places itself.
#include "MainWindowDouble.h"

#include "selection/TGroupSearchIndex.h"
#include "selection/TScriptedPrompts.h"
#include "selection/TfrmFind.h"
#include "selection/trcvListbox.h"
#include "support/ListEntries.h"

#include <QLineEdit>
#include <QScreen>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QToolButton>

class tst_TfrmFind : public QObject {
    Q_OBJECT

    static void Search(TfrmFind& find, const QString& text) {
        find.eFindText->clear();
        QTest::keyClicks(find.eFindText, text);
        QTest::mouseClick(find.sbFind, Qt::LeftButton);
    }

    static void ClickRow(trcvListbox* list, int row, Qt::KeyboardModifiers modifiers = {}) {
        const QRect rect = list->visualRect(list->model()->index(row, 0));
        QTest::mouseClick(list->viewport(), Qt::LeftButton, modifiers, rect.center());
    }

    QTemporaryDir FDir;
    MainWindowDouble* FMain = nullptr;
    TfrmFind* FFind = nullptr;
    trcvListbox* FWizardToPost = nullptr;
    TScriptedPrompts* FPrompts = nullptr;

private slots:
    void init() {
        FMain = new MainWindowDouble(FDir.path());
        FMain->trcvNewsgroups->Items().Assign({"alt.test", "comp.lang.c", "comp.lang.c++",
                                               "misc.test", "rec.arts.books", "Comp.Sys.Mac",
                                               "news.software.readers"});
        FFind = new TfrmFind(FMain->Access(), FMain);
        FWizardToPost = new trcvListbox;
        FFind->SetWizardToPost(FWizardToPost);
        FPrompts = TScriptedPrompts::InstallNew();
        FFind->show();
        QVERIFY(QTest::qWaitForWindowExposed(FFind));
    }

    void cleanup() {
        TPrompts::Install(nullptr);
        delete FWizardToPost;
        delete FMain;
    }

    void searchesAccumulateAndHonourCase() {
        QCOMPARE(FFind->StatusText(), QStringLiteral("0 addresses"));
        Search(*FFind, QStringLiteral("Comp"));
        QCOMPARE(Entries(FFind->trcvFindGroups), QStringList{"Comp.Sys.Mac"});

        Search(*FFind, QStringLiteral("comp"));
        QCOMPARE(Entries(FFind->trcvFindGroups),
                 (QStringList{"comp.lang.c", "comp.lang.c++", "Comp.Sys.Mac"}));

        Search(*FFind, QStringLiteral("rec"));
        QCOMPARE(Entries(FFind->trcvFindGroups),
                 (QStringList{"comp.lang.c", "comp.lang.c++", "Comp.Sys.Mac", "rec.arts.books"}));
        QCOMPARE(FFind->StatusText(), QStringLiteral("4 addresses"));

        // Nothing found and an empty text both leave the results as they are.
        Search(*FFind, QStringLiteral("nothing.like.this"));
        Search(*FFind, QString());
        QCOMPARE(FFind->trcvFindGroups->Count(), 4);
        QCOMPARE(FFind->StatusText(), QStringLiteral("4 addresses"));

        // The text is taken as typed, spaces included.
        Search(*FFind, QStringLiteral(" test"));
        QCOMPARE(FFind->trcvFindGroups->Count(), 4);
    }

    void contains_data() {
        QTest::addColumn<QByteArray>("entry");
        QTest::addColumn<QByteArray>("text");
        QTest::addColumn<bool>("found");
        QTest::newRow("start") << QByteArray("comp.lang.c") << QByteArray("comp") << true;
        QTest::newRow("end") << QByteArray("comp.lang.c") << QByteArray("lang.c") << true;
        QTest::newRow("whole") << QByteArray("misc.test") << QByteArray("misc.test") << true;
        QTest::newRow("longer") << QByteArray("misc") << QByteArray("misc.test") << false;
        QTest::newRow("case") << QByteArray("comp.lang.c") << QByteArray("Lang") << false;
        QTest::newRow("empty text") << QByteArray("comp") << QByteArray() << false;
        QTest::newRow("empty entry") << QByteArray() << QByteArray("a") << false;
        QTest::newRow("8-bit") << QByteArray("de.r\xc3\xa4tsel") << QByteArray("\xc3\xa4t") << true;
    }
    void contains() {
        QFETCH(QByteArray, entry);
        QFETCH(QByteArray, text);
        QFETCH(bool, found);
        QCOMPARE(TfrmFind::Contains(std::string_view(entry.constData(), entry.size()),
                                    std::string_view(text.constData(), text.size())),
                 found);
    }

    // The contiguous index finds exactly the rows a name-by-name search finds, including hits at
    // the very start and end of the buffer and none across two neighbouring names.
    void indexAgreesWithNameByNameSearch_data() {
        QTest::addColumn<QByteArray>("text");
        for (const char* text : {"a", "alt", "z.last", "test", "t\x01", ".", "testcomp", "st.c",
                                 "COMP", "x", "comp.lang.c++", "\xc3\xa4"})
            QTest::newRow(text) << QByteArray(text);
    }
    void indexAgreesWithNameByNameSearch() {
        QFETCH(QByteArray, text);
        TGroupList names;
        names.Assign({"a", "alt.test", "comp.lang.c", "comp.lang.c++", "COMP.sys", "misc.test",
                      "de.r\xc3\xa4tsel", "te", "st", "weird\x01name", "", "z.last"});
        const std::string_view needle(text.constData(), static_cast<size_t>(text.size()));
        std::vector<int> expected;
        for (int row = 0; row < names.Count(); ++row)
            if (TfrmFind::Contains(names[row], needle))
                expected.push_back(row);
        TGroupSearchIndex index;
        QVERIFY(index.Build(names));
        QCOMPARE(index.Rows(needle), expected);
        for (int row = 0; row < names.Count(); ++row)
            QCOMPARE(index.Name(row), std::string_view(names[row]));
    }

    // Names added to the main window's list after a search are found by the next one.
    void searchSeesListChanges() {
        Search(*FFind, QStringLiteral("test"));
        QCOMPARE(FFind->trcvFindGroups->Count(), 2);
        FMain->trcvNewsgroups->Items().Add("zz.test");
        FMain->trcvNewsgroups->BeginUpdate();
        FMain->trcvNewsgroups->Items().Assign({"new.test", "other.test"});
        FMain->trcvNewsgroups->EndUpdate();
        Search(*FFind, QStringLiteral("test"));
        QCOMPARE(Entries(FFind->trcvFindGroups),
                 (QStringList{"alt.test", "misc.test", "new.test", "other.test"}));
        FMain->trcvNewsgroups->Items().Delete(0);
        FFind->sbClearClick();
        Search(*FFind, QStringLiteral("test"));
        QCOMPARE(Entries(FFind->trcvFindGroups), QStringList{"other.test"});
    }

    void selectAllAndSendWithCurrentRow() {
        FMain->trcvToPost->Items().Add("COMP.LANG.C");
        Search(*FFind, QStringLiteral("comp"));
        ClickRow(FFind->trcvFindGroups, 1);
        QCOMPARE(FFind->trcvFindGroups->ItemIndex(), 1);
        QTest::mouseClick(FFind->sbSelectAll, Qt::LeftButton);
        QCOMPARE(FFind->trcvFindGroups->Count(), 2);
        QVERIFY(FFind->trcvFindGroups->IsSelected(0));
        QVERIFY(FFind->trcvFindGroups->IsSelected(1));
        QTest::mouseClick(FFind->sbSendtoPost, Qt::LeftButton);

        // The group already there under another case is not added a second time.
        QCOMPARE(Entries(FMain->trcvToPost), (QStringList{"COMP.LANG.C", "comp.lang.c++"}));
        QCOMPARE(Entries(FWizardToPost), (QStringList{"comp.lang.c", "comp.lang.c++"}));
        QCOMPARE(FFind->trcvFindGroups->Count(), 0);
        QCOMPARE(FFind->StatusText(), QStringLiteral("0 addresses"));
        QVERIFY(FPrompts->Messages().isEmpty());
        // The main window's status bar catches up when that window is next active, not here.
        QCOMPARE(FMain->Refreshes, 0);
    }

    void sendWithoutCurrentRowKeepsResults() {
        Search(*FFind, QStringLiteral("test"));
        QCOMPARE(FFind->trcvFindGroups->ItemIndex(), -1);
        QTest::mouseClick(FFind->sbSelectAll, Qt::LeftButton);
        QTest::mouseClick(FFind->sbSendtoPost, Qt::LeftButton);
        QCOMPARE(Entries(FMain->trcvToPost), (QStringList{"alt.test", "misc.test"}));
        QCOMPARE(Entries(FWizardToPost), (QStringList{"alt.test", "misc.test"}));
        QCOMPARE(Entries(FFind->trcvFindGroups), (QStringList{"alt.test", "misc.test"}));
        QVERIFY(!FFind->trcvFindGroups->IsSelected(0));
        QVERIFY(!FFind->trcvFindGroups->IsSelected(1));
        QCOMPARE(FFind->StatusText(), QStringLiteral("2 addresses"));
    }

    void sendsOnlyMarkedRows() {
        Search(*FFind, QStringLiteral("."));
        ClickRow(FFind->trcvFindGroups, 2);
        ClickRow(FFind->trcvFindGroups, 4, Qt::ControlModifier);
        const QStringList chosen{FFind->trcvFindGroups->RowText(2),
                                 FFind->trcvFindGroups->RowText(4)};
        QTest::mouseClick(FFind->sbSendtoPost, Qt::LeftButton);
        QCOMPARE(Entries(FMain->trcvToPost), chosen);
        QCOMPARE(Entries(FWizardToPost), chosen);
        QCOMPARE(FFind->trcvFindGroups->Count(), 5);
        for (const QString& name : chosen)
            QCOMPARE(FFind->trcvFindGroups->Items().IndexOf(name.toStdString()), -1);
    }

    void sendWithNothingFoundOrNothingMarked() {
        QTest::mouseClick(FFind->sbSendtoPost, Qt::LeftButton);
        QCOMPARE(FPrompts->Messages(),
                 QStringList{"You forgot to select the newsgroups you want to post."});

        FPrompts->Forget();
        Search(*FFind, QStringLiteral("test"));
        QTest::mouseClick(FFind->sbSendtoPost, Qt::LeftButton);
        QVERIFY(FPrompts->Messages().isEmpty());
        QCOMPARE(FMain->trcvToPost->Count(), 0);
        QCOMPARE(FWizardToPost->Count(), 0);
    }

    void clearAndCloseEmptyTheResults() {
        Search(*FFind, QStringLiteral("comp"));
        QTest::mouseClick(FFind->sbSelectAll, Qt::LeftButton);
        QTest::mouseClick(FFind->sbClear, Qt::LeftButton);
        QCOMPARE(FFind->trcvFindGroups->Count(), 0);
        QCOMPARE(FFind->StatusText(), QStringLiteral("0 addresses"));
        // Rows found later are not shown as chosen by a mark from before Clear.
        Search(*FFind, QStringLiteral("test"));
        QVERIFY(!FFind->trcvFindGroups->IsSelected(0));

        QTest::mouseClick(FFind->sbClose, Qt::LeftButton);
        QVERIFY(!FFind->isVisible());
        QCOMPARE(FFind->trcvFindGroups->Count(), 0);
        FFind->show();
        QCOMPARE(FFind->eFindText->text(), QStringLiteral("test"));
        QCOMPARE(FFind->StatusText(), QStringLiteral("0 addresses"));
    }

    void closeEndsModalRunWithOk() {
        FFind->hide();
        QTimer::singleShot(0, FFind, [this] {
            Search(*FFind, QStringLiteral("misc"));
            QTest::mouseClick(FFind->sbClose, Qt::LeftButton);
        });
        QCOMPARE(FFind->exec(), int(QDialog::Accepted));
        QCOMPARE(FFind->trcvFindGroups->Count(), 0);
        QTimer::singleShot(0, FFind, [this] { QTest::keyClick(FFind, Qt::Key_Escape); });
        QCOMPARE(FFind->exec(), int(QDialog::Accepted));
    }

    void placesItselfByTheMainWindow() {
        FFind->hide();
        FMain->resize(450, 400);
        FMain->move(0, 30);
        FMain->show();
        QVERIFY(QTest::qWaitForWindowExposed(FMain));
        FFind->show();
        QVERIFY(QTest::qWaitForWindowExposed(FFind));
        const QRect main = FMain->frameGeometry();
        QCOMPARE(FFind->frameGeometry().bottom(), main.bottom());
        QCOMPARE(FFind->frameGeometry().left(),
                 main.left() + FMain->pnlButtons->mapTo(FMain, QPoint(0, 0)).x());

        // Near the right edge of the screen it stays on the screen.
        const QRect screen = FMain->screen()->geometry();
        FMain->move(screen.right() - 200, 30);
        FFind->PlaceWindow();
        QCOMPARE(FFind->frameGeometry().right(), screen.right());
    }
};

QTEST_MAIN(tst_TfrmFind)
#include "tst_TfrmFind.moc"
