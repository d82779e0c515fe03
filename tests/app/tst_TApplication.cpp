// Exceptions never cross the event loop: whatever a window event, a button's command or a
// network notification throws is shown in a message box and the loop goes on.
#include "app/TApplication.h"
#include "net/TIpExceptionReporter.h"
#include "selection/EFileError.h"
#include "selection/TScriptedPrompts.h"

#include <QPushButton>
#include <QTest>
#include <QTimer>

class TThrowingObject : public QObject {
protected:
    bool event(QEvent* event) override {
        if (event->type() == QEvent::User)
            throw EFileError("Cannot open file \"x\". No such file or directory");
        return QObject::event(event);
    }
};

class tst_TApplication : public QObject {
    Q_OBJECT

    TScriptedPrompts* FPrompts = nullptr;

private slots:
    void init() { FPrompts = TScriptedPrompts::InstallNew(); }
    void cleanup() { TPrompts::Install(nullptr); }

    void applicationTitle() {
        QCOMPARE(QApplication::applicationDisplayName(), QStringLiteral("Heraldix"));
    }

    void exceptionFromAnEventIsShown() {
        TThrowingObject target;
        QCoreApplication::postEvent(&target, new QEvent(QEvent::User));
        QCoreApplication::postEvent(&target, new QEvent(QEvent::User));
        QTRY_COMPARE(FPrompts->Messages().size(), 2);
        QCOMPARE(FPrompts->Messages()[0],
                 QStringLiteral("Cannot open file \"x\". No such file or directory"));
    }

    void exceptionFromACommandIsShownAndTheLoopGoesOn() {
        QPushButton button;
        int clicks = 0;
        connect(&button, &QPushButton::clicked, [&] {
            if (++clicks == 1)
                throw std::runtime_error("first click fails");
        });
        button.show();
        QVERIFY(QTest::qWaitForWindowExposed(&button));
        QTest::mouseClick(&button, Qt::LeftButton);
        QTest::mouseClick(&button, Qt::LeftButton);
        QCOMPARE(clicks, 2);
        QCOMPARE(FPrompts->Messages(), QStringList{"first click fails"});

        bool ran = false;
        QTimer::singleShot(0, [&] { ran = true; });
        QTRY_VERIFY(ran);
    }

    void networkNotificationsReportThroughTheSameBox() {
        ReportIpException(std::runtime_error("Connection refused"));
        QCOMPARE(FPrompts->Messages(), QStringList{"Connection refused"});
    }
};

int main(int argc, char* argv[]) {
    TApplication app(argc, argv);
    tst_TApplication test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_TApplication.moc"
