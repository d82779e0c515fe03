#include "selection/TGroupListModel.h"

TGroupListModel::TGroupListModel(TGroupList& list, QObject* parent)
    : QAbstractListModel(parent), FList(list) {
    FList.SetObserver(this);
}

TGroupListModel::~TGroupListModel() {
    FList.SetObserver(nullptr);
}

int TGroupListModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : FList.Count();
}

QVariant TGroupListModel::data(const QModelIndex& index, int role) const {
    if (role != Qt::DisplayRole && role != Qt::AccessibleTextRole)
        return {};
    if (!index.isValid() || index.row() >= FList.Count())
        return {};
    return RowText(index.row());
}

QString TGroupListModel::RowText(int row) const {
    if (row < 0 || row >= FList.Count())
        return {};
    std::string_view entry = FList[row];
    if (FDelimiter != '\0') {
        const size_t at = entry.find(FDelimiter);
        entry = at == std::string_view::npos ? std::string_view() : entry.substr(0, at);
    }
    return QString::fromUtf8(entry.data(), static_cast<qsizetype>(entry.size()));
}

void TGroupListModel::SetDelimiter(char delimiter) {
    if (delimiter == FDelimiter)
        return;
    FDelimiter = delimiter;
    if (FList.Count() > 0)
        emit dataChanged(index(0), index(FList.Count() - 1), {Qt::DisplayRole});
}

void TGroupListModel::BeginUpdate() {
    ++FUpdateDepth;
}

void TGroupListModel::EndUpdate() {
    if (FUpdateDepth == 0 || --FUpdateDepth > 0 || !FResetPending)
        return;
    FResetPending = false;
    endResetModel();
    emit ItemsChanged();
}

bool TGroupListModel::DeferToUpdate() {
    if (FUpdateDepth == 0)
        return false;
    if (!FResetPending) {
        FResetPending = true;
        beginResetModel();
    }
    return true;
}

void TGroupListModel::ListAboutToInsert(int row) {
    if (!DeferToUpdate())
        beginInsertRows(QModelIndex(), row, row);
}

void TGroupListModel::ListInserted() {
    if (FUpdateDepth > 0)
        return;
    endInsertRows();
    emit ItemsChanged();
}

void TGroupListModel::ListAboutToRemove(int first, int last) {
    if (!DeferToUpdate())
        beginRemoveRows(QModelIndex(), first, last);
}

void TGroupListModel::ListRemoved() {
    if (FUpdateDepth > 0)
        return;
    endRemoveRows();
    emit ItemsChanged();
}

void TGroupListModel::ListAboutToReset() {
    if (!DeferToUpdate())
        beginResetModel();
}

void TGroupListModel::ListReset() {
    if (FUpdateDepth > 0)
        return;
    endResetModel();
    emit ItemsChanged();
}
