#include "mime/TIpMimeParts.h"

#include "mime/TIpMimeEntity.h"

#include <algorithm>

TIpMimeParts::~TIpMimeParts() {
    Clear();
}

int TIpMimeParts::Add(TIpMimeEntity* entity) {
    FItems.push_back(entity);
    return Count() - 1;
}

TIpMimeEntity* TIpMimeParts::Items(int index) const {
    return index >= 0 && index < Count() ? FItems[static_cast<size_t>(index)] : nullptr;
}

void TIpMimeParts::Delete(int index) {
    TIpMimeEntity* entity = Items(index);
    if (!entity)
        return;
    // Out of the list first, so the entity's own removal from its parent finds nothing to do.
    FItems.erase(FItems.begin() + index);
    delete entity;
}

void TIpMimeParts::Remove(TIpMimeEntity* entity) {
    const auto it = std::find(FItems.begin(), FItems.end(), entity);
    if (it != FItems.end())
        FItems.erase(it);
}

void TIpMimeParts::Clear() {
    while (!FItems.empty())
        Delete(Count() - 1);
}
