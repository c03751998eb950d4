#include "explorer/PreviewText.h"

namespace nodalis {

namespace {

// A binary file read as a program can hold one line of a megabyte; no line of
// a preview is longer than this, so that laying the text out stays quick.
constexpr qsizetype kPreviewLine = 2000;

} // namespace

QString PreviewText(const QByteArray& bytes)
{
    QString text(bytes.size() + bytes.size() / kPreviewLine + 1, Qt::Uninitialized);
    QChar* out = text.data();
    qsizetype n = 0;
    qsizetype line = 0;
    for (qsizetype i = 0; i < bytes.size(); ++i) {
        const auto b = static_cast<unsigned char>(bytes.at(i));
        if (b == '\r' && i + 1 < bytes.size() && bytes.at(i + 1) == '\n')
            continue;
        if (b == '\r' || b == '\n') {
            out[n++] = QLatin1Char('\n');
            line = 0;
            continue;
        }
        if (line == kPreviewLine) {
            out[n++] = QLatin1Char('\n');
            line = 0;
        }
        ++line;
        if (b == '\t')
            out[n++] = QLatin1Char('\t');
        else if (b < 0x20)
            out[n++] = QChar(char16_t(0x2400 + b));
        else if (b == 0x7f)
            out[n++] = QChar(char16_t(0x2421));
        else if (b >= 0x80 && b < 0xa0)
            out[n++] = QChar(QChar::ReplacementCharacter);
        else
            out[n++] = QLatin1Char(static_cast<char>(b));
    }
    text.truncate(n);
    return text;
}

} // namespace nodalis
