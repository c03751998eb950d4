#pragma once

#include <QByteArray>
#include <QString>

#include <cstddef>
#include <cstdint>

// What every fuzz target shares: the Qt application (made once, in
// LLVMFuzzerInitialize), a scratch folder, a reader of the input's bytes and
// a check that stops the run, so that libFuzzer keeps the input, when a
// property breaks.

namespace nodalis::fuzz {

// Reads an input from its front: a few bytes choose the settings, the rest
// is the data. Past the end every read gives zero bytes.
class FuzzInput
{
public:
    FuzzInput(const uint8_t* data, size_t size) : m_data(data), m_size(size) {}

    quint8 byte() { return m_pos < m_size ? m_data[m_pos++] : 0; }
    QByteArray bytes(size_t n);
    // At most max bytes, their number given by the next byte.
    QByteArray piece(int max) { return bytes(size_t(byte() % (max + 1))); }
    QByteArray rest() { return bytes(m_size - m_pos); }

private:
    const uint8_t* m_data;
    size_t m_size;
    size_t m_pos = 0;
};

// A folder of this process for the files a target writes; on a memory file
// system where there is one, since most runs write a file or two.
const QString& ScratchFolder();

// Default settings and the paths of the scratch folder as base folder.
void ResetServer();

bool WriteBytes(const QString& path, const QByteArray& bytes);
QByteArray ReadBytes(const QString& path);

// Bytes as C escapes, cut short, for the message of a failed check.
QByteArray Escaped(const QByteArray& bytes);

[[noreturn]] void Fail(const char* condition, const QByteArray& detail, const char* file, int line);

} // namespace nodalis::fuzz

// detail is only built when the check fails.
#define FUZZ_CHECK(condition, detail)                                                              \
    do {                                                                                           \
        if (!(condition))                                                                          \
            ::nodalis::fuzz::Fail(#condition, (detail), __FILE__, __LINE__);                       \
    } while (false)
