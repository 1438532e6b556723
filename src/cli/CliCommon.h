// SPDX-License-Identifier: MIT
#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

class QCommandLineParser;

namespace vexlo::cli {

// What every mode shares: exit statuses, messages, the parser set-up and
// the "-" that stands for standard input or output.

inline constexpr int kExitFailure = 1;
inline constexpr int kExitUsage = 2;

// A file name of "-" is standard input where a file is read, standard
// output where one is written.
inline const QString kStandardStream = QStringLiteral("-");

// "vexlo32: text" on standard error. Names in the text go out as the bytes
// the user typed (NativeName.h), whatever their encoding.
void printError(const QString& text);
// "vexlo32: subject: reason".
void printFailure(const QString& subject, const QString& reason);
// A mistake in the words: the line, and where the help is. Returns kExitUsage.
int usageMistake(const QString& text, const QString& helpWords = QStringLiteral("--help"));
// Writes text to standard output (help and version).
void printText(const char* text);
// The help's last words on --all-kinds: whether ARJ archives can be read
// (by the arj program, which may not be installed).
const char* kindsHelpNote();

// Every parser of the program reads options by word, "-output" like
// "--output" (as the toolkit reads its own options), and anywhere among the
// other words; "--" ends the options.
void setUpParser(QCommandLineParser& parser);
// Parses the words (the program's name left out). An empty text when they
// were understood, else the mistake, naming an unknown option as typed.
QString parseWords(QCommandLineParser& parser, const QStringList& words);

// The absolute form of a path typed on the command line, naming what the
// system finds from the current folder. "." and empty components are
// dropped; a ".." is never taken back by text (through a link it leads
// elsewhere): the part up to the last ".." is resolved by the system, and
// what follows it stays as typed, so a file that does not exist yet can be
// named. Without any "..", letter case and every byte stay as typed.
// An empty text when the path names nothing, with problem set to a whole
// message: the current folder is gone or too deep, or the part to resolve
// cannot be.
QString absolutePath(const QString& typed, QString& problem);

// Reads standard input to its end: 0, or the reason it failed as an errno
// value (EFBIG when it holds more than maxBytes).
int readStandardInput(QByteArray& out, qint64 maxBytes);

} // namespace vexlo::cli
