#pragma once

#include <QString>
#include <QStringList>

namespace nodalis {

// What the command line asks of nodalis.
struct CommandLine
{
    QString baseFolder;    // --base DIR; empty: the executable's folder
    bool headless = false; // --headless, or no display to open a window on
    bool window = false;   // --window: the windows kept even where nothing is drawn
    bool checkConfig = false;
    bool showHelp = false;
    bool showVersion = false;
    QString file;  // program file to send in stand-alone mode (the rest of the line, trimmed)
    QString error; // set when the line cannot be understood

    static CommandLine Parse(const QStringList& arguments);
    static QString Usage();
};

} // namespace nodalis
