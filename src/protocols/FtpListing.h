#pragma once

#include "protocols/RemoteTransport.h"

#include <QByteArray>

namespace nodalis {

// Most entries a machine's folder listing may hold; a larger one is refused.
constexpr qsizetype kFtpListingCap = 50000;

// Bytes of listing text that cap entries can need at most: a longer text
// holds more entries (or lines no server writes), so receiving stops there.
qsizetype FtpListingByteLimit(qsizetype cap);

// Reads an FTP folder listing line by line: MLSD facts when mlsd, otherwise
// LIST lines in Unix ("drwxr-xr-x 2 u g 4096 Jan 01 10:00 name", a link's
// name before " -> ") or DOS form ("12-01-26  10:15AM  <DIR>  name"); other
// lines are skipped. "." is left out, ".." kept as a folder (and added when
// the server did not list it), names that are not plain (IsPlainRemoteName)
// dropped. False, out untouched, for more than cap entries besides ".." or a
// text longer than FtpListingByteLimit(cap).
bool ParseFtpListing(const QByteArray& text, bool mlsd, RemoteListing& out, qsizetype cap);

} // namespace nodalis
