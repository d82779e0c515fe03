#pragma once

#include <QDialog>
#include <QString>

class QLabel;
class QPushButton;
class TURLLabel;

// The About window: the program's picture, a link to its web site and its version. It is made
// once, shown from the Help menu, hidden by OK and kept until the program ends.
class TAboutBox : public QDialog {
    Q_OBJECT

public:
    // The version this build carries.
    static QString ProgramVersion();

    explicit TAboutBox(QWidget* parent = nullptr);
    // With an empty version the window keeps the plain caption "About" and shows no version.
    TAboutBox(const QString& version, QWidget* parent);

    QLabel* Image1 = nullptr;
    TURLLabel* URLLabel1 = nullptr;
    QLabel* Label3 = nullptr;
    QPushButton* OKButton = nullptr;

protected:
    void showEvent(QShowEvent* event) override;
};
