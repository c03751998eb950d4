#include "protocols/FtpListing.h"

#include "platform/AnsiText.h"

#include <QByteArrayView>

#include <optional>

namespace nodalis {

namespace {

// A line with a 255-character name and every fact or column a server adds.
constexpr qsizetype kLineBytes = 1024;

bool isBlank(char c)
{
    return c == ' ' || c == '\t';
}

bool allDigits(QByteArrayView w)
{
    if (w.isEmpty())
        return false;
    for (const char c : w) {
        if (c < '0' || c > '9')
            return false;
    }
    return true;
}

// Where each blank-separated word of a line starts and ends.
struct Word
{
    qsizetype from;
    qsizetype to;
};

QList<Word> wordsOf(QByteArrayView line)
{
    QList<Word> words;
    for (qsizetype i = 0; i < line.size();) {
        while (i < line.size() && isBlank(line[i]))
            ++i;
        const qsizetype from = i;
        while (i < line.size() && !isBlank(line[i]))
            ++i;
        if (i > from)
            words.append({from, i});
    }
    return words;
}

QByteArrayView wordAt(QByteArrayView line, const Word& w)
{
    return line.sliced(w.from, w.to - w.from);
}

// type=dir;size=0;modify=20260112101500; name
std::optional<RemoteEntry> mlsdEntry(QByteArrayView line)
{
    const qsizetype space = line.indexOf(' ');
    if (space < 0)
        return {};
    RemoteEntry e;
    e.Nom = fromAnsi(line.sliced(space + 1).toByteArray());
    QByteArray type;
    for (const QByteArray& fact : line.first(space).toByteArray().split(';')) {
        const qsizetype eq = fact.indexOf('=');
        const QByteArray key = fact.left(eq).toLower();
        if (key == "type")
            type = fact.mid(eq + 1).toLower();
        else if (key == "size")
            e.size = fact.mid(eq + 1).toLongLong();
    }
    if (type == "dir" || type == "pdir") {
        e.TypeFD = RemoteEntry::Folder;
        e.size = 0;
    } else if (type != "file" && !type.startsWith("os.unix=slink"))
        return {}; // cdir (the folder itself) and kinds with no file behind
    if (type == "pdir")
        e.Nom = QStringLiteral("..");
    return e;
}

bool isMonth(QByteArrayView w)
{
    static const QByteArrayView months[] = {"jan", "feb", "mar", "apr", "may", "jun",
                                            "jul", "aug", "sep", "oct", "nov", "dec"};
    const QByteArray lower = w.toByteArray().toLower();
    for (const QByteArrayView m : months) {
        if (lower == m)
            return true;
    }
    return false;
}

// hh:mm, or a year for entries older than six months.
bool isTimeOrYear(QByteArrayView w)
{
    const qsizetype colon = w.indexOf(':');
    if (colon < 0)
        return w.size() == 4 && allDigits(w);
    return allDigits(w.first(colon)) && allDigits(w.sliced(colon + 1));
}

// drwxr-xr-x 2 user group 4096 Jan 01 10:00 My Folder (the group may be
// missing): the size is the word before the date, the name all after it.
std::optional<RemoteEntry> unixEntry(QByteArrayView line)
{
    const char kind = line[0];
    const QList<Word> w = wordsOf(line);
    if ((kind != '-' && kind != 'd' && kind != 'l') || w.isEmpty() || w[0].to - w[0].from < 10)
        return {};
    for (qsizetype i = 2; i + 3 < w.size(); ++i) {
        const QByteArrayView day = wordAt(line, w[i + 1]);
        if (!isMonth(wordAt(line, w[i])) || !allDigits(day) || day.size() > 2 ||
            !isTimeOrYear(wordAt(line, w[i + 2])) || !allDigits(wordAt(line, w[i - 1])))
            continue;
        QByteArrayView name = line.sliced(w[i + 3].from);
        if (kind == 'l' && name.indexOf(" -> ") >= 0)
            name = name.first(name.indexOf(" -> "));
        RemoteEntry e;
        e.TypeFD = kind == 'd' ? RemoteEntry::Folder : RemoteEntry::File;
        e.Nom = fromAnsi(name.toByteArray());
        e.size = e.TypeFD == RemoteEntry::File ? wordAt(line, w[i - 1]).toLongLong() : 0;
        return e;
    }
    return {};
}

// 12-01-26 or 12/01/2026
bool isDosDate(QByteArrayView w)
{
    const QList<QByteArray> parts = w.toByteArray().replace('/', '-').split('-');
    return parts.size() == 3 && allDigits(parts[0]) && allDigits(parts[1]) && allDigits(parts[2]);
}

// 10:15AM, 22:15
bool isDosTime(QByteArrayView w)
{
    const QByteArray upper = w.toByteArray().toUpper();
    const QByteArrayView clock =
        upper.endsWith("AM") || upper.endsWith("PM") ? w.chopped(2) : QByteArrayView(w);
    return isTimeOrYear(clock) && clock.contains(':');
}

// 12-01-26  10:15AM  <DIR>  My Folder  /  12-01-26  10:15AM  1234 a b.nc
std::optional<RemoteEntry> dosEntry(QByteArrayView line)
{
    const QList<Word> w = wordsOf(line);
    if (w.size() < 4 || !isDosDate(wordAt(line, w[0])) || !isDosTime(wordAt(line, w[1])))
        return {};
    const QByteArrayView what = wordAt(line, w[2]);
    const bool folder = what.compare("<DIR>", Qt::CaseInsensitive) == 0;
    if (!folder && !allDigits(what))
        return {};
    RemoteEntry e;
    e.TypeFD = folder ? RemoteEntry::Folder : RemoteEntry::File;
    e.Nom = fromAnsi(line.sliced(w[3].from).toByteArray());
    e.size = folder ? 0 : what.toLongLong();
    return e;
}

std::optional<RemoteEntry> entryOf(QByteArrayView line, bool mlsd)
{
    while (!line.isEmpty() && isBlank(line.back()))
        line.chop(1);
    if (line.isEmpty())
        return {};
    if (mlsd)
        return mlsdEntry(line);
    return line[0] >= '0' && line[0] <= '9' ? dosEntry(line) : unixEntry(line);
}

} // namespace

qsizetype FtpListingByteLimit(qsizetype cap)
{
    return (cap + 2) * kLineBytes;
}

bool ParseFtpListing(const QByteArray& text, bool mlsd, RemoteListing& out, qsizetype cap)
{
    if (text.size() > FtpListingByteLimit(cap))
        return false;
    const QString up = QStringLiteral("..");
    RemoteListing got;
    bool hasUp = false;
    for (qsizetype from = 0, end; from < text.size(); from = end + 1) {
        end = text.indexOf('\n', from);
        if (end < 0)
            end = text.size();
        QByteArrayView line = QByteArrayView(text).sliced(from, end - from);
        if (line.endsWith('\r'))
            line.chop(1);
        std::optional<RemoteEntry> e = entryOf(line, mlsd);
        if (!e || (e->Nom == up && hasUp))
            continue;
        if (e->Nom == up) {
            hasUp = true;
            e->TypeFD = RemoteEntry::Folder;
            e->size = 0;
        } else if (!IsPlainRemoteName(e->Nom)) {
            continue;
        } else if (got.entries.size() - hasUp >= cap) {
            return false;
        }
        got.entries.append(*e);
    }
    if (!hasUp)
        got.entries.prepend({RemoteEntry::Folder, up, 0, {}});
    out = std::move(got);
    return true;
}

} // namespace nodalis
