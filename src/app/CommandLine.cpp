#include "app/CommandLine.h"

#include <QCommandLineParser>
#include <QFileInfo>
#include <QRegularExpression>

#include "watch/Delivery.h"

#ifndef OSTRELO_VERSION
#define OSTRELO_VERSION "unknown"
#endif

namespace ostrelo::qtui {

namespace {

QString Usage(const QCommandLineParser& parser, const QString& program) {
  QString help = parser.helpText();
  // The parser names the program only when an application object exists; say it anyway.
  const QString usageLine = "Usage: " + program;
  const qsizetype end = help.indexOf('\n');
  if (help.startsWith("Usage: ") && end > 0) {
    const qsizetype options = help.indexOf(" [options]");
    if (options > 0 && options < end) help.replace(0, options, usageLine);
  }
  return help;
}

}  // namespace

CommandLine ParseCommandLine(const QStringList& arguments) {
  QCommandLineParser parser;
  parser.setApplicationDescription(
      "Ostrelo documents a laboratory test with pictures and voltages: a live camera picture,\n"
      "an area of interest, and shots saved as 8-bit grey BMP files with the four analog\n"
      "voltages of a DAQ card appended to a tab-separated record.\n"
      "Without options it uses the first GenICam camera found and the NI-DAQmx card Dev1.");
  const QCommandLineOption simulate("simulate", "Use a simulated camera (1280 x 1024) and a simulated DAQ card.");
  parser.addOption(simulate);
  const QCommandLineOption resume("resume",
                                  "Continue a series that a crash, a kill or a power cut interrupted, without asking\n"
                                  "(for a start after a reboot); start as usual when there is none.");
  parser.addOption(resume);
  const QCommandLineOption statusFile(
      "status-file", "Keep a JSON document of the run's state up to date in PATH (replaced whole at each change).",
      "PATH");
  parser.addOption(statusFile);
  const QCommandLineOption notify("notify",
                                  "Post the run's events as JSON to URL (http or https; may be repeated); a prefix\n"
                                  "slack+, discord+, teams+, gchat+, ntfy+ or gotify+ posts what that service takes.",
                                  "URL");
  const QCommandLineOption notifyCommand(
      "notify-command", "Run CMD for each event too, its JSON on the standard input, the event in OSTRELO_EVENT.",
      "CMD");
  const QCommandLineOption notifyAfter("notify-after", "Tell a camera or card away for longer than SECONDS (120).",
                                       "SECONDS", "120");
  const QCommandLineOption notifyDaily("notify-daily", "Send a daily summary at HH:MM.", "HH:MM");
  parser.addOption(notify);
  parser.addOption(notifyCommand);
  parser.addOption(notifyAfter);
  parser.addOption(notifyDaily);
  // Our own help and version options: the parser's would also offer Qt's own options,
  // which this program does not take from the command line.
  const QCommandLineOption help(QStringList{"h", "help"}, "Display this help and exit.");
  const QCommandLineOption version(QStringList{"v", "version"}, "Display the version and exit.");
  parser.addOption(help);
  parser.addOption(version);
  parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);

  const QString program = arguments.isEmpty() ? QString("ostrelo") : QFileInfo(arguments.first()).fileName();
  CommandLine result;
  if (!parser.parse(arguments)) {
    result.action = CommandLine::Action::Error;
    result.text = program + ": " + parser.errorText() + "\n\n" + Usage(parser, program);
    result.exitCode = 2;
    return result;
  }
  if (!parser.positionalArguments().isEmpty()) {
    result.action = CommandLine::Action::Error;
    result.text =
        program + ": unexpected argument '" + parser.positionalArguments().first() + "'.\n\n" + Usage(parser, program);
    result.exitCode = 2;
    return result;
  }
  if (parser.isSet(help)) {
    result.action = CommandLine::Action::Help;
    result.text = Usage(parser, program);
    return result;
  }
  if (parser.isSet(version)) {
    result.action = CommandLine::Action::Version;
    result.text = "ostrelo " OSTRELO_VERSION "\n";
    return result;
  }
  result.simulate = parser.isSet(simulate);
  result.resume = parser.isSet(resume);
  result.statusFile = parser.value(statusFile);
  result.notifyUrls = parser.values(notify);
  result.notifyCommand = parser.value(notifyCommand);
  auto refuse = [&](const QString& why) {
    result.action = CommandLine::Action::Error;
    result.text = program + ": " + why + "\n";
    result.exitCode = 2;
    return result;
  };
  for (const QString& url : result.notifyUrls) {
    const std::string problem = NotifyUrlProblem(url.toStdString());
    if (!problem.empty()) {
      const QString shown = QString::fromStdString(ShownTarget(url.toStdString()));
      return refuse("--notify '" + shown + "' refused: " + QString::fromStdString(problem) + ".");
    }
  }
  // Replaced whole at each change: a device, a folder or a link there would be replaced
  // by a regular file.
  if (const QFileInfo info(result.statusFile);
      !result.statusFile.isEmpty() && (info.isSymLink() || (info.exists() && !info.isFile())))
    return refuse("--status-file '" + result.statusFile + "' refused: it is not a regular file.");
  bool number = false;
  result.notifyAfterSeconds = parser.value(notifyAfter).toInt(&number);
  if (!number || result.notifyAfterSeconds < 0) return refuse("--notify-after takes a number of seconds.");
  if (parser.isSet(notifyDaily)) {
    const QRegularExpressionMatch m =
        QRegularExpression("^([01]?[0-9]|2[0-3]):([0-5][0-9])$").match(parser.value(notifyDaily));
    if (!m.hasMatch()) return refuse("--notify-daily takes a time of day as HH:MM.");
    result.notifyDailyMinute = m.captured(1).toInt() * 60 + m.captured(2).toInt();
  }
  return result;
}

}  // namespace ostrelo::qtui
