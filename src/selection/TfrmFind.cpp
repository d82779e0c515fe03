#include "selection/TfrmFind.h"

#include "selection/TPrompts.h"
#include "selection/trcvListbox.h"

#include <QEvent>
#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>
#include <QScreen>
#include <QToolButton>
#include <QVBoxLayout>
#include <cstring>
#include <vector>

static constexpr int kClientWidth = 384;
static constexpr int kClientHeight = 203;

TfrmFind::TfrmFind(TMainWindowAccess main, QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint),
      FMain(std::move(main)) {
    setObjectName(QStringLiteral("frmFind"));
    setWindowTitle(QStringLiteral("Find"));
    CreateControls();
    ShowFoundCount();
    if (FMain.trcvNewsgroups) {
        const QAbstractItemModel* const names = FMain.trcvNewsgroups->model();
        const auto drop = [this] { FIndex.Drop(); };
        connect(names, &QAbstractItemModel::modelAboutToBeReset, this, drop);
        connect(names, &QAbstractItemModel::modelReset, this, drop);
        connect(names, &QAbstractItemModel::rowsAboutToBeInserted, this, drop);
        connect(names, &QAbstractItemModel::rowsInserted, this, drop);
        connect(names, &QAbstractItemModel::rowsAboutToBeRemoved, this, drop);
        connect(names, &QAbstractItemModel::rowsRemoved, this, drop);
    }
}

void TfrmFind::CreateControls() {
    auto* const outer = new QVBoxLayout(this);
    outer->setContentsMargins(0, 0, 0, 0);
    outer->setSpacing(0);

    auto* const body = new QGridLayout;
    body->setContentsMargins(8, 8, 8, 4);
    body->setHorizontalSpacing(8);
    body->setVerticalSpacing(4);

    auto* const caption = new QLabel(QStringLiteral("Find groups with this text:"), this);
    eFindText = new QLineEdit(this);
    eFindText->setObjectName(QStringLiteral("eFindText"));
    eFindText->setToolTip(QStringLiteral("Enter the text you wish to search for here."));
    caption->setBuddy(eFindText);
    trcvFindGroups = new trcvListbox(this);
    trcvFindGroups->setObjectName(QStringLiteral("trcvFindGroups"));
    trcvFindGroups->setAccessibleName(QStringLiteral("Found groups"));
    trcvFindGroups->setToolTip(
        QStringLiteral("The groups that have the text in them from the box above will appear "
                       "here after you press the find groups button."));
    body->addWidget(caption, 0, 0);
    body->addWidget(eFindText, 1, 0);
    body->addWidget(trcvFindGroups, 2, 0);

    auto* const column = new QVBoxLayout;
    column->setSpacing(2);
    const auto add = [&](QToolButton*& button, const char* name, const QString& text,
                         const QString& hint, void (TfrmFind::*command)()) {
        button = new QToolButton(this);
        button->setObjectName(QString::fromLatin1(name));
        button->setText(text);
        button->setToolTip(hint);
        button->setAutoRaise(true);
        button->setToolButtonStyle(Qt::ToolButtonTextOnly);
        button->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
        button->setMinimumHeight(28);
        column->addWidget(button);
        connect(button, &QToolButton::clicked, this, command);
    };
    add(sbFind, "sbFind", QStringLiteral("Find Now"),
        QStringLiteral("Press this button to find the groups that have the text above."),
        &TfrmFind::sbFindClick);
    add(sbSelectAll, "sbSelectAll", QStringLiteral("Select all"),
        QStringLiteral("Select all the groups in the listbox"), &TfrmFind::sbSelectAllClick);
    add(sbSendtoPost, "sbSendtoPost", QStringLiteral("to Post"),
        QStringLiteral("this button send the groups you selected to the posting area."),
        &TfrmFind::sbSendtoPostClick);
    add(sbClear, "sbClear", QStringLiteral("Clear"), QString(), &TfrmFind::sbClearClick);
    add(sbClose, "sbClose", QStringLiteral("Close"), QStringLiteral("Hide this window"),
        &TfrmFind::sbCloseClick);
    column->addStretch();
    body->addLayout(column, 0, 1, 3, 1);
    body->setColumnStretch(0, 1);
    body->setColumnMinimumWidth(1, 90);
    body->setRowStretch(2, 1);
    outer->addLayout(body, 1);

    FStatus = new QLabel(this);
    FStatus->setObjectName(QStringLiteral("StatusBar1"));
    FStatus->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    FStatus->setContentsMargins(4, 1, 4, 1);
    outer->addWidget(FStatus);

    eFindText->setFocus();
    setFixedSize(kClientWidth, kClientHeight);
}

bool TfrmFind::Contains(std::string_view entry, std::string_view text) {
    if (text.empty() || text.size() > entry.size())
        return false;
    return memmem(entry.data(), entry.size(), text.data(), text.size()) != nullptr;
}

void TfrmFind::sbFindClick() {
    const QByteArray typed = eFindText->text().toUtf8();
    const std::string_view text(typed.constData(), static_cast<size_t>(typed.size()));
    // Views of the hits, in the main list's order; only the names new to the results are
    // copied, while merging them in.
    std::vector<std::string_view> found;
    if (!text.empty() && FMain.trcvNewsgroups) {
        const TGroupList& names = FMain.trcvNewsgroups->Items();
        if (TGroupSearchIndex::CanSearch(text) && (FIndex.IsBuilt() || FIndex.Build(names))) {
            const std::vector<int> rows = FIndex.Rows(text);
            found.reserve(rows.size());
            for (const int row : rows)
                found.push_back(FIndex.Name(row));
        } else {
            for (const std::string_view name : names.Entries())
                if (Contains(name, text))
                    found.emplace_back(name);
        }
    }
    trcvFindGroups->BeginUpdate();
    trcvFindGroups->Items().AddSorted(std::move(found));
    trcvFindGroups->EndUpdate();
    ShowFoundCount();
}

void TfrmFind::sbSelectAllClick() {
    trcvFindGroups->BeginUpdate();
    trcvFindGroups->SetSelection(-1, true);
    trcvFindGroups->EndUpdate();
}

void TfrmFind::sbSendtoPostClick() {
    if (trcvFindGroups->Count() == 0) {
        TPrompts::Current().ShowMessage(
            this, QStringLiteral("You forgot to select the newsgroups you want to post."));
        return;
    }
    // Marked rows come in list order: one merge, no sort. The views are of the results' rows,
    // which stay until the marked ones are deleted below.
    std::vector<std::string_view> marked;
    const TGroupList& found = trcvFindGroups->Items();
    for (int row = 0; row < found.Count(); ++row)
        if (trcvFindGroups->IsSelected(row))
            marked.push_back(found[row]);
    if (FMain.trcvToPost)
        FMain.trcvToPost->Items().AddSorted(marked);
    if (FWizardToPost)
        FWizardToPost->Items().AddSorted(std::move(marked));
    // The sent rows leave the results only when a row is current; the marks go in any case.
    trcvFindGroups->DeleteSelected();
    ShowFoundCount();
}

void TfrmFind::EmptyResults() {
    trcvFindGroups->BeginUpdate();
    trcvFindGroups->Items().Clear();
    trcvFindGroups->SetSelection(-1, false);
    trcvFindGroups->EndUpdate();
}

void TfrmFind::sbClearClick() {
    EmptyResults();
    ShowFoundCount();
}

void TfrmFind::sbCloseClick() {
    EmptyResults();
    ShowFoundCount();
    done(QDialog::Accepted);
}

// Escape and the window manager's close end the window the way Close does.
void TfrmFind::reject() {
    sbCloseClick();
}

void TfrmFind::ShowFoundCount() {
    FStatus->setText(QString::number(trcvFindGroups->Count()) + QStringLiteral(" addresses"));
}

QString TfrmFind::StatusText() const {
    return FStatus->text();
}

void TfrmFind::PlaceWindow() {
    if (!FMain.Window)
        return;
    const QRect mainFrame = FMain.Window->frameGeometry();
    const QRect own = frameGeometry();
    int left = mainFrame.left();
    if (FMain.ButtonColumn)
        left += FMain.ButtonColumn->mapTo(FMain.Window, QPoint(0, 0)).x();
    const int top = mainFrame.top() + mainFrame.height() - own.height();
    if (const QScreen* const display = FMain.Window->screen()) {
        const QRect area = display->geometry();
        if (left + own.width() > area.left() + area.width())
            left = area.left() + area.width() - own.width();
    }
    move(left, top);
}

void TfrmFind::showEvent(QShowEvent* event) {
    PlaceWindow();
    QDialog::showEvent(event);
}

void TfrmFind::hideEvent(QHideEvent* event) {
    FIndex.Drop();
    QDialog::hideEvent(event);
}

void TfrmFind::changeEvent(QEvent* event) {
    if (event->type() == QEvent::ActivationChange && isActiveWindow())
        PlaceWindow();
    QDialog::changeEvent(event);
}
