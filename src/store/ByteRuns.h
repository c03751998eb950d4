#pragma once

// Marks a byte loop to be compiled twice, for AVX2 and for the baseline
// processor, the loader choosing once at start: twice the bytes per step
// where the processor has it. GCC on x86-64 ELF systems (which the choice
// needs); elsewhere a plain function.
#if defined(__GNUC__) && !defined(__clang__) && defined(__x86_64__) && defined(__ELF__)
#define NODALIS_WIDE_BYTE_LOOP __attribute__((target_clones("avx2", "default")))
#else
#define NODALIS_WIDE_BYTE_LOOP
#endif

namespace nodalis {

// Byte-level passes over program text, by the widest step the processor
// has; the step can also be chosen, so that every one of them is tested.
enum class ByteStep
{
    Word,     // eight bytes, any processor
    Shuffle,  // sixteen, with the byte shuffle (SSSE3)
    Compress, // sixty-four, with the byte compress and expand (AVX-512 VBMI2)
};

// Whether this processor can take the step.
bool CanStep(ByteStep step);

// Closes up [begin, end) over every byte equal to search, in place; the
// new end.
char* RemoveByte(char* begin, const char* end, char search);
char* RemoveByte(char* begin, const char* end, char search, ByteStep step);

// Copies [in, end), a text without CR, to out with a CR before every LF;
// the end of the copy. out has room for twice the bytes, and 16 more.
char* ExpandLineFeeds(const char* in, const char* end, char* out);
char* ExpandLineFeeds(const char* in, const char* end, char* out, ByteStep step);

// Copies [in, end), lines each ended by CR LF (the last may lack it), to
// out without the blanks that begin or end a line; the end of the copy.
// out has room for the bytes and 64 more, and may be in itself.
char* TrimLineEdges(const char* in, const char* end, char* out);
char* TrimLineEdges(const char* in, const char* end, char* out, ByteStep step);

} // namespace nodalis
