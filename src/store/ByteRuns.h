#pragma once

namespace nodalis {

// Byte-level passes over program text, sixteen bytes at a time with the
// processor's byte shuffle where it has one (SSSE3), eight otherwise.

// Closes up [begin, end) over every byte equal to search, in place; the
// new end.
char* RemoveByte(char* begin, const char* end, char search);

// Copies [in, end), a text without CR, to out with a CR before every LF;
// the end of the copy. out has room for twice the bytes, and 16 more.
char* ExpandLineFeeds(const char* in, const char* end, char* out);

} // namespace nodalis
