#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>

#include <functional>
#include <memory>

namespace nodalis {

// Where received program text is written: a file on the disk, or a double
// that fails on purpose.
class TextSink
{
public:
    virtual ~TextSink() = default;
    // False when not every byte was taken.
    virtual bool write(QByteArrayView bytes) = 0;
    // Hands what was written to the system.
    virtual bool flush() = 0;
    // Flushes, puts the bytes on the disk and closes.
    virtual bool close() = 0;
    // Why the last step failed, as the system says it.
    virtual QString error() const = 0;
};

// Opens a file for writing from its start; nullptr, and the reason in
// error, when it cannot be created.
using TextSinkOpener =
    std::function<std::unique_ptr<TextSink>(const QString& path, QString& error)>;
std::unique_ptr<TextSink> OpenFileSink(const QString& path, QString& error);
// Replaces how reception files are opened (tests); an empty one restores the disk.
void SetReceptionSinkOpener(TextSinkOpener opener);

// The channel's reception file during one listening cycle. Every chunk
// from the machine reaches the system as it arrives, and the end of a
// reception puts it on the disk before anything reads it. A write that
// fails reports 713 with the reason, once while the fault lasts; what was
// written before stays. A marker beside the file says a reception is under
// way until it has been examined, so that a reception cut by a crash or by
// a failed write is kept under a dated name rather than overwritten.
class ReceptionFile
{
public:
    ReceptionFile() = default;
    ~ReceptionFile();
    ReceptionFile(const ReceptionFile&) = delete;
    ReceptionFile& operator=(const ReceptionFile&) = delete;

    // Keeps an unexamined earlier reception, then creates the file afresh.
    // False when it cannot be created (713 and the reason, once).
    bool open();
    bool isOpen() const { return m_sink != nullptr; }
    // Received bytes, as they came.
    void write(QByteArrayView bytes);
    // End of a chunk: what came goes to the system now.
    void flush();
    // End of the reception: flushed, on the disk, closed. False when any
    // write failed (the reception is cut and must not be taken as whole).
    bool close();
    bool failed() const { return m_failed; }

    // The reception was examined: there is nothing left to keep.
    static void Examined();
    // At start-up: a reception left by a server that stopped mid-way is
    // kept under its dated name and logged.
    static void KeepInterrupted();

private:
    void fail(const QString& reason);

    std::unique_ptr<TextSink> m_sink;
    bool m_failed = false;
};

} // namespace nodalis
