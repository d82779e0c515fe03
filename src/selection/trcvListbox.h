#pragma once

#include "selection/TGroupList.h"

#include <QListView>
#include <cstdint>
#include <vector>

class TGroupListModel;
class TMarkSelectionModel;

// A list of newsgroups on screen. It owns its entries (`Items`, kept sorted and free of
// duplicates) and draws each row only when the view needs it, so a list of a million groups
// costs no widgets and no copies.
//
// Selection marks belong to row positions, not to entries: adding, removing or replacing entries
// leaves `SelectedFlags` as it is (only DeleteSelected clears them). Every mouse and keyboard
// gesture that changes the selection of a multi-select list (click, Ctrl-click, Shift-click,
// Ctrl+A, the arrow keys) goes through SetSelection; the view's own selection is only a mirror of
// the marks of rows 0 .. Count-1. Rows at MarkCount and beyond cannot be marked.
class trcvListbox : public QListView {
    Q_OBJECT
public:
    static constexpr int MarkCount = 1000001;
    static constexpr int RowHeight = 13;

    explicit trcvListbox(QWidget* parent = nullptr);
    ~trcvListbox() override;

    TGroupList& Items() { return FItems; }
    const TGroupList& Items() const { return FItems; }
    int Count() const { return FItems.Count(); }

    char Delimiter() const;
    void SetDelimiter(char delimiter);
    // The text shown for `row`; empty outside 0 .. Count-1.
    QString RowText(int row) const;

    bool MultiSelect() const { return FMultiSelect; }
    void SetMultiSelect(bool multiSelect);
    // When on, rows are as wide as the widest entry and the list scrolls sideways; meant for
    // short lists, since it measures every entry after each change.
    void SetHorizontalExtent(bool on);

    // The set-selection callback: `index` -1 sets all MarkCount marks, otherwise the mark of one
    // row (ignored outside 0 .. MarkCount-1).
    void SetSelection(int index, bool value);
    // The mark of `index` when it is a row of the list, false otherwise.
    bool IsSelected(int index) const;
    const std::vector<uint8_t>& SelectedFlags() const { return FSelectedFlags; }

    // The focused row, -1 when none.
    int ItemIndex() const;
    // Focuses `row` without changing any mark; a row outside the list leaves none focused.
    void SetItemIndex(int row);

    // Bulk changes between these repaint and relayout the view once.
    void BeginUpdate();
    void EndUpdate();

    // Deletes the entries of the marked rows when a row is focused, clears every mark in any
    // case, then focuses the row before the one that was focused (row 0 when it was 0 or none).
    void DeleteSelected();

public slots:
    void selectAll() override;

signals:
    // A double click anywhere in the list, with or without a row under the pointer.
    void DoubleClicked();

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;

private:
    friend class TMarkSelectionModel;
    // Applies a selection gesture of the view to the marks.
    void ApplySelectionCommand(const QItemSelection& selection, uint32_t command);
    // Makes the view's selection show the marks of rows 0 .. Count-1.
    void MirrorMarks();
    void ItemsChanged();
    void UpdateExtent();

    TGroupList FItems;
    std::vector<uint8_t> FSelectedFlags;
    TGroupListModel* FModel = nullptr;
    TMarkSelectionModel* FSelection = nullptr;
    bool FMultiSelect = true;
    bool FHorizontalExtent = false;
    bool FBatchMarks = false;
    int FRowBeforeReset = -1;
    int FRowWidth = 0;
};
