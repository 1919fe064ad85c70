#pragma once
// The command line: --simulate, --resume, --status-file, the notification options,
// --help, --version; nothing else is accepted.

#include <QString>
#include <QStringList>

namespace ostrelo::qtui {

struct CommandLine {
  enum class Action { Run, Help, Version, Error };
  Action action = Action::Run;
  bool simulate = false;
  bool resume = false;  // an interrupted series goes on without the question
  QString statusFile;   // empty: none
  QStringList notifyUrls;
  QString notifyCommand;  // empty: none
  int notifyAfterSeconds = 120;
  int notifyDailyMinute = -1;  // minutes after midnight; -1: no daily summary
  QString text;                // what to print: help, version, or the error followed by the usage
  int exitCode = 0;            // for everything but Run: 0, or 2 for a command-line error
};

// arguments[0] is the program's name.
CommandLine ParseCommandLine(const QStringList& arguments);

}  // namespace ostrelo::qtui
