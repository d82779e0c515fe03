#pragma once

// What each main-window test function starts from: a program directory of its own, for the list
// and settings files, and scripted prompts. A test class calls BeginTest in init() and EndTest
// in cleanup().

#include "selection/TScriptedPrompts.h"
#include "support/TestFiles.h"

#include <QTemporaryDir>
#include <QTest>

#include <memory>

class MainWindowFixture {
protected:
    void BeginTest() {
        FDir = std::make_unique<QTemporaryDir>();
        FPrompts = TScriptedPrompts::InstallNew();
    }
    void EndTest() {
        TPrompts::Install(nullptr);
        FPrompts = nullptr;
        FDir.reset();
    }

    QString Path(const QString& name) const { return FDir->filePath(name); }
    void Write(const QString& name, const QByteArray& bytes) const {
        QVERIFY(WriteTestFile(Path(name), bytes));
    }
    // The file's content, or "<missing>".
    QByteArray Read(const QString& name) const { return ReadTestFile(Path(name), "<missing>"); }

    std::unique_ptr<QTemporaryDir> FDir;
    TScriptedPrompts* FPrompts = nullptr;
};
