// Decimal digits of unsigned integers for the number printers of both
// programs (estimation/array_print.cpp, report/number_format.cpp), which
// format millions of values and so do it without the C library, and the
// exact powers of ten that the printers and the number reader
// (numlist/number_list.cpp) scale by.
//
// Digit words: four_digits and eight_digits give the ASCII digits of x,
// leading zeros kept, as the bytes of a word from its lowest byte up, which
// is their order in memory once the word is stored (memcpy) on a
// little-endian machine; every platform this is built for is one.
#ifndef SEVENPARAM_ESTIMATION_DECIMAL_DIGITS_H
#define SEVENPARAM_ESTIMATION_DECIMAL_DIGITS_H

#include <cstdint>

#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ != __ORDER_LITTLE_ENDIAN__
#error "digit words are stored lowest byte first: a big-endian machine would need them reversed"
#endif

namespace sevenparam {

// 10^k for k = 0 .. 19, every power of ten a 64-bit word holds.
inline constexpr std::uint64_t powers_of_ten_u64[] = {1ULL,
                                                      10ULL,
                                                      100ULL,
                                                      1000ULL,
                                                      10000ULL,
                                                      100000ULL,
                                                      1000000ULL,
                                                      10000000ULL,
                                                      100000000ULL,
                                                      1000000000ULL,
                                                      10000000000ULL,
                                                      100000000000ULL,
                                                      1000000000000ULL,
                                                      10000000000000ULL,
                                                      100000000000000ULL,
                                                      1000000000000000ULL,
                                                      10000000000000000ULL,
                                                      100000000000000000ULL,
                                                      1000000000000000000ULL,
                                                      10000000000000000000ULL};

// 10^k for k = 0 .. 22 as doubles, every one of them exact (5^22 < 2^53):
// a product or quotient with one is rounded once.
inline constexpr double exact_powers_of_ten[] = {1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,
                                                 1e8,  1e9,  1e10, 1e11, 1e12, 1e13, 1e14, 1e15,
                                                 1e16, 1e17, 1e18, 1e19, 1e20, 1e21, 1e22};

// The number of decimal digits of x (1 for 0): from the bit length b of x,
// t = b * 1233 / 4096 (1233 / 4096 being just above log10 2) is the digit
// count or one less, which one comparison settles.
inline int decimal_digit_count(std::uint64_t x)
{
    const std::uint64_t nonzero = x | 1;
#if defined(__GNUC__)
    const int bits = 64 - __builtin_clzll(nonzero);
#else
    int bits = 0;
    for (std::uint64_t rest = nonzero; rest != 0; rest >>= 1)
        ++bits;
#endif
    const int estimate = (bits * 1233) >> 12;
    return estimate + (nonzero < powers_of_ten_u64[estimate] ? 0 : 1);
}

// The 4 digits of x < 10^4, made in parallel lanes of one word:
// x -> (x / 100, x % 100) in 16-bit lanes -> one digit per byte.
// x * 103 >> 10 is x / 10 for x < 179.
inline std::uint32_t four_digits(std::uint32_t x)
{
    std::uint32_t v = (x / 100) | ((x % 100) << 16);
    const std::uint32_t tens = ((v * 103) >> 10) & 0x000F000Fu;
    v = ((v - tens * 10) << 8) | tens;
    return v + 0x30303030u;
}

// The 8 digits of x < 10^8 in the same way, one split further:
// x * 10486 >> 20 is x / 100 for x < 43699.
inline std::uint64_t eight_digits(std::uint32_t x)
{
    std::uint64_t v = (x / 10000) | (static_cast<std::uint64_t>(x % 10000) << 32);
    const std::uint64_t hundreds = ((v * 10486) >> 20) & 0x0000007F0000007FULL;
    v = ((v - hundreds * 100) << 16) | hundreds;
    const std::uint64_t tens = ((v * 103) >> 10) & 0x000F000F000F000FULL;
    v = ((v - tens * 10) << 8) | tens;
    return v + 0x3030303030303030ULL;
}

} // namespace sevenparam

#endif
