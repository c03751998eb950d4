#pragma once

#include <QString>
#include <QStringList>
#include <QTextStream>

namespace nodalis::ctl {

// Exit statuses of the store commands.
inline constexpr int StoreDone = 0;
inline constexpr int StoreFailed = 1;
inline constexpr int StoreUsage = 64;

// nodalisctl store: fills and reads the program store of a base folder
// without the program-management application.
//   init                       creates the folders, databases and tables (again: no change)
//   add --machine M --call NAME --file F [--field N=VALUE]... [--downloadable 0|1]
//                              a program: prints its CodeProg, files its text under ProgCN
//   list [--machine M]         the programs, one per line
//   show CODE                  one program and the state of its text
// The base folder's Nodalis.ini says where the store is (PathData, DbDriver...).
int RunStoreCommand(const QString& baseFolder, const QStringList& arguments, QTextStream& out,
                    QTextStream& err);

QString StoreUsageText();

} // namespace nodalis::ctl
