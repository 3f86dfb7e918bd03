#include "FileRW/TeaCipher.h"

#include <algorithm>
#include <cstring>
#include <thread>
#include <vector>

#include "scene/Parallel.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace TeaCipher {

const uint32_t kPrintTaskKey[4] = {0xa7e2195cu, 0x8ed37b04u, 0xc4a2619fu, 0x83e57b0du};

namespace {

constexpr uint32_t kDelta = 0x9E3779B9u;
constexpr uint32_t kDecipherSum = 0xC6EF3720u; // kDelta * 32 mod 2^32
// Below this size one core is faster than starting threads.
constexpr size_t kParallelThreshold = 1u << 18;

inline uint32_t load32(const uint8_t* p)
{
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

inline void store32(uint8_t* p, uint32_t v)
{
    p[0] = uint8_t(v);
    p[1] = uint8_t(v >> 8);
    p[2] = uint8_t(v >> 16);
    p[3] = uint8_t(v >> 24);
}

inline void encipherWords(uint32_t& y, uint32_t& z, const uint32_t k[4])
{
    uint32_t sum = 0;
    for (int i = 0; i < 32; ++i) {
        sum += kDelta;
        y += ((z << 4) + k[0]) ^ (z + sum) ^ ((z >> 5) + k[1]);
        z += ((y << 4) + k[2]) ^ (y + sum) ^ ((y >> 5) + k[3]);
    }
}

inline void decipherWords(uint32_t& y, uint32_t& z, const uint32_t k[4])
{
    uint32_t sum = kDecipherSum;
    for (int i = 0; i < 32; ++i) {
        z -= ((y << 4) + k[2]) ^ (y + sum) ^ ((y >> 5) + k[3]);
        y -= ((z << 4) + k[0]) ^ (z + sum) ^ ((z >> 5) + k[1]);
        sum -= kDelta;
    }
}

template <bool Encipher>
void runScalar(uint8_t* data, size_t blocks, const uint32_t k[4])
{
    for (size_t b = 0; b < blocks; ++b) {
        uint8_t* p = data + b * 8;
        uint32_t y = load32(p);
        uint32_t z = load32(p + 4);
        if (Encipher)
            encipherWords(y, z, k);
        else
            decipherWords(y, z, k);
        store32(p, y);
        store32(p + 4, z);
    }
}

#if defined(__SSE2__) && (defined(__x86_64__) || defined(_M_X64))
// Eight blocks at a time: four in the lanes of one register pair, two pairs interleaved so
// the rounds of one pair overlap the other's.
inline void splitWords(__m128i a, __m128i b, __m128i& y, __m128i& z)
{
    a = _mm_shuffle_epi32(a, _MM_SHUFFLE(3, 1, 2, 0)); // y0 y1 z0 z1
    b = _mm_shuffle_epi32(b, _MM_SHUFFLE(3, 1, 2, 0));
    y = _mm_unpacklo_epi64(a, b);
    z = _mm_unpackhi_epi64(a, b);
}

inline void joinWords(__m128i y, __m128i z, __m128i& a, __m128i& b)
{
    a = _mm_shuffle_epi32(_mm_unpacklo_epi64(y, z), _MM_SHUFFLE(3, 1, 2, 0));
    b = _mm_shuffle_epi32(_mm_unpackhi_epi64(y, z), _MM_SHUFFLE(3, 1, 2, 0));
}

inline __m128i mix(__m128i v, __m128i sum, __m128i ka, __m128i kb)
{
    return _mm_xor_si128(_mm_xor_si128(_mm_add_epi32(_mm_slli_epi32(v, 4), ka), _mm_add_epi32(v, sum)),
                         _mm_add_epi32(_mm_srli_epi32(v, 5), kb));
}

template <bool Encipher>
size_t runSimd(uint8_t* data, size_t blocks, const uint32_t k[4])
{
    const __m128i k0 = _mm_set1_epi32(int(k[0]));
    const __m128i k1 = _mm_set1_epi32(int(k[1]));
    const __m128i k2 = _mm_set1_epi32(int(k[2]));
    const __m128i k3 = _mm_set1_epi32(int(k[3]));
    const __m128i delta = _mm_set1_epi32(int(kDelta));
    size_t b = 0;
    for (; b + 8 <= blocks; b += 8) {
        auto* p = reinterpret_cast<__m128i*>(data + b * 8);
        __m128i y1, z1, y2, z2;
        splitWords(_mm_loadu_si128(p), _mm_loadu_si128(p + 1), y1, z1);
        splitWords(_mm_loadu_si128(p + 2), _mm_loadu_si128(p + 3), y2, z2);
        if (Encipher) {
            __m128i sum = _mm_setzero_si128();
            for (int i = 0; i < 32; ++i) {
                sum = _mm_add_epi32(sum, delta);
                y1 = _mm_add_epi32(y1, mix(z1, sum, k0, k1));
                y2 = _mm_add_epi32(y2, mix(z2, sum, k0, k1));
                z1 = _mm_add_epi32(z1, mix(y1, sum, k2, k3));
                z2 = _mm_add_epi32(z2, mix(y2, sum, k2, k3));
            }
        } else {
            __m128i sum = _mm_set1_epi32(int(kDecipherSum));
            for (int i = 0; i < 32; ++i) {
                z1 = _mm_sub_epi32(z1, mix(y1, sum, k2, k3));
                z2 = _mm_sub_epi32(z2, mix(y2, sum, k2, k3));
                y1 = _mm_sub_epi32(y1, mix(z1, sum, k0, k1));
                y2 = _mm_sub_epi32(y2, mix(z2, sum, k0, k1));
                sum = _mm_sub_epi32(sum, delta);
            }
        }
        __m128i a, c;
        joinWords(y1, z1, a, c);
        _mm_storeu_si128(p, a);
        _mm_storeu_si128(p + 1, c);
        joinWords(y2, z2, a, c);
        _mm_storeu_si128(p + 2, a);
        _mm_storeu_si128(p + 3, c);
    }
    return b;
}
#else
template <bool Encipher>
size_t runSimd(uint8_t*, size_t, const uint32_t*)
{
    return 0;
}
#endif

template <bool Encipher>
void runBlocks(uint8_t* data, size_t blocks, const uint32_t key[4])
{
    const uint32_t k[4] = {key[0], key[1], key[2], key[3]};
    const size_t done = runSimd<Encipher>(data, blocks, k);
    runScalar<Encipher>(data + done * 8, blocks - done, k);
}

template <bool Encipher>
void runParallel(uint8_t* data, size_t length, const uint32_t key[4])
{
    const size_t blocks = length / 8;
    if (length < kParallelThreshold || hardwareThreads() == 1) {
        runBlocks<Encipher>(data, blocks, key);
        return;
    }
    const size_t parts = std::min<size_t>(hardwareThreads(), length / (kParallelThreshold / 4));
    const size_t per = (blocks + parts - 1) / parts;
    std::vector<std::thread> workers;
    workers.reserve(parts - 1);
    for (size_t i = 1; i < parts; ++i) {
        const size_t first = i * per;
        if (first >= blocks)
            break;
        const size_t count = std::min(per, blocks - first);
        workers.emplace_back([=] { runBlocks<Encipher>(data + first * 8, count, key); });
    }
    runBlocks<Encipher>(data, std::min(per, blocks), key);
    for (std::thread& t : workers)
        t.join();
}

} // namespace

void encipherBlock(uint8_t block[8], const uint32_t key[4])
{
    runBlocks<true>(block, 1, key);
}

void decipherBlock(uint8_t block[8], const uint32_t key[4])
{
    runBlocks<false>(block, 1, key);
}

void encipherBlocks(uint8_t* data, size_t length, const uint32_t key[4])
{
    runParallel<true>(data, length, key);
}

void decipherBlocks(uint8_t* data, size_t length, const uint32_t key[4])
{
    runParallel<false>(data, length, key);
}

} // namespace TeaCipher

uint16_t teaEncryptBuffer(uint8_t* buffer, uint16_t length, const uint32_t key[4], uint8_t* output)
{
    if (length > 1024)
        return 0;
    const uint16_t padded = uint16_t((length + 7u) & ~7u);
    std::memset(buffer + length, 0, size_t(padded - length));
    std::memcpy(output, buffer, padded);
    TeaCipher::encipherBlocks(output, padded, key);
    return padded;
}

size_t teaDecryptBuffer(const uint8_t* buffer, size_t length, const uint32_t key[4], uint8_t* output)
{
    if (length % 8 != 0)
        return 0;
    if (output != buffer)
        std::memmove(output, buffer, length);
    TeaCipher::decipherBlocks(output, length, key);
    return length;
}
