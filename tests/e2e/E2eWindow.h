#pragma once

// What the end-to-end tests share: a main window in a directory of its own with scripted
// prompts, driven through its widgets, and a reader's view of a posted article.

#include "app/TfrmMain.h"
#include "selection/TBodyEditor.h"
#include "selection/TScriptedPrompts.h"
#include "selection/trcvListbox.h"

#include <QCheckBox>
#include <QComboBox>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QProcess>
#include <QPushButton>
#include <QSpinBox>
#include <QTemporaryDir>
#include <QTest>
#include <QToolButton>

#include <memory>

class E2eWindow {
public:
    // `programDir` is where the window keeps its files; a directory of its own when empty.
    explicit E2eWindow(const QString& host, const QString& programDir = {})
        : FProgramDir(programDir.isEmpty() ? FDir.path() : programDir) {
        Prompts = TScriptedPrompts::InstallNew();
        Window = std::make_unique<TfrmMain>(FProgramDir);
        Window->eHost->setText(host);
        Window->eAddress->setText(QStringLiteral("poster@example.com"));
        // A message the checks before a run find nothing wrong with.
        Window->eSubject->setText(QStringLiteral("Test"));
        Window->dcMsgBody->SetLines({QStringLiteral("Test.")});
        // The tests speak to the server's plain port unless they choose encryption, over one
        // connection unless they choose more.
        Window->cbSecurity->setCurrentIndex(0);
        Window->seConnections->setValue(1);
    }
    ~E2eWindow() {
        Window.reset();
        TPrompts::Install(nullptr);
    }

    void SetGroups(const std::vector<std::string>& groups) {
        Window->trcvToPost->Items().Assign(groups);
    }
    void LogOn(const QString& user, const QString& password) {
        Window->cbLogon->setChecked(true);
        Window->eUserName->setText(user);
        Window->ePassword->setText(password);
    }
    void PressPost() { QTest::mouseClick(Window->spdPost, Qt::LeftButton); }
    void PressAbort() { QTest::mouseClick(Window->spbAbort, Qt::LeftButton); }
    int MessageCount(const QString& text) const { return Prompts->Messages().count(text); }
    QString Log() const { return Window->LogText(); }
    QString Dir() const { return FProgramDir; }

    std::unique_ptr<TfrmMain> Window;
    TScriptedPrompts* Prompts = nullptr;

private:
    QTemporaryDir FDir;
    QString FProgramDir;
};

// The leaf parts of a raw article as Python's email package decodes them: a list of objects with
// type, charset, encoding, filename, disposition, payload (base64 of the decoded bytes) and, for
// text parts, text.
inline QJsonObject ReadArticleParts(const QString& raw) {
    QProcess python;
    python.start(QStringLiteral("python3"),
                 {qEnvironmentVariable("HERALDIX_SOURCE_DIR", HERALDIX_SOURCE_DIR) +
                  QStringLiteral("/tests/e2e/article_parts.py")});
    python.write(raw.toUtf8());
    python.closeWriteChannel();
    if (!python.waitForFinished(60000) || python.exitCode() != 0)
        return {};
    return QJsonDocument::fromJson(python.readAllStandardOutput()).object();
}
