#include "selection/trcvListbox.h"

#include "selection/TGroupListModel.h"

#include <QItemSelectionModel>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QStyledItemDelegate>
#include <algorithm>

// Routes the view's selection gestures to the owning list's marks. While the list mirrors its
// marks into the view (or when the list is single-select) requests go to the base class as usual.
class TMarkSelectionModel : public QItemSelectionModel {
public:
    TMarkSelectionModel(QAbstractItemModel* model, trcvListbox* owner)
        : QItemSelectionModel(model, owner), FOwner(owner) {}

    void select(const QModelIndex& index, SelectionFlags command) override {
        select(index.isValid() ? QItemSelection(index, index) : QItemSelection(), command);
    }

    void select(const QItemSelection& selection, SelectionFlags command) override {
        if (FMirroring || !FOwner->MultiSelect()) {
            QItemSelectionModel::select(selection, command);
            return;
        }
        FOwner->ApplySelectionCommand(selection, static_cast<uint32_t>(command.toInt()));
    }

    // The base class clears its selection through select() when the model resets; that is the
    // mirror going stale, not a gesture, so the marks must stay.
    void clear() override {
        FMirroring = true;
        QItemSelectionModel::clear();
        FMirroring = false;
    }

    void reset() override {
        FMirroring = true;
        QItemSelectionModel::reset();
        FMirroring = false;
    }

    void Mirror(const QItemSelection& selection, SelectionFlags command) {
        FMirroring = true;
        QItemSelectionModel::select(selection, command);
        FMirroring = false;
    }

private:
    trcvListbox* FOwner;
    bool FMirroring = false;
};

// Gives every row the same height (the list's row height, or the font's line height when that is
// taller, so no text is cut) and, when asked, the width of the widest entry.
class TGroupRowDelegate : public QStyledItemDelegate {
public:
    using QStyledItemDelegate::QStyledItemDelegate;

    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex&) const override {
        return {FRowWidth, std::max(trcvListbox::RowHeight, option.fontMetrics.height())};
    }

    void SetRowWidth(int width) { FRowWidth = width; }

private:
    int FRowWidth = 0;
};

trcvListbox::trcvListbox(QWidget* parent)
    : QListView(parent), FSelectedFlags(static_cast<size_t>(MarkCount), 0) {
    FModel = new TGroupListModel(FItems, this);
    setModel(FModel);
    FSelection = new TMarkSelectionModel(FModel, this);
    QItemSelectionModel* const oldSelection = selectionModel();
    setSelectionModel(FSelection);
    delete oldSelection;
    setItemDelegate(new TGroupRowDelegate(this));

    setUniformItemSizes(true);
    setSelectionMode(QAbstractItemView::ExtendedSelection);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);

    connect(FModel, &QAbstractItemModel::modelAboutToBeReset, this,
            [this] { FRowBeforeReset = ItemIndex(); });
    connect(FModel, &TGroupListModel::ItemsChanged, this, &trcvListbox::ItemsChanged);
}

trcvListbox::~trcvListbox() {
    // The model refers to FItems, which dies before the children; detach the view first.
    setModel(nullptr);
}

char trcvListbox::Delimiter() const {
    return FModel->Delimiter();
}

void trcvListbox::SetDelimiter(char delimiter) {
    FModel->SetDelimiter(delimiter);
}

QString trcvListbox::RowText(int row) const {
    return FModel->RowText(row);
}

void trcvListbox::SetMultiSelect(bool multiSelect) {
    if (multiSelect == FMultiSelect)
        return;
    FMultiSelect = multiSelect;
    FSelection->Mirror(QItemSelection(), QItemSelectionModel::Clear);
    setSelectionMode(multiSelect ? QAbstractItemView::ExtendedSelection
                                 : QAbstractItemView::SingleSelection);
    MirrorMarks();
}

void trcvListbox::SetHorizontalExtent(bool on) {
    FHorizontalExtent = on;
    setHorizontalScrollBarPolicy(on ? Qt::ScrollBarAsNeeded : Qt::ScrollBarAlwaysOff);
    UpdateExtent();
}

void trcvListbox::SetSelection(int index, bool value) {
    const uint8_t mark = value ? 1 : 0;
    if (index == -1) {
        std::fill(FSelectedFlags.begin(), FSelectedFlags.end(), mark);
        if (!FBatchMarks)
            MirrorMarks();
        return;
    }
    if (index < 0 || index >= MarkCount)
        return;
    FSelectedFlags[static_cast<size_t>(index)] = mark;
    if (FBatchMarks || !FMultiSelect || index >= Count())
        return;
    FSelection->Mirror(QItemSelection(FModel->index(index), FModel->index(index)),
                       value ? QItemSelectionModel::Select : QItemSelectionModel::Deselect);
}

bool trcvListbox::IsSelected(int index) const {
    return index >= 0 && index < Count() && index < MarkCount &&
           FSelectedFlags[static_cast<size_t>(index)] != 0;
}

int trcvListbox::ItemIndex() const {
    const QModelIndex current = currentIndex();
    return current.isValid() ? current.row() : -1;
}

void trcvListbox::SetItemIndex(int row) {
    const QModelIndex index = FModel->index(row);
    FSelection->setCurrentIndex(index, QItemSelectionModel::NoUpdate);
    if (index.isValid())
        scrollTo(index);
}

void trcvListbox::BeginUpdate() {
    if (!FModel->Updating())
        FBatchMarks = true;
    FModel->BeginUpdate();
}

void trcvListbox::EndUpdate() {
    FModel->EndUpdate();
    if (FModel->Updating())
        return;
    FBatchMarks = false;
    MirrorMarks();
}

void trcvListbox::DeleteSelected() {
    const size_t rows = std::min(static_cast<size_t>(Count()), FSelectedFlags.size());
    const std::vector<uint8_t> marks(FSelectedFlags.begin(),
                                     FSelectedFlags.begin() + static_cast<std::ptrdiff_t>(rows));
    const int current = ItemIndex();
    BeginUpdate();
    SetSelection(-1, false);
    if (current >= 0)
        FItems.DeleteMarked(marks);
    EndUpdate();
    SetItemIndex(current > 0 ? current - 1 : 0);
}

void trcvListbox::selectAll() {
    if (FMultiSelect)
        SetSelection(-1, true);
}

void trcvListbox::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_Delete && event->modifiers() == Qt::NoModifier) {
        DeleteSelected();
        event->accept();
        return;
    }
    QListView::keyPressEvent(event);
}

void trcvListbox::mouseDoubleClickEvent(QMouseEvent* event) {
    QListView::mouseDoubleClickEvent(event);
    if (event->button() == Qt::LeftButton)
        emit DoubleClicked();
}

void trcvListbox::ApplySelectionCommand(const QItemSelection& selection, uint32_t command) {
    const bool wasBatched = FBatchMarks;
    FBatchMarks = true;
    if (command & QItemSelectionModel::Clear)
        SetSelection(-1, false);
    for (const QItemSelectionRange& range : selection) {
        const int last = std::min(range.bottom(), MarkCount - 1);
        for (int row = std::max(range.top(), 0); row <= last; ++row) {
            if (command & QItemSelectionModel::Toggle)
                SetSelection(row, FSelectedFlags[static_cast<size_t>(row)] == 0);
            else if (command & QItemSelectionModel::Select)
                SetSelection(row, true);
            else if (command & QItemSelectionModel::Deselect)
                SetSelection(row, false);
        }
    }
    FBatchMarks = wasBatched;
    if (!FBatchMarks)
        MirrorMarks();
}

void trcvListbox::MirrorMarks() {
    if (!FMultiSelect || FModel->Updating())
        return;
    QItemSelection marked;
    const int rows = std::min(Count(), MarkCount);
    const uint8_t* const flags = FSelectedFlags.data();
    for (int row = 0; row < rows;) {
        if (flags[row] == 0) {
            ++row;
            continue;
        }
        const int first = row;
        while (row < rows && flags[row] != 0)
            ++row;
        marked.select(FModel->index(first), FModel->index(row - 1));
    }
    FSelection->Mirror(marked, QItemSelectionModel::ClearAndSelect);
}

void trcvListbox::ItemsChanged() {
    if (FRowBeforeReset >= 0) {
        const int row = FRowBeforeReset;
        FRowBeforeReset = -1;
        if (row < Count())
            SetItemIndex(row);
    }
    MirrorMarks();
    UpdateExtent();
}

void trcvListbox::UpdateExtent() {
    int width = 0;
    if (FHorizontalExtent) {
        const QFontMetrics metrics(font());
        for (int row = 0; row < Count(); ++row)
            width = std::max(width, metrics.horizontalAdvance(RowText(row)));
        if (width > 0)
            width += 2 * style()->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, this) + 4;
    }
    if (width == FRowWidth)
        return;
    FRowWidth = width;
    static_cast<TGroupRowDelegate*>(itemDelegate())->SetRowWidth(width);
    scheduleDelayedItemsLayout();
}
