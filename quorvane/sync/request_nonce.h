// The transmit timestamp of a request: 64 random bits, never the clock.
// A client's clock in its requests tells the network what time the machine
// keeps, and a guessable value lets anyone forge an answer; a random nonce
// that the answer must echo does neither.
#pragma once

#include <cstdint>

// Fills `nonce` with 8 random bytes that are never all zero.
void MakeRequestNonce(uint8_t nonce[8]);
