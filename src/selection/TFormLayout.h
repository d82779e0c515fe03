#pragma once

// Small pieces the main window and the wizard build their forms from, so that controls both
// forms carry look and are found (by object name) the same way in each.

#include <QString>

class QCheckBox;
class QComboBox;
class QGridLayout;
class QLineEdit;
class QWidget;

// Gives `widget` its object name and hands it back, for creating and naming in one expression.
template <typename T> T* Named(T* widget, const char* name) {
    widget->setObjectName(QString::fromLatin1(name));
    return widget;
}

// A caption in column 0 and a named edit in column 1 of `row`; the caption's buddy is the edit.
QLineEdit* AddEditRow(QGridLayout* grid, int row, const QString& caption, const char* name,
                      QWidget* parent);

// The "log on to the news server" box, caption to the left of the box, named cbLogon.
QCheckBox* NewLogonCheckBox(QWidget* parent);

// "Connection security:" and its choice, named cbSecurity, in `row`. The items are in the order
// of the client's security modes (none, TLS, STARTTLS); TLS is chosen.
QComboBox* AddSecurityRow(QGridLayout* grid, int row, QWidget* parent);

// "Followup-To:" and "Reply-To:", named eFollowupTo and eReplyTo, in `row` and the row below.
// Both are optional; their hints say what goes in.
void AddReplyRows(QGridLayout* grid, int row, QWidget* parent, QLineEdit*& followupTo,
                  QLineEdit*& replyTo);
