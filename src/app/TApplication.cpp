#include "app/TApplication.h"

#include "net/TIpExceptionReporter.h"
#include "selection/TPrompts.h"

TApplication::TApplication(int& argc, char** argv) : QApplication(argc, argv) {
    setApplicationName(QStringLiteral("Heraldix"));
    setApplicationDisplayName(QStringLiteral("Heraldix"));
    setApplicationVersion(QStringLiteral(HERALDIX_VERSION));
    SetIpExceptionReporter(&TApplication::ShowException);
}

TApplication::~TApplication() {
    SetIpExceptionReporter({});
}

bool TApplication::notify(QObject* receiver, QEvent* event) {
    try {
        return QApplication::notify(receiver, event);
    } catch (const std::exception& error) {
        ShowException(error);
    } catch (...) {
        ShowException(std::runtime_error("Unknown error"));
    }
    return false;
}

void TApplication::ShowException(const std::exception& error) {
    TPrompts::Current().ShowMessage(activeWindow(), QString::fromUtf8(error.what()));
}
