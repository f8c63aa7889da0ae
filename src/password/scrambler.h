#pragma once
// The reversible, keyed in-place transform under which router passwords are held: a word-wise
// XOR chaining through a 32-word feedback register, then a byte substitution. Stateless and
// reentrant; independent of the host's byte order and of the buffer's alignment.

#include <cstdint>

namespace corvalink {

/// Scrambles (`direction` non-zero) or unscrambles (`direction` 0) `length` bytes of `buffer`
/// in place. A length of 0 or less leaves the buffer alone. Always returns 0.
int ScrambleBuffer(uint8_t* buffer, int32_t length, int32_t direction);

}  // namespace corvalink
