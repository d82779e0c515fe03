#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

// The items of one phase of a run (its groups, or the accepted articles to verify) and what has
// become of each: waiting, under way on a connection, or done. Connections take items in the
// run's order; an item whose connection was lost goes back and is taken before any later one.
// Items are done in any order, but the ledger hands them on in the run's order: from the front
// on, every item done is released once, and so are the log lines held back for it.
//
//   item: waiting --Take--> taken --Done--> done --the items before it released--> released
//                           taken --PutBack--> waiting
//
// Lines for the item at the front (or one already released) go out at once; lines for a later
// item wait until every item before it has been released.
class TRunLedger {
public:
    using TLineSink = std::function<void(const std::string& line)>;
    using TItemSink = std::function<void(size_t item)>;

    // count items, all waiting; lines held for an earlier start are forgotten.
    void Start(size_t count);
    size_t Count() const { return FItems.size(); }
    // The first waiting item; nothing when none waits.
    std::optional<size_t> Take();
    void PutBack(size_t item);
    void Done(size_t item);
    bool Waiting() const;
    bool AllDone() const;
    bool AllReleased() const { return FFront >= FItems.size(); }
    // The first item not yet released (Count() once all are).
    size_t Front() const { return FFront; }

    // Sends line out through sink now, or holds it until item reaches the front.
    void Line(size_t item, const std::string& line, const TLineSink& sink);
    // Releases, from the front on, the held lines of each item and every item done; stops at the
    // first item not done (after sending out the lines held for it).
    void Release(const TLineSink& lines, const TItemSink& done);
    // A run that ends early: sends out every line still held and releases every item done, in
    // the items' order, past the items not done; afterwards nothing is held and all count as
    // released.
    void Drain(const TLineSink& lines, const TItemSink& done);

private:
    enum class TItem : uint8_t { Waiting, Taken, Done };
    std::vector<TItem> FItems;
    std::vector<std::vector<std::string>> FHeld;
    size_t FFront = 0;
    // No waiting item lies before this one.
    size_t FFirstWaiting = 0;
};
