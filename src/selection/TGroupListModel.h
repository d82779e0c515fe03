#pragma once

#include "selection/TGroupList.h"

#include <QAbstractListModel>

// Presents a TGroupList to a Qt view without copying it: each row's text is produced when the
// view asks for it. Changes of the list become row insertions and removals; between BeginUpdate
// and the matching EndUpdate all changes together become one model reset, so the view lays out
// and repaints once.
class TGroupListModel : public QAbstractListModel, private TGroupListObserver {
    Q_OBJECT
public:
    TGroupListModel(TGroupList& list, QObject* parent = nullptr);
    ~TGroupListModel() override;

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;

    // NUL shows every entry whole; any other character shows the part of the entry before its
    // first occurrence (an entry without it shows as empty).
    char Delimiter() const { return FDelimiter; }
    void SetDelimiter(char delimiter);
    QString RowText(int row) const;

    void BeginUpdate();
    void EndUpdate();
    bool Updating() const { return FUpdateDepth > 0; }

signals:
    // After the entries changed and the view knows of it (at the end of an update, when one
    // was open).
    void ItemsChanged();

private:
    void ListAboutToInsert(int row) override;
    void ListInserted() override;
    void ListAboutToRemove(int first, int last) override;
    void ListRemoved() override;
    void ListAboutToReset() override;
    void ListReset() override;
    // Inside an update the first change opens the model reset that EndUpdate closes.
    bool DeferToUpdate();

    TGroupList& FList;
    char FDelimiter = '\0';
    int FUpdateDepth = 0;
    bool FResetPending = false;
};
