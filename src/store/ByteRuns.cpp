#include "store/ByteRuns.h"

#include <QtEndian>

#include <array>
#include <bit>
#include <cstring>
#include <utility>

#if defined(__GNUC__) && defined(__x86_64__)
#include <immintrin.h>
#define NODALIS_SHUFFLE 1
#endif

namespace nodalis {

namespace {

#if NODALIS_SHUFFLE
bool canShuffle()
{
    static const bool can = __builtin_cpu_supports("ssse3") && __builtin_cpu_supports("popcnt");
    return can;
}

bool canCompress()
{
    static const bool can =
        canShuffle() && __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512bw") &&
        __builtin_cpu_supports("avx512vl") && __builtin_cpu_supports("avx512vbmi") &&
        __builtin_cpu_supports("avx512vbmi2") && __builtin_cpu_supports("bmi2");
    return can;
}

#define NODALIS_COMPRESS                                                                           \
    __attribute__((target("avx512f,avx512bw,avx512vl,avx512vbmi,avx512vbmi2,bmi2,popcnt,ssse3")))
#endif

ByteStep widestStep()
{
#if NODALIS_SHUFFLE
    static const ByteStep step = canCompress()  ? ByteStep::Compress
                                 : canShuffle() ? ByteStep::Shuffle
                                                : ByteStep::Word;
    return step;
#else
    return ByteStep::Word;
#endif
}

// Closes up [in, end) over every byte equal to search, in place, by
// eight-byte words: in each word the bytes found are taken out from the
// highest down, the bytes above moving down by one each time; the word is
// stored whole and the output moves on by the bytes kept. The new end.
char* removeByteWords(char* o, const char* in, const char* end, char search)
{
    constexpr quint64 ones = 0x0101010101010101;
    constexpr quint64 low7 = 0x7f7f7f7f7f7f7f7f;
    const quint64 pattern = ones * static_cast<unsigned char>(search);
    for (; end - in >= 8; in += 8) {
        quint64 word = qFromLittleEndian<quint64>(in);
        const quint64 t = word ^ pattern;
        quint64 found = ~(((t & low7) + low7) | t | low7); // bit 7 of each byte equal
        int removed = 0;
        while (found != 0) {
            const int top = 63 - std::countl_zero(found);
            const quint64 below = (quint64(1) << (top - 7)) - 1; // the bytes under it
            word = (word & below) | ((word >> 8) & ~below);
            found &= ~(quint64(1) << top);
            ++removed;
        }
        // Within the word just read: o never passes in.
        qToLittleEndian(word, o);
        o += 8 - removed;
    }
    for (; in < end; ++in) {
        *o = *in;
        o += *in != search;
    }
    return o;
}

// The blanks at the edges of each line dropped, one line at a time.
char* trimLineEdgesPlain(const char* in, const char* end, char* o)
{
    while (in < end) {
        const char* lineEnd = in; // its CR LF, or the end of the text
        for (;;) {
            const auto* cr =
                static_cast<const char*>(std::memchr(lineEnd, '\r', size_t(end - lineEnd)));
            if (!cr) {
                lineEnd = end;
                break;
            }
            if (cr + 1 < end && cr[1] == '\n') {
                lineEnd = cr;
                break;
            }
            lineEnd = cr + 1;
        }
        const char* first = in;
        while (first < lineEnd && *first == ' ')
            ++first;
        const char* last = lineEnd;
        while (last > first && last[-1] == ' ')
            --last;
        std::memmove(o, first, size_t(last - first));
        o += last - first;
        if (lineEnd == end)
            break;
        *o++ = '\r';
        *o++ = '\n';
        in = lineEnd + 2;
    }
    return o;
}

#if NODALIS_SHUFFLE
// For each set of byte positions to take out of eight (bit i: byte i), the
// positions of the bytes kept, in order, then 0x80 (a zero byte).
const auto kKeptBytes = [] {
    std::array<std::array<unsigned char, 8>, 256> table{};
    for (int out = 0; out < 256; ++out) {
        int k = 0;
        for (int i = 0; i < 8; ++i) {
            if (!(out >> i & 1))
                table[size_t(out)][size_t(k++)] = static_cast<unsigned char>(i);
        }
        for (; k < 8; ++k)
            table[size_t(out)][size_t(k)] = 0x80;
    }
    return table;
}();

// The same sixteen bytes at a time with the processor's byte shuffle: each
// half of a block is closed up by one table look-up (five times faster).
__attribute__((target("ssse3,popcnt"))) char* removeByteShuffled(char* o, const char* in,
                                                                 const char* end, char search)
{
    const __m128i pattern = _mm_set1_epi8(search);
    for (; end - in >= 16; in += 16) {
        const __m128i block = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in));
        const auto found = unsigned(_mm_movemask_epi8(_mm_cmpeq_epi8(block, pattern)));
        // Both stores stay within the block just read: o never passes in.
        for (const auto& [half, out] :
             {std::pair{block, found & 0xff}, std::pair{_mm_srli_si128(block, 8), found >> 8}}) {
            const __m128i order =
                _mm_loadl_epi64(reinterpret_cast<const __m128i*>(kKeptBytes[out].data()));
            _mm_storel_epi64(reinterpret_cast<__m128i*>(o), _mm_shuffle_epi8(half, order));
            o += 8 - __builtin_popcount(out);
        }
    }
    return removeByteWords(o, in, end, search);
}

// Sixty-four bytes at a time: the processor closes up a block in one step.
NODALIS_COMPRESS char* removeByteCompressed(char* o, const char* in, const char* end, char search)
{
    const __m512i pattern = _mm512_set1_epi8(search);
    for (; end - in >= 64; in += 64) {
        const __m512i block = _mm512_loadu_si512(in);
        const __mmask64 kept = _mm512_cmpneq_epi8_mask(block, pattern);
        // Within the block just read: o never passes in.
        _mm512_storeu_si512(o, _mm512_maskz_compress_epi8(kept, block));
        o += _mm_popcnt_u64(kept);
    }
    return removeByteShuffled(o, in, end, search);
}
#endif

// LF to CR LF, eight bytes at a time: a word without LF is copied whole.
char* expandLineFeedWords(const char* in, const char* end, char* o)
{
    constexpr quint64 ones = 0x0101010101010101;
    constexpr quint64 low7 = 0x7f7f7f7f7f7f7f7f;
    for (; end - in >= 8; in += 8) {
        const quint64 word = qFromLittleEndian<quint64>(in);
        const quint64 t = word ^ (ones * '\n');
        if ((~(((t & low7) + low7) | t | low7)) == 0) {
            std::memcpy(o, in, 8);
            o += 8;
            continue;
        }
        for (int i = 0; i < 8; ++i) {
            if (in[i] == '\n')
                *o++ = '\r';
            *o++ = in[i];
        }
    }
    for (; in < end; ++in) {
        if (*in == '\n')
            *o++ = '\r';
        *o++ = *in;
    }
    return o;
}

#if NODALIS_SHUFFLE
// For each set of LF positions in eight bytes (bit i: byte i), where each
// output byte comes from (0x80: none, a CR goes there), and the CRs.
struct Expansion
{
    std::array<std::array<unsigned char, 16>, 256> from{};
    std::array<std::array<unsigned char, 16>, 256> cr{};
};
const Expansion kExpansion = [] {
    Expansion e;
    for (int lf = 0; lf < 256; ++lf) {
        int k = 0;
        for (int i = 0; i < 8; ++i) {
            if (lf >> i & 1) {
                e.from[size_t(lf)][size_t(k)] = 0x80;
                e.cr[size_t(lf)][size_t(k++)] = '\r';
            }
            e.from[size_t(lf)][size_t(k++)] = static_cast<unsigned char>(i);
        }
        for (; k < 16; ++k)
            e.from[size_t(lf)][size_t(k)] = 0x80;
    }
    return e;
}();

__attribute__((target("ssse3,popcnt"))) char* expandLineFeedsShuffled(const char* in,
                                                                      const char* end, char* o)
{
    const __m128i lf = _mm_set1_epi8('\n');
    for (; end - in >= 16; in += 16) {
        const __m128i block = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in));
        const auto found = unsigned(_mm_movemask_epi8(_mm_cmpeq_epi8(block, lf)));
        if (found == 0) {
            _mm_storeu_si128(reinterpret_cast<__m128i*>(o), block);
            o += 16;
            continue;
        }
        for (const auto& [half, at] :
             {std::pair{block, found & 0xff}, std::pair{_mm_srli_si128(block, 8), found >> 8}}) {
            const __m128i from =
                _mm_loadu_si128(reinterpret_cast<const __m128i*>(kExpansion.from[at].data()));
            const __m128i cr =
                _mm_loadu_si128(reinterpret_cast<const __m128i*>(kExpansion.cr[at].data()));
            _mm_storeu_si128(reinterpret_cast<__m128i*>(o),
                             _mm_or_si128(_mm_shuffle_epi8(half, from), cr));
            o += 8 + __builtin_popcount(at);
        }
    }
    return expandLineFeedWords(in, end, o);
}

// Thirty-two bytes at a time into up to sixty-four: the processor spreads
// the bytes over the places that are not a CR's.
NODALIS_COMPRESS char* expandLineFeedsSpread(const char* in, const char* end, char* o)
{
    const __m256i lf = _mm256_set1_epi8('\n');
    const __m512i cr = _mm512_set1_epi8('\r');
    constexpr quint64 evens = 0x5555555555555555;
    for (; end - in >= 32; in += 32) {
        const __m256i block = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(in));
        const __mmask32 found = _mm256_cmpeq_epi8_mask(block, lf);
        if (found == 0) {
            _mm256_storeu_si256(reinterpret_cast<__m256i*>(o), block);
            o += 32;
            continue;
        }
        // Two places per byte, a CR's (taken before an LF) and the byte's;
        // the places taken, closed up, say which output bytes are the text's.
        const quint64 taken = _pdep_u64(found, evens) | ~evens;
        const quint64 text = _pext_u64(~evens, taken);
        _mm512_storeu_si512(o, _mm512_mask_expand_epi8(cr, text, _mm512_castsi256_si512(block)));
        o += 32 + _mm_popcnt_u32(found);
    }
    return expandLineFeedsShuffled(in, end, o);
}

// Byte i of a block moved to 63 - i.
constexpr auto kReversedOrder = [] {
    std::array<unsigned char, 64> order{};
    for (int i = 0; i < 64; ++i)
        order[size_t(i)] = static_cast<unsigned char>(63 - i);
    return order;
}();

// The bits of a mask in the other order.
NODALIS_COMPRESS inline quint64 reversedBits(quint64 bits)
{
    const __m512i order = _mm512_loadu_si512(kReversedOrder.data());
    // (The masked form: the plain one trips GCC's uninitialised-use warning.)
    return _mm512_movepi8_mask(
        _mm512_maskz_permutexvar_epi8(~quint64(0), order, _mm512_movm_epi8(bits)));
}

// Sixty-four bytes at a time, by masks with a bit per byte. A run of
// blanks that begins a line is found by adding its first bit to it: the
// carry runs through it and clears it, and on into the next block. A run
// that ends a line is found the same way in the bits reversed, from the CR
// of the line end, the block after telling whether the last run of a
// block goes on to one.
NODALIS_COMPRESS char* trimLineEdgesCompressed(const char* in, const char* end, char* o)
{
    const __m512i blank = _mm512_set1_epi8(' ');
    const __m512i cr = _mm512_set1_epi8('\r');
    const __m512i lf = _mm512_set1_epi8('\n');
    unsigned char leading = 1; // the block before ended in a line's first blanks
    quint64 startsAfter = 0;   // line starts the block before found in this one
    const char* nonBlank = in; // the first non-blank after a run that left a block
    bool runEndsLine = false;  // and whether it ends a line
    for (; in < end; in += 64) {
        const qsizetype n = std::min<qsizetype>(64, end - in);
        const quint64 valid = n == 64 ? ~quint64(0) : (quint64(1) << n) - 1;
        const __m512i block = _mm512_maskz_loadu_epi8(valid, in);
        const quint64 blanks = _mm512_cmpeq_epi8_mask(block, blank);
        const quint64 feeds = _mm512_cmpeq_epi8_mask(block, lf);
        const bool feedNext = n == 64 && end - in > 64 && in[64] == '\n';
        // The CR of each CR LF; the end of the text ends a line as well.
        quint64 ends = _mm512_cmpeq_epi8_mask(block, cr) & ((feeds >> 1) | quint64(feedNext) << 63);
        if (n < 64)
            ends |= quint64(1) << n;
        const quint64 starts = ends << 2 | startsAfter;
        startsAfter = ends >> 62;
        unsigned long long sum = 0;
        leading = _addcarry_u64(leading, blanks, starts & blanks, &sum);
        const quint64 first = blanks & ~sum;

        bool carried = false; // the last byte's run goes on to a line end
        if (blanks >> 63) {
            if (nonBlank < in + 64) {
                nonBlank = in + 64;
                while (nonBlank < end && *nonBlank == ' ')
                    ++nonBlank;
                runEndsLine = nonBlank == end ||
                              (nonBlank[0] == '\r' && end - nonBlank > 1 && nonBlank[1] == '\n');
            }
            carried = runEndsLine;
        }
        const quint64 back = reversedBits(blanks);
        unsigned long long backSum = 0;
        _addcarry_u64(carried, back, reversedBits(ends) << 1 & back, &backSum);
        const quint64 last = reversedBits(back & ~backSum);

        const quint64 kept = valid & ~(first | last);
        _mm512_storeu_si512(o, _mm512_maskz_compress_epi8(kept, block));
        o += _mm_popcnt_u64(kept);
    }
    return o;
}
#endif

} // namespace

bool CanStep(ByteStep step)
{
    return step <= widestStep();
}

char* RemoveByte(char* begin, const char* end, char search)
{
    return RemoveByte(begin, end, search, widestStep());
}

char* RemoveByte(char* begin, const char* end, char search, ByteStep step)
{
#if NODALIS_SHUFFLE
    if (step == ByteStep::Compress && canCompress())
        return removeByteCompressed(begin, begin, end, search);
    if (step >= ByteStep::Shuffle && canShuffle())
        return removeByteShuffled(begin, begin, end, search);
#else
    Q_UNUSED(step);
#endif
    return removeByteWords(begin, begin, end, search);
}

char* ExpandLineFeeds(const char* in, const char* end, char* out)
{
    return ExpandLineFeeds(in, end, out, widestStep());
}

char* ExpandLineFeeds(const char* in, const char* end, char* out, ByteStep step)
{
#if NODALIS_SHUFFLE
    if (step == ByteStep::Compress && canCompress())
        return expandLineFeedsSpread(in, end, out);
    if (step >= ByteStep::Shuffle && canShuffle())
        return expandLineFeedsShuffled(in, end, out);
#else
    Q_UNUSED(step);
#endif
    return expandLineFeedWords(in, end, out);
}

char* TrimLineEdges(const char* in, const char* end, char* out)
{
    return TrimLineEdges(in, end, out, widestStep());
}

char* TrimLineEdges(const char* in, const char* end, char* out, ByteStep step)
{
#if NODALIS_SHUFFLE
    if (step == ByteStep::Compress && canCompress())
        return trimLineEdgesCompressed(in, end, out);
#else
    Q_UNUSED(step);
#endif
    return trimLineEdgesPlain(in, end, out);
}

} // namespace nodalis
