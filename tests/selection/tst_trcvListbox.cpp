#include "selection/trcvListbox.h"

#include <QSignalSpy>
#include <QTest>

class tst_trcvListbox : public QObject {
    Q_OBJECT

    // Marked rows among the first `rows`, as a compact string such as "0110".
    static QString Marks(const trcvListbox& list, int rows) {
        QString marks;
        for (int row = 0; row < rows; ++row)
            marks += list.IsSelected(row) ? QLatin1Char('1') : QLatin1Char('0');
        return marks;
    }

    // The view's highlighted rows, which must always be the marked rows.
    static QString Shown(const trcvListbox& list, int rows) {
        QString marks;
        for (int row = 0; row < rows; ++row)
            marks += list.selectionModel()->isSelected(list.model()->index(row, 0))
                         ? QLatin1Char('1')
                         : QLatin1Char('0');
        return marks;
    }

    static void Fill(trcvListbox& list, int count) {
        std::vector<std::string> names;
        for (int i = 0; i < count; ++i)
            names.push_back(
                QStringLiteral("group.%1").arg(i, 7, 10, QLatin1Char('0')).toStdString());
        list.Items().Assign(std::move(names));
    }

    static void Click(trcvListbox& list, int row, Qt::KeyboardModifiers modifiers = {}) {
        const QRect rect = list.visualRect(list.model()->index(row, 0));
        QTest::mouseClick(list.viewport(), Qt::LeftButton, modifiers, rect.center());
    }

private slots:
    void rowCountFollowsItems() {
        trcvListbox list;
        list.Items().Add("b");
        list.Items().Add("a");
        list.Items().Add("A");
        QCOMPARE(list.model()->rowCount(), 2);
        QCOMPARE(list.RowText(0), QStringLiteral("a"));
        QCOMPARE(list.RowText(2), QString());
        list.Items().LoadFromText("x\ny\nz\n");
        QCOMPARE(list.model()->rowCount(), 3);
        list.Items().Clear();
        QCOMPARE(list.model()->rowCount(), 0);
        QCOMPARE(list.RowText(0), QString());
    }

    void delimiterCutsRowText() {
        trcvListbox list;
        list.Items().Assign({"alt.test 10 1 y", "nospace"});
        list.SetDelimiter(' ');
        QCOMPARE(list.RowText(0), QStringLiteral("alt.test"));
        QCOMPARE(list.RowText(1), QString());
        QCOMPARE(list.model()->index(0, 0).data().toString(), QStringLiteral("alt.test"));
        list.SetDelimiter('\0');
        QCOMPARE(list.RowText(1), QStringLiteral("nospace"));
    }

    void marksStayOnRowPositions() {
        trcvListbox list;
        list.Items().Assign({"c", "d", "e"});
        list.SetSelection(1, true);
        QCOMPARE(Marks(list, 4), QStringLiteral("0100"));
        list.Items().Add("a");
        list.Items().Add("b");
        // Row 1 is still marked, now holding "b" instead of "d".
        QCOMPARE(Marks(list, 5), QStringLiteral("01000"));
        QCOMPARE(Shown(list, 5), QStringLiteral("01000"));
        list.Items().Delete(0);
        QCOMPARE(Shown(list, 4), QStringLiteral("0100"));
        list.BeginUpdate();
        list.Items().Assign({"p", "q", "r"});
        list.SetSelection(2, true);
        list.EndUpdate();
        QCOMPARE(Marks(list, 3), QStringLiteral("011"));
        QCOMPARE(Shown(list, 3), QStringLiteral("011"));
    }

    void deleteSelected_data() {
        QTest::addColumn<QString>("marks");
        QTest::addColumn<int>("current");
        QTest::addColumn<QString>("remaining");
        QTest::addColumn<int>("newCurrent");
        QTest::newRow("rows 2 and 5, row 5 current") << "0010010" << 5 << "abdeg" << 4;
        QTest::newRow("no current row deletes nothing") << "0010010" << -1 << "abcdefg" << 0;
        QTest::newRow("current row 0") << "1000000" << 0 << "bcdefg" << 0;
        QTest::newRow("all rows") << "1111111" << 6 << "" << -1;
        QTest::newRow("nothing marked") << "0000000" << 3 << "abcdefg" << 2;
    }
    void deleteSelected() {
        QFETCH(QString, marks);
        QFETCH(int, current);
        QFETCH(QString, remaining);
        QFETCH(int, newCurrent);
        trcvListbox list;
        list.Items().Assign({"a", "b", "c", "d", "e", "f", "g"});
        for (int row = 0; row < marks.size(); ++row)
            list.SetSelection(row, marks[row] == QLatin1Char('1'));
        list.SetItemIndex(current);
        list.DeleteSelected();
        QString left;
        for (const std::string_view entry : list.Items().Entries())
            left += QString::fromUtf8(entry.data(), static_cast<qsizetype>(entry.size()));
        QCOMPARE(left, remaining);
        QCOMPARE(list.ItemIndex(), newCurrent);
        QVERIFY(std::all_of(list.SelectedFlags().begin(), list.SelectedFlags().end(),
                            [](uint8_t m) { return m == 0; }));
        QCOMPARE(Shown(list, list.Count()), QString(list.Count(), QLatin1Char('0')));
    }

    void deleteOnEmptyListChangesNothing() {
        trcvListbox list;
        list.SetSelection(3, true);
        QTest::keyClick(&list, Qt::Key_Delete);
        QCOMPARE(list.Count(), 0);
        QCOMPARE(list.ItemIndex(), -1);
        QVERIFY(!list.SelectedFlags()[3]);
    }

    void gesturesGoThroughTheMarks() {
        trcvListbox list;
        list.resize(200, 300);
        list.show();
        QVERIFY(QTest::qWaitForWindowExposed(&list));
        list.Items().Assign({"a", "b", "c", "d", "e", "f"});

        Click(list, 1);
        QCOMPARE(Marks(list, 6), QStringLiteral("010000"));
        Click(list, 3, Qt::ControlModifier);
        QCOMPARE(Marks(list, 6), QStringLiteral("010100"));
        Click(list, 1, Qt::ControlModifier);
        QCOMPARE(Marks(list, 6), QStringLiteral("000100"));
        // Shift extends from the row clicked last.
        Click(list, 5, Qt::ShiftModifier);
        QCOMPARE(Marks(list, 6), QStringLiteral("011111"));
        QCOMPARE(list.ItemIndex(), 5);
        Click(list, 0);
        QCOMPARE(Marks(list, 6), QStringLiteral("100000"));

        QTest::keyClick(&list, Qt::Key_A, Qt::ControlModifier);
        QCOMPARE(Marks(list, 6), QStringLiteral("111111"));
        // Select-all marks every position, so a row added later shows marked too.
        list.Items().Add("g");
        QCOMPARE(Shown(list, 7), QStringLiteral("1111111"));

        list.SetItemIndex(2);
        QTest::keyClick(&list, Qt::Key_Delete);
        QCOMPARE(list.Count(), 0);
    }

    void singleSelectLeavesMarksAlone() {
        trcvListbox list;
        list.SetMultiSelect(false);
        list.resize(200, 300);
        list.show();
        QVERIFY(QTest::qWaitForWindowExposed(&list));
        list.Items().Assign({"a", "b", "c"});
        Click(list, 1);
        QCOMPARE(list.ItemIndex(), 1);
        QCOMPARE(Marks(list, 3), QStringLiteral("000"));
        QTest::keyClick(&list, Qt::Key_A, Qt::ControlModifier);
        QCOMPARE(Marks(list, 3), QStringLiteral("000"));
    }

    void doubleClickIsReportedEvenWithoutRows() {
        trcvListbox list;
        list.resize(200, 100);
        list.show();
        QVERIFY(QTest::qWaitForWindowExposed(&list));
        QSignalSpy spy(&list, &trcvListbox::DoubleClicked);
        QTest::mouseDClick(list.viewport(), Qt::LeftButton, {}, QPoint(20, 20));
        QCOMPARE(spy.count(), 1);
        QCOMPARE(list.ItemIndex(), -1);
    }

    // Rows past the mark array exist and show, but can never be marked.
    void rowsBeyondTheMarkArray() {
        trcvListbox list;
        Fill(list, trcvListbox::MarkCount + 4);
        QCOMPARE(list.model()->rowCount(), trcvListbox::MarkCount + 4);
        list.selectAll();
        QVERIFY(list.IsSelected(trcvListbox::MarkCount - 1));
        QVERIFY(!list.IsSelected(trcvListbox::MarkCount + 2));
        list.SetSelection(trcvListbox::MarkCount + 2, true);
        QVERIFY(!list.IsSelected(trcvListbox::MarkCount + 2));
        QVERIFY(
            !list.selectionModel()->isSelected(list.model()->index(trcvListbox::MarkCount + 2, 0)));

        list.SetItemIndex(trcvListbox::MarkCount + 3);
        list.DeleteSelected();
        QCOMPARE(list.Count(), 4);
        QCOMPARE(list.RowText(0), QStringLiteral("group.1000001"));
        QCOMPARE(list.ItemIndex(), -1);
    }
};

QTEST_MAIN(tst_trcvListbox)
#include "tst_trcvListbox.moc"
