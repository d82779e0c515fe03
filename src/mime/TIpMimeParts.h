#pragma once

#include <vector>

class TIpMimeEntity;

// The owned, ordered children of an entity.
class TIpMimeParts {
public:
    TIpMimeParts() = default;
    TIpMimeParts(const TIpMimeParts&) = delete;
    TIpMimeParts& operator=(const TIpMimeParts&) = delete;
    ~TIpMimeParts();

    // Takes ownership; returns the index.
    int Add(TIpMimeEntity* entity);
    int Count() const { return static_cast<int>(FItems.size()); }
    // Null for an index out of range.
    TIpMimeEntity* Items(int index) const;
    // Destroys the entity at a valid index.
    void Delete(int index);
    // Takes the entity out of the list without destroying it.
    void Remove(TIpMimeEntity* entity);
    // Destroys all entities, the last first.
    void Clear();

private:
    std::vector<TIpMimeEntity*> FItems;
};
