#include "app/CommandLine.h"

#include "platform/Desktop.h"

namespace nodalis {

CommandLine CommandLine::Parse(const QStringList& arguments)
{
    CommandLine cl;
    QStringList rest;
    for (int i = 1; i < arguments.size(); ++i) {
        const QString& arg = arguments[i];
        if (arg == QLatin1String("--base")) {
            if (i + 1 >= arguments.size()) {
                cl.error = QStringLiteral("--base needs a folder");
                return cl;
            }
            cl.baseFolder = arguments[++i];
        } else if (arg.startsWith(QLatin1String("--base="))) {
            cl.baseFolder = arg.mid(7);
        } else if (arg == QLatin1String("--headless")) {
            cl.headless = true;
        } else if (arg == QLatin1String("--window")) {
            cl.window = true;
        } else if (arg == QLatin1String("--check-config")) {
            cl.checkConfig = true;
        } else if (arg == QLatin1String("--help") || arg == QLatin1String("-h")) {
            cl.showHelp = true;
        } else if (arg == QLatin1String("--version")) {
            cl.showVersion = true;
        } else if (arg.startsWith(QLatin1String("--")) && rest.isEmpty()) {
            cl.error = QStringLiteral("unknown option %1").arg(arg);
            return cl;
        } else {
            rest.append(arg);
        }
    }
    // The program file is the rest of the line, as one text: a path with
    // blanks arrives in several pieces when it was not quoted.
    cl.file = rest.join(QLatin1Char(' ')).trimmed();
    if (!DisplayAvailable() && !cl.window)
        cl.headless = true;
    return cl;
}

QString CommandLine::Usage()
{
    return QStringLiteral(
        "Usage: nodalis [--base DIR] [--headless | --window] [FILE]\n"
        "       nodalis [--base DIR] --check-config\n"
        "\n"
        "DNC server for one machine tool, configured by DIR/Nodalis.ini.\n"
        "\n"
        "  --base DIR      base folder holding Nodalis.ini (default: the executable's folder)\n"
        "  --headless      run without a window (also when no display is available)\n"
        "  --window        keep the windows where nothing is drawn (QT_QPA_PLATFORM offscreen,\n"
        "                  for screenshots and tests); questions are then answered as headless\n"
        "  --check-config  load Nodalis.ini, print every setting as SECTION.Key=\"value\", exit\n"
        "  --version       print the version and exit\n"
        "  --help          print this help and exit\n"
        "  FILE            in stand-alone mode, a program file to send at once\n"
        "\n"
        "Exit status: 0 done, 1 configuration missing or wrong, 2 the base folder is already\n"
        "served, 3 the stand-alone send failed, 64 bad command line.\n"
        "\n"
        "Environment:\n"
        "  NODALIS_TIME_SCALE    multiplies every wait and time-out (tests use values below 1)\n"
        "  NODALIS_MODEM_LINES   file giving CTS and DSR (lines CTS=0, DSR=1) for devices\n"
        "                        without modem lines, such as pseudo-terminals\n"
        "  NODALIS_SIBLING_PATH  install folder of the program-management application\n"
        "  QT_QPA_PLATFORM       offscreen or minimal: no window (headless) unless --window\n");
}

} // namespace nodalis
