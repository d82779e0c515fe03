#include "nntp/TIpReplyLineJoiner.h"

static bool EndsInCRLF(std::string_view unit) {
    return unit.size() >= 2 && unit[unit.size() - 2] == '\r' && unit.back() == '\n';
}

TIpJoinedLine TIpReplyLineJoiner::Join(std::string_view unit, std::string& storage,
                                       std::string_view& line, std::string_view& rest) {
    rest = {};
    // Nearly every unit is one whole line with nothing held before it.
    if (FHeld.empty() && !FDropping && EndsInCRLF(unit) && unit.size() - 2 <= MaxLineLength) {
        line = unit.substr(0, unit.size() - 2);
        FEndsInCR = false;
        return TIpJoinedLine::jlWhole;
    }
    const bool holding = FDropping || !FHeld.empty();
    if (holding && FEndsInCR && !unit.empty() && unit.front() == '\n') {
        // The held line ended with the previous unit; its CR was the last byte of it.
        rest = unit.substr(1);
        const bool dropped = FDropping;
        if (!dropped) {
            FHeld.pop_back();
            storage.swap(FHeld);
            line = storage;
        }
        Reset();
        return dropped ? TIpJoinedLine::jlNone : TIpJoinedLine::jlWhole;
    }

    const bool ends = EndsInCRLF(unit);
    const std::string_view text = ends ? unit.substr(0, unit.size() - 2) : unit;
    FEndsInCR = !ends && !unit.empty() && unit.back() == '\r';
    if (FDropping) {
        if (ends)
            Reset();
        return TIpJoinedLine::jlNone;
    }
    if (FHeld.size() + text.size() > MaxLineLength) {
        std::string().swap(FHeld);
        FDropping = !ends;
        return TIpJoinedLine::jlTooLong;
    }
    if (!ends) {
        FHeld.append(text);
        return TIpJoinedLine::jlNone;
    }
    if (FHeld.empty()) {
        line = text;
    } else {
        FHeld.append(text);
        storage.swap(FHeld);
        FHeld.clear();
        line = storage;
    }
    return TIpJoinedLine::jlWhole;
}

bool TIpReplyLineJoiner::Flush(std::string& line) {
    const bool held = !FDropping && !FHeld.empty();
    if (held)
        line.swap(FHeld);
    Reset();
    return held;
}

void TIpReplyLineJoiner::Reset() {
    FHeld.clear();
    FDropping = false;
    FEndsInCR = false;
}
