// The main window's fields and placement saved to the settings file and read back in a later
// "run", on a stand-in form whose controls carry the main window's component names.

#include "app/TComponentState.h"
#include "app/TFormState.h"
#include "app/TIniFileStore.h"
#include "support/TestFiles.h"

#include <QCheckBox>
#include <QFile>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QSpinBox>
#include <QTemporaryDir>
#include <QTest>
#include <QVBoxLayout>

#include <climits>
#include <memory>

namespace {

struct TStandInForm : QWidget {
    QLineEdit* eName = Edit("eName");
    QLineEdit* eAddress = Edit("eAddress");
    QLineEdit* eSubject = Edit("eSubject");
    QLineEdit* eHost = Edit("eHost");
    QLineEdit* eOrganization = Edit("eOrganization");
    QLineEdit* eNewsreader = Edit("eNewsreader");
    QLineEdit* eUserName = Edit("eUserName");
    QLineEdit* ePassword = Edit("ePassword");
    QLineEdit* eProxy = Edit("eProxy");
    QSpinBox* seTimeout = new QSpinBox(this);
    QCheckBox* cbLogon = new QCheckBox(this);
    QPlainTextEdit* dcMsgBody = new QPlainTextEdit(this);

    TStandInForm() {
        setObjectName("TfrmMain");
        seTimeout->setObjectName("seTimeout");
        seTimeout->setRange(INT_MIN, INT_MAX);
        seTimeout->setValue(60);
        cbLogon->setObjectName("cbLogon");
        dcMsgBody->setObjectName("dcMsgBody");
        eNewsreader->setText("Heraldix");
        auto* layout = new QVBoxLayout(this);
        for (QWidget* w : findChildren<QWidget*>(Qt::FindDirectChildrenOnly))
            layout->addWidget(w);
    }

    QLineEdit* Edit(const char* name) {
        auto* e = new QLineEdit(this);
        e->setObjectName(name);
        return e;
    }

    // A line break after the last line does not start another line.
    QStringList BodyLines() const {
        QString text = dcMsgBody->toPlainText();
        if (text.endsWith(u'\n'))
            text.chop(1);
        return text.isEmpty() ? QStringList() : text.split(u'\n');
    }
};

// A body editor that offers its content as a "Lines" property of its own.
class TLinesEditor : public QWidget {
    Q_OBJECT
    Q_PROPERTY(QStringList Lines READ Lines WRITE SetLines)
public:
    using QWidget::QWidget;
    QStringList Lines() const { return m_lines; }
    void SetLines(const QStringList& lines) { m_lines = lines; }

private:
    QStringList m_lines;
};

} // namespace

class tst_settings_state : public QObject {
    Q_OBJECT

private:
    QTemporaryDir m_dir;

    QString Path() const { return m_dir.filePath("frmsv.INI"); }

    // One save or one restore, the way the main window does it: fields first, then the window.
    void Run(QWidget* form, bool save) const {
        TIniFileStore store;
        store.ExeDir = m_dir.path();
        TComponentState fields;
        fields.Form = form;
        fields.IniStore = &store;
        fields.Section = "TfrmMain";
        fields.StoredProperties = TComponentState::MainFormProperties();
        TFormState window;
        window.Form = form;
        window.IniStore = &store;
        window.Section = "TfrmMain";
        store.Open();
        if (save) {
            fields.Save();
            window.Save();
        } else {
            fields.Restore();
            window.Restore();
        }
        store.Close();
    }
    void Save(QWidget* form) const { Run(form, true); }
    void Restore(QWidget* form) const { Run(form, false); }

    QString Value(const QString& section, const QString& key) const {
        TIniFileStore store;
        store.ExeDir = m_dir.path();
        store.Open();
        return store.ReadString(section, key, "<missing>");
    }
    void WriteFile(const QByteArray& bytes) const { QVERIFY(WriteTestFile(Path(), bytes)); }
    QByteArray ReadFile() const { return ReadTestFile(Path()); }

private slots:
    void init() {
        QVERIFY(m_dir.isValid());
        QFile::remove(Path());
    }

    void everyFieldRoundTrips() {
        TStandInForm first;
        first.eName->setText("  Ann Example ");
        first.eAddress->setText("ann@example.com");
        first.eSubject->setText("\t Hello world \x01");
        first.eHost->setText("news.example.com:1119");
        first.eOrganization->setText("Example Org");
        first.eNewsreader->setText("");
        first.eUserName->setText("ann");
        first.ePassword->setText("p4ss word");
        first.eProxy->setText("proxy.example.com");
        first.seTimeout->setValue(-15);
        first.cbLogon->setChecked(true);
        first.dcMsgBody->setPlainText("Hello,\n\n  indented line");
        Save(&first);

        // The layout other copies of the program and hand edits rely on.
        const QByteArray file = ReadFile();
        QVERIFY2(file.startsWith("[TfrmMain]\n"
                                 "eName.Text=Ann Example\n"
                                 "eAddress.Text=ann@example.com\n"
                                 "eHost.Text=news.example.com:1119\n"
                                 "eNewsreader.Text=\n"
                                 "eOrganization.Text=Example Org\n"
                                 "ePassword.Text=p4ss word\n"
                                 "eProxy.Text=proxy.example.com\n"
                                 "eUserName.Text=ann\n"
                                 "seTimeout.Value=-15\n"
                                 "eSubject.Text=Hello world\n"
                                 "cbLogon.Checked=True\n"
                                 "Flags=0\n"
                                 "ShowCmd=1\n"
                                 "NormalPos="),
                 file.constData());
        QVERIFY2(file.contains("\nColor=-16777201\n"), file.constData());
        QVERIFY2(file.contains("[TfrmMain.dcMsgBody.Lines]\n"
                               "Count=3\n"
                               "Item0=Hello,\n"
                               "Item1=\n"
                               "Item2=\"  indented line\"\n"),
                 file.constData());

        TStandInForm next;
        Restore(&next);
        QCOMPARE(next.eName->text(), QString("Ann Example"));
        QCOMPARE(next.eAddress->text(), QString("ann@example.com"));
        QCOMPARE(next.eSubject->text(), QString("Hello world"));
        QCOMPARE(next.eHost->text(), QString("news.example.com:1119"));
        QCOMPARE(next.eOrganization->text(), QString("Example Org"));
        QCOMPARE(next.eNewsreader->text(), QString(""));
        QCOMPARE(next.eUserName->text(), QString("ann"));
        QCOMPARE(next.ePassword->text(), QString("p4ss word"));
        QCOMPARE(next.eProxy->text(), QString("proxy.example.com"));
        QCOMPARE(next.seTimeout->value(), -15);
        QVERIFY(next.cbLogon->isChecked());
        QCOMPARE(next.BodyLines(), QStringList({"Hello,", "", "  indented line"}));
    }

    void missingFileKeepsDefaults() {
        TStandInForm form;
        form.eHost->setText("preset");
        Restore(&form);
        QCOMPARE(form.eNewsreader->text(), QString("Heraldix"));
        QCOMPARE(form.eHost->text(), QString("preset"));
        QCOMPARE(form.seTimeout->value(), 60);
        QVERIFY(!form.cbLogon->isChecked());
        QVERIFY(form.BodyLines().isEmpty());
        QVERIFY(!QFile::exists(Path())); // a restore never creates the file
    }

    void finalLineBreakSurvives() {
        TStandInForm form;
        form.dcMsgBody->setPlainText("Hello,\n...comma\n");
        Save(&form);
        TStandInForm next;
        Restore(&next);
        QCOMPARE(next.dcMsgBody->toPlainText(), QString("Hello,\n...comma\n"));
    }

    void clearedBodyRemovesItsSection() {
        TStandInForm form;
        form.dcMsgBody->setPlainText("one\ntwo\n"); // the final line break adds no line
        Save(&form);
        QCOMPARE(Value("TfrmMain.dcMsgBody.Lines", "Count"), QString("2"));

        form.dcMsgBody->clear();
        Save(&form);
        QVERIFY2(!ReadFile().contains("dcMsgBody.Lines]"), ReadFile().constData());

        TStandInForm next;
        next.dcMsgBody->setPlainText("left over");
        Restore(&next);
        QCOMPARE(next.BodyLines(), QStringList({"left over"})); // no section: body unchanged
    }

    // Values as a user might type them into the file with a text editor.
    void handEditedValues_data() {
        QTest::addColumn<QByteArray>("section");
        QTest::addColumn<bool>("logon");
        QTest::addColumn<int>("timeout");
        QTest::addColumn<QStringList>("body");
        const QStringList untouched{"untouched"};
        QTest::newRow("small letters")
            << QByteArray("[tfrmmain]\ncblogon.checked=true\n") << true << 60 << untouched;
        QTest::newRow("capitals and blanks")
            << QByteArray("[TFRMMAIN]\nCBLOGON.CHECKED =  TRUE \nSETIMEOUT.VALUE= 90\n") << true
            << 90 << untouched;
        QTest::newRow("other boolean text kept")
            << QByteArray("[TfrmMain]\ncbLogon.Checked=yes\n") << false << 60 << untouched;
        QTest::newRow("not a number is 0")
            << QByteArray("[TfrmMain]\nseTimeout.Value=sixty\n") << false << 0 << untouched;
        QTest::newRow("too large a number is 0")
            << QByteArray("[TfrmMain]\nseTimeout.Value=99999999999\n") << false << 0 << untouched;
        QTest::newRow("item missing in between")
            << QByteArray("[TfrmMain.dcMsgBody.Lines]\ncount=3\nitem0=a\nITEM2=c\n") << false << 60
            << QStringList({"a", "", "c"});
        QTest::newRow("count not a number")
            << QByteArray("[TfrmMain.dcMsgBody.Lines]\nCount=x\nItem0=a\n") << false << 60
            << untouched;
        QTest::newRow("count larger than the items")
            << QByteArray("[TfrmMain.dcMsgBody.Lines]\nCount=2000000000\nItem0=a\nItem1=b\n")
            << false << 60 << QStringList({"a", "b"});
        QTest::newRow("items beyond count ignored")
            << QByteArray("[TfrmMain.dcMsgBody.Lines]\nCount=1\nItem0=a\nItem1=b\n") << false << 60
            << QStringList({"a"});
    }
    void handEditedValues() {
        QFETCH(QByteArray, section);
        WriteFile(section);
        TStandInForm form;
        form.dcMsgBody->setPlainText("untouched");
        Restore(&form);
        QTEST(form.cbLogon->isChecked(), "logon");
        QTEST(form.seTimeout->value(), "timeout");
        QTEST(form.BodyLines(), "body");
    }

    // Entries naming controls or properties the form does not have are passed over.
    void unknownEntriesSkipped() {
        TStandInForm form;
        form.eName->setText("Ann");
        TIniFileStore store;
        store.ExeDir = m_dir.path();
        TComponentState fields;
        fields.Form = &form;
        fields.IniStore = &store;
        fields.Section = "S";
        fields.StoredProperties = {"nothere.Text", "eName.Nope", "eName", ".Text", "eName.Text"};
        store.Open();
        fields.Save();
        QCOMPARE(store.ReadSection("S"), QStringList({"eName.Text"}));
        store.WriteString("S", "eName.Text", "Bob");
        fields.Restore();
        QCOMPARE(form.eName->text(), QString("Bob"));
        fields.Active = false;
        store.WriteString("S", "eName.Text", "Carl");
        fields.Restore();
        QCOMPARE(form.eName->text(), QString("Bob"));
    }

    void linesPropertyRoundTrips() {
        QWidget form;
        auto* body = new TLinesEditor(&form);
        body->setObjectName("dcMsgBody");
        body->SetLines({"first", "", "  third"});
        Save(&form);
        QCOMPARE(Value("TfrmMain.dcMsgBody.Lines", "Count"), QString("3"));
        QWidget next;
        auto* restored = new TLinesEditor(&next);
        restored->setObjectName("dcMsgBody");
        Restore(&next);
        QCOMPARE(restored->Lines(), QStringList({"first", "", "  third"}));
    }

    void normalPlacementRoundTrips() {
        TStandInForm first;
        first.setGeometry(40, 50, 420, 330);
        first.show();
        QVERIFY(QTest::qWaitForWindowExposed(&first));
        const QRect saved = first.geometry();
        Save(&first);
        QCOMPARE(Value("TfrmMain", "ShowCmd"), QString("1"));
        QCOMPARE(Value("TfrmMain", "NormalPos"), QString("%1,%2,%3,%4")
                                                     .arg(saved.left())
                                                     .arg(saved.top())
                                                     .arg(saved.left() + saved.width())
                                                     .arg(saved.top() + saved.height()));
        QCOMPARE(Value("TfrmMain", "PixelsPerInch"),
                 QString::number(TFormState::PixelsPerInch(&first)));

        TStandInForm next;
        Restore(&next);
        next.show();
        QVERIFY(QTest::qWaitForWindowExposed(&next));
        QCOMPARE(next.geometry(), saved);
        QVERIFY(!next.isMaximized());
    }

    void maximizedRestoresMaximized() {
        TStandInForm first;
        first.setGeometry(30, 40, 400, 300);
        first.show();
        QVERIFY(QTest::qWaitForWindowExposed(&first));
        const QRect normal = first.geometry();
        first.showMaximized();
        QTRY_VERIFY(first.isMaximized());
        Save(&first);
        QCOMPARE(Value("TfrmMain", "ShowCmd"), QString("3"));
        QCOMPARE(Value("TfrmMain", "NormalPos"),
                 QStringLiteral("30,40,430,%1").arg(40 + normal.height()));

        TStandInForm next;
        Restore(&next);
        next.show();
        QVERIFY(QTest::qWaitForWindowExposed(&next));
        QTRY_VERIFY(next.isMaximized());
        QCOMPARE(next.normalGeometry(), normal);
    }

    void otherResolutionRestoresFieldsOnly() {
        TStandInForm probe;
        const int ppi = TFormState::PixelsPerInch(&probe);
        WriteFile(QStringLiteral("[TfrmMain]\neSubject.Text=kept\nFlags=0\nShowCmd=3\n"
                                 "NormalPos=10,20,310,220\nPixelsPerInch=%1\n")
                      .arg(ppi + 24)
                      .toUtf8());
        TStandInForm form;
        form.setGeometry(50, 60, 400, 300);
        Restore(&form);
        QCOMPARE(form.eSubject->text(), QString("kept"));
        QCOMPARE(form.geometry(), QRect(50, 60, 400, 300));
        QVERIFY(!(form.windowState() & Qt::WindowMaximized));
    }

    void unusablePlacementIgnored_data() {
        QTest::addColumn<QString>("normalPos");
        QTest::addColumn<QRect>("expected");
        QTest::newRow("left not less than right") << "300,20,300,220" << QRect(50, 60, 400, 300);
        QTest::newRow("upside down") << "10,220,310,20" << QRect(50, 60, 400, 300);
        QTest::newRow("on no screen") << "90000,90000,90400,90300" << QRect(50, 60, 400, 300);
        QTest::newRow("missing numbers take the current ones")
            << "10,20" << QRect(10, 20, 440, 340);
        QTest::newRow("garbage") << "a,b,c,d" << QRect(50, 60, 400, 300);
        QTest::newRow("widest ints") << "-2147483648,0,2147483647,100" << QRect(50, 60, 400, 300);
        QTest::newRow("tallest ints") << "0,-2147483648,100,2147483647" << QRect(50, 60, 400, 300);
        QTest::newRow("extremes reversed")
            << "2147483647,2147483647,-2147483648,-2147483648" << QRect(50, 60, 400, 300);
        QTest::newRow("one past the largest window")
            << "0,0,16777216,100" << QRect(50, 60, 400, 300);
    }
    void unusablePlacementIgnored() {
        QFETCH(QString, normalPos);
        TStandInForm form;
        form.setGeometry(50, 60, 400, 300);
        WriteFile(QStringLiteral("[TfrmMain]\nNormalPos=%1\nPixelsPerInch=%2\n")
                      .arg(normalPos)
                      .arg(TFormState::PixelsPerInch(&form))
                      .toUtf8());
        Restore(&form);
        QTEST(form.geometry(), "expected");
    }

    void customColorWritten() {
        TStandInForm form;
        QPalette palette = form.palette();
        palette.setColor(QPalette::Window, QColor(0x11, 0x22, 0x33));
        form.setPalette(palette);
        Save(&form);
        QCOMPARE(Value("TfrmMain", "Color"), QString::number(0x332211));
    }
};

QTEST_MAIN(tst_settings_state)
#include "tst_settings_state.moc"
