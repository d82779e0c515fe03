#include "posting/TRunLedger.h"

#include <algorithm>

void TRunLedger::Start(size_t count) {
    FItems.assign(count, TItem::Waiting);
    FHeld.assign(count, {});
    FFront = 0;
    FFirstWaiting = 0;
}

std::optional<size_t> TRunLedger::Take() {
    while (FFirstWaiting < FItems.size() && FItems[FFirstWaiting] != TItem::Waiting)
        ++FFirstWaiting;
    if (FFirstWaiting >= FItems.size())
        return std::nullopt;
    FItems[FFirstWaiting] = TItem::Taken;
    return FFirstWaiting;
}

void TRunLedger::PutBack(size_t item) {
    if (item >= FItems.size() || FItems[item] != TItem::Taken)
        return;
    FItems[item] = TItem::Waiting;
    FFirstWaiting = std::min(FFirstWaiting, item);
}

void TRunLedger::Done(size_t item) {
    if (item < FItems.size())
        FItems[item] = TItem::Done;
}

bool TRunLedger::Waiting() const {
    return std::find(FItems.begin() + static_cast<std::ptrdiff_t>(FFirstWaiting), FItems.end(),
                     TItem::Waiting) != FItems.end();
}

bool TRunLedger::AllDone() const {
    return std::all_of(FItems.begin(), FItems.end(),
                       [](TItem item) { return item == TItem::Done; });
}

void TRunLedger::Line(size_t item, const std::string& line, const TLineSink& sink) {
    if (item <= FFront || item >= FItems.size()) {
        sink(line);
        return;
    }
    FHeld[item].push_back(line);
}

void TRunLedger::Release(const TLineSink& lines, const TItemSink& done) {
    while (FFront < FItems.size()) {
        std::vector<std::string> held;
        held.swap(FHeld[FFront]);
        for (const std::string& line : held)
            lines(line);
        if (FItems[FFront] != TItem::Done)
            return;
        // Moved on first: what the handler logs for this item goes out at once.
        const size_t item = FFront++;
        done(item);
    }
}

void TRunLedger::Drain(const TLineSink& lines, const TItemSink& done) {
    while (FFront < FItems.size()) {
        std::vector<std::string> held;
        held.swap(FHeld[FFront]);
        for (const std::string& line : held)
            lines(line);
        const size_t item = FFront++;
        if (FItems[item] == TItem::Done)
            done(item);
    }
}
