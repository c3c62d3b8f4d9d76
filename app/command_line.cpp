// Command-line parsing with Qt's parser (main thread, before the application object).
// Qt's parser prints and exits on its own errors; the game needs one line of its own and
// status 2 instead, so parse() is used and every outcome is returned to the caller.
#include "app/command_line.h"

#include <QCommandLineParser>
#include <QCoreApplication>

#include "match/peer_address.h"

namespace {

LaunchPlan Exit(int status, const std::string& message) {
  LaunchPlan plan;
  plan.mode = LaunchPlan::Mode::Exit;
  plan.exit_status = status;
  plan.message = message;
  return plan;
}

}  // namespace

LaunchPlan ParseCommandLine(const QStringList& arguments) {
  QCommandLineParser parser;
  parser.setApplicationDescription(
      "Vantorix, a two-player duel. Without options: the title screen, where \"Practice\"\n"
      "starts a match against the computer and \"Vantorix - Start Game\" finds an opponent\n"
      "on the LAN. A direct match over UDP: both players start the game with each other's\n"
      "address,\n"
      "  vantorix --port 47000 --peer 192.168.1.20:47001 --host   (one side, the host)\n"
      "  vantorix --port 47001 --peer 192.168.1.10:47000          (the other side)\n"
      "or both start 'vantorix --connect' and type in what the other one's screen says.\n"
      "Esc in a match goes back to the title screen.");
  // Qt's own help option also offers Qt's options, which the game does not take.
  const QCommandLineOption help(QStringList{QStringLiteral("h"), QStringLiteral("help")}, "Show this help.");
  parser.addOption(help);
  const QCommandLineOption version = parser.addVersionOption();
  const QCommandLineOption port(QStringLiteral("port"), "UDP port this side's match uses (1-65535).", "N");
  const QCommandLineOption peer(QStringLiteral("peer"), "The opponent's address and match port.", "IP:PORT");
  const QCommandLineOption host(QStringLiteral("host"), "This side hosts (sends the maze); with --peer.");
  const QCommandLineOption connect(QStringLiteral("connect"),
                                   "Show this side's match port, then ask for the opponent's address and port.");
  const QCommandLineOption lan(QStringLiteral("lan"),
                               "The title screen (also the default): find an opponent on the LAN, or practise.");
  const QCommandLineOption local(QStringLiteral("local"), "The arena alone, with an opponent that stands still.");
  const QCommandLineOption practice(QStringLiteral("practice"), "A match against the computer.");
  const QCommandLineOption level(QStringLiteral("level"), "The practice opponent's level: 1 easy, 2 (default), 3 hard.",
                                 "N");
  const QCommandLineOption mute(QStringLiteral("mute"), "Start without sound (M turns it on and off in play).");
  parser.addOptions({port, peer, host, connect, lan, local, practice, level, mute});

  // The parser names the program after argv[0], or not at all before the application object
  // exists; the usage line always says what players type.
  QString text = parser.helpText();
  text = QStringLiteral("Usage: vantorix [options]") + text.mid(text.indexOf(QLatin1Char(QChar::LineFeed)));
  const std::string usage = text.toStdString();
  const auto bad = [&usage](const std::string& problem) { return Exit(2, "vantorix: " + problem + "\n" + usage); };

  if (!parser.parse(arguments)) return bad(parser.errorText().toStdString());
  if (parser.isSet(help)) return Exit(0, usage);
  if (parser.isSet(version))
    return Exit(0, QCoreApplication::applicationName().toStdString() + " " +
                       QCoreApplication::applicationVersion().toStdString() + "\n");
  if (!parser.positionalArguments().isEmpty())
    return bad("unexpected argument '" + parser.positionalArguments().first().toStdString() + "'");

  LaunchPlan plan;
  plan.muted = parser.isSet(mute);
  if (parser.isSet(port)) {
    const std::string text = parser.value(port).toStdString();
    const std::optional<uint16_t> number = ParsePort(text);
    if (!number) return bad("--port takes a number from 1 to 65535, not '" + text + "'");
    plan.local_port = *number;
  }
  if (parser.isSet(level) && !parser.isSet(practice)) return bad("--level goes with --practice");
  if (parser.isSet(practice)) {
    if (parser.isSet(peer) || parser.isSet(connect) || parser.isSet(lan) || parser.isSet(local) ||
        parser.isSet(host) || parser.isSet(port))
      return bad("--practice plays against the computer; leave out --peer, --connect, --lan, --local, --host and --port");
    if (parser.isSet(level)) {
      const QString text = parser.value(level);
      if (text != "1" && text != "2" && text != "3")
        return bad("--level takes 1, 2 or 3, not '" + text.toStdString() + "'");
      plan.level = text.toInt();
    }
    plan.mode = LaunchPlan::Mode::Practice;
    return plan;
  }
  if (parser.isSet(local)) {
    if (parser.isSet(peer) || parser.isSet(connect) || parser.isSet(lan) || parser.isSet(host) || parser.isSet(port))
      return bad("--local is the arena alone; leave out --peer, --connect, --lan, --host and --port");
    plan.mode = LaunchPlan::Mode::Local;
    return plan;
  }
  if (parser.isSet(lan)) {
    if (parser.isSet(peer) || parser.isSet(host) || parser.isSet(connect))
      return bad("--lan finds the opponent by itself; leave out --peer, --host and --connect");
    return plan;
  }
  if (parser.isSet(connect)) {
    if (parser.isSet(peer)) return bad("--connect asks for the opponent; leave out --peer");
    if (parser.isSet(host)) return bad("--connect decides the host by itself; leave out --host");
    plan.mode = LaunchPlan::Mode::Connect;
    return plan;
  }
  if (parser.isSet(peer)) {
    const std::string text = parser.value(peer).toStdString();
    const auto parsed = ParsePeer(text);
    if (!parsed) return bad("--peer takes a dotted IPv4 address and a port, like 192.168.1.20:47001, not '" + text + "'");
    if (!parser.isSet(port)) return bad("--peer needs --port, this side's match port");
    plan.mode = LaunchPlan::Mode::Direct;
    plan.peer_ip = parsed->first;
    plan.peer_port = parsed->second;
    plan.host = parser.isSet(host);
    return plan;
  }
  if (parser.isSet(host)) return bad("--host goes with --peer");
  return plan;  // the title screen; a --port given is the LAN match's
}
