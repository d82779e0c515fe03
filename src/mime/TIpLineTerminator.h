#pragma once

#include <cstdint>

// The line ending of the text streams and of the data socket's line cutting.
// The ordinals are fixed: other code stores and compares them as numbers.
enum class TIpLineTerminator : uint8_t { ltNone, ltCR, ltLF, ltCRLF, ltOther };
