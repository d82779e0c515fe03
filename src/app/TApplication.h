#pragma once

#include <QApplication>

#include <exception>

// The application object. No exception may leave an event handler into Qt's event loop: every
// one that escapes a command, a window event or a network notification is shown to the user in a
// message box (through the prompt seam) and the program goes on.
class TApplication : public QApplication {
    Q_OBJECT
public:
    TApplication(int& argc, char** argv);
    ~TApplication() override;

    bool notify(QObject* receiver, QEvent* event) override;

    static void ShowException(const std::exception& error);
};
