#include "selection/TFormLayout.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>

QLineEdit* AddEditRow(QGridLayout* grid, int row, const QString& caption, const char* name,
                      QWidget* parent) {
    auto* const label = new QLabel(caption, parent);
    auto* const edit = Named(new QLineEdit(parent), name);
    label->setBuddy(edit);
    grid->addWidget(label, row, 0);
    grid->addWidget(edit, row, 1);
    return edit;
}

QCheckBox* NewLogonCheckBox(QWidget* parent) {
    auto* const box =
        Named(new QCheckBox(QStringLiteral("Check here if you need to logon to your newsserver."),
                            parent),
              "cbLogon");
    box->setLayoutDirection(Qt::RightToLeft);
    return box;
}

QComboBox* AddSecurityRow(QGridLayout* grid, int row, QWidget* parent) {
    auto* const label = new QLabel(QStringLiteral("Connection security:"), parent);
    auto* const box = Named(new QComboBox(parent), "cbSecurity");
    box->addItems({QStringLiteral("None"), QStringLiteral("TLS (encrypted port, usually 563)"),
                   QStringLiteral("STARTTLS (encrypted after connecting)")});
    box->setCurrentIndex(1);
    label->setBuddy(box);
    grid->addWidget(label, row, 0);
    grid->addWidget(box, row, 1, Qt::AlignLeft);
    return box;
}

void AddReplyRows(QGridLayout* grid, int row, QWidget* parent, QLineEdit*& followupTo,
                  QLineEdit*& replyTo) {
    followupTo = AddEditRow(grid, row, QStringLiteral("Followup-To:"), "eFollowupTo", parent);
    followupTo->setPlaceholderText(QStringLiteral("optional: groups, comma-separated, or poster"));
    replyTo = AddEditRow(grid, row + 1, QStringLiteral("Reply-To:"), "eReplyTo", parent);
    replyTo->setPlaceholderText(QStringLiteral("optional: an address for replies by mail"));
}
