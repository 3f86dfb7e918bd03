#pragma once

#include <cstddef>
#include <cstdint>

// The print-task file's block cipher: TEA, 32 cycles, every 8-byte block on its own (no
// chaining), words little-endian. The writer and the reader share the key below.
namespace TeaCipher {

// The 16 key bytes in stored order, read as four little-endian words.
extern const uint32_t kPrintTaskKey[4];

void encipherBlock(uint8_t block[8], const uint32_t key[4]);
void decipherBlock(uint8_t block[8], const uint32_t key[4]);

// Enciphers or deciphers whole blocks in place; length must be a multiple of 8. Large buffers
// are split across the cores (blocks are independent).
void encipherBlocks(uint8_t* data, size_t length, const uint32_t key[4]);
void decipherBlocks(uint8_t* data, size_t length, const uint32_t key[4]);

} // namespace TeaCipher

// Pads buffer in place with zero bytes to the next multiple of 8 (the buffer must have room
// for that), enciphers it into output and returns the padded length (0 for an empty buffer).
// length is at most 1024; a longer one gives 0 and nothing is done.
uint16_t teaEncryptBuffer(uint8_t* buffer, uint16_t length, const uint32_t key[4], uint8_t* output);
// Deciphers buffer into output; 0 and nothing done when length is not a multiple of 8.
size_t teaDecryptBuffer(const uint8_t* buffer, size_t length, const uint32_t key[4], uint8_t* output);
