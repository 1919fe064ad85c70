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

// An argument as messages show it: an URL without its user info and query, typed with its
// scheme or without; a command (a text with blanks) by its program only, as the delivery's
// log lines name it.
QString Shown(const QString& given) {
  const std::string text = given.trimmed().toStdString();
  if (text.find("://") < text.find_first_of(" \t")) return QString::fromStdString(ShownTarget(text));
  const std::string named = ShownTarget(text);
  const size_t end = named.find(' ');
  const std::string program = named.substr(0, end);
  if (program == "...") return "...";
  // Without a scheme, what comes before the first "/", "?" or "#" is the authority.
  const std::string masked =
      program.find("://") != std::string::npos ? ShownTarget(program) : ShownTarget("x://" + program).substr(4);
  return QString::fromStdString(masked + (end == std::string::npos ? "" : named.substr(end)));
}

// Qt's own error texts quote the options as they were typed: every word of them that
// may be an URL is shown as Shown() shows it.
QString ShownError(const QString& text) {
  static const QRegularExpression word("[^\\s',]+");
  QString shown;
  qsizetype done = 0;
  for (auto it = word.globalMatch(text); it.hasNext();) {
    const QRegularExpressionMatch m = it.next();
    const QString w = m.captured();
    const bool secret = w.contains('@') || w.contains('?') || w.contains('#') || w.contains("://");
    shown += text.mid(done, m.capturedStart() - done) + (secret ? Shown(w) : w);
    done = m.capturedEnd();
  }
  return shown + text.mid(done);
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
      "notify-command",
      "Run CMD for each event too, its JSON on the standard input, the event in OSTRELO_EVENT\n"
      "and its id in OSTRELO_EVENT_ID.",
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
    result.text = program + ": " + ShownError(parser.errorText()) + "\n\n" + Usage(parser, program);
    result.exitCode = 2;
    return result;
  }
  if (!parser.positionalArguments().isEmpty()) {
    result.action = CommandLine::Action::Error;
    // Beside a command, a stray word is most likely one of its arguments left out of the
    // quotes, which may be a secret: it is not repeated.
    const QString stray = parser.isSet(notifyCommand)
                              ? "an unexpected argument: a --notify-command with arguments goes in quotes"
                              : "unexpected argument '" + Shown(parser.positionalArguments().first()) + "'";
    result.text = program + ": " + stray + ".\n\n" + Usage(parser, program);
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
      return refuse("--notify '" + Shown(url) + "' refused: " + QString::fromStdString(problem) + ".");
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
