#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>

namespace nodalis {

// Control texts of the configuration (BOT, EOT, BOR, EOR, the character
// filters) are written as comma-separated decimal codes: "37" is "%",
// "2x13,10" is CR CR LF, "20x0" twenty NUL characters. A list may instead
// name a file, whose whole content is then the text. An item that is not a
// number counts as 0; an item whose code is not a byte (below 0, above 255)
// or whose count is beyond reason is left out. The suffix (the port's EOB,
// or nothing) follows the decoded characters; a blank list gives an empty
// text, without the suffix.
QByteArray DecodeCharList(const QByteArray& list, const QByteArray& suffix);

// The codes of the characters in decimal, separated by ",": "65,66" for "AB".
QByteArray CharCodeList(const QByteArray& text);

// A program line cut at its first comment character (CarDebCom): the block
// is the text before it, the comment the rest of the line from it on. A line
// without comment (or an empty CarDebCom) is all block.
struct CommentSplit
{
    QByteArray block;
    QByteArray comment;
};
CommentSplit SplitComment(const QByteArray& line);

// Where the comment of a line begins, or -1: SplitComment without copies,
// for the filters that look at every line of a program.
qsizetype CommentStart(QByteArrayView line);

// The text without its leading and trailing blanks, without a copy.
QByteArrayView TrimmedView(QByteArrayView text);

// The text in capitals of the single-byte code page ("é" gives "É").
QByteArray UpperAnsi(QByteArrayView text);

// A Specificite value (machine family) as it is compared: trimmed and in
// capitals.
QByteArray SpecificiteName(const QByteArray& specificite);

// A file path read from a setting, with Windows separators made native.
QString SettingPath(const QByteArray& text);

} // namespace nodalis
