// FTP folder listings as a hostile server could send them, MLSD or LIST,
// under a small entry cap: every name kept is plain, ".." is there once as a
// folder, the cap holds, and a refused listing leaves the last one in place.

#include "FuzzSupport.h"

#include "protocols/FtpListing.h"

using namespace nodalis;
using namespace nodalis::fuzz;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    FuzzInput in(data, size);
    const quint8 flags = in.byte();
    const bool mlsd = flags & 1;
    const qsizetype cap = 1 + (flags >> 1) % 16;
    const QByteArray text = in.rest();

    RemoteListing listing;
    listing.entries.append({RemoteEntry::File, QStringLiteral("previous"), 1, {}});
    const bool ok = ParseFtpListing(text, mlsd, listing, cap);
    const auto detail = [&] { return (mlsd ? "mlsd\n" : "list\n") + Escaped(text); };
    if (!ok) {
        FUZZ_CHECK(listing.entries.size() == 1 &&
                       listing.entries[0].Nom == QLatin1String("previous"),
                   detail());
        return 0;
    }
    FUZZ_CHECK(text.size() <= FtpListingByteLimit(cap), detail());
    FUZZ_CHECK(listing.countReal() <= cap, detail());
    int ups = 0;
    for (const RemoteEntry& e : listing.entries) {
        if (e.Nom == QLatin1String("..")) {
            ++ups;
            FUZZ_CHECK(e.TypeFD == RemoteEntry::Folder, detail());
        } else {
            FUZZ_CHECK(IsPlainRemoteName(e.Nom), detail() + "\nname " + e.Nom.toUtf8());
        }
    }
    FUZZ_CHECK(ups == 1, detail());
    return 0;
}
