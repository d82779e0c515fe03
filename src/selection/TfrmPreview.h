#pragma once

#include "posting/TArticlePreview.h"

#include <QDialog>

class QLabel;
class QListWidget;
class QPlainTextEdit;
class QPushButton;

// What a posting run would send, shown before anything goes out: the first article whole, as
// the server would receive it, and a line for each article of the run (its groups and its size).
// It only reads the request it is given; nothing is sent and no field of the window it was
// opened from changes. Opened modal to that window (the wizard's preview stays above the wizard).
class TfrmPreview : public QDialog {
    Q_OBJECT
public:
    explicit TfrmPreview(QWidget* parent = nullptr);

    // Composes the run's articles with `composer` and shows them. Raises what composing raises
    // (no address, an attachment that cannot be read), before anything is shown.
    void ShowRun(const TNewsRequest& request, const TArticleComposer& composer);
    // A preview of `request` opened over `owner` and deleted when closed; null, with the reason
    // in a message box, when the articles cannot be composed.
    static TfrmPreview* Open(QWidget* owner, const TNewsRequest& request,
                             const TArticleComposer& composer);
    // "alt.test,misc.test  1234 bytes"
    static QString ArticleLine(const TArticlePreview::TArticle& article);

    QLabel* lblArticle = nullptr;
    QPlainTextEdit* mArticle = nullptr;
    QLabel* lblExample = nullptr;
    QLabel* lblArticles = nullptr;
    QListWidget* lbArticles = nullptr;
    QPushButton* btnClose = nullptr;
};
