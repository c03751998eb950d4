// Telegrams made and taken apart again, as fast as they go: prints how many
// a second, for 99-character command texts. Run by bench/fig_lsv2.py.

#include "protocols/ClsLSV2.h"

#include <QElapsedTimer>

#include <cstdio>

int main()
{
    using nodalis::ClsLSV2;
    QByteArray text(99, 'X');
    text.replace(0, 4, "R PP");
    const int rounds = 2000000;
    qsizetype total = 0;
    QElapsedTimer t;
    t.start();
    for (int i = 0; i < rounds; ++i) {
        text[50] = char('A' + i % 26); // no two rounds alike
        total += ClsLSV2::ExtractCmd(ClsLSV2::MakeTelegram(text)).size();
    }
    const double seconds = double(t.nsecsElapsed()) / 1e9;
    if (total != qsizetype(rounds) * text.size())
        return 1;
    std::printf("%.0f\n", rounds / seconds);
    return 0;
}
