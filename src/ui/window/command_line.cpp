#include "window/command_line.h"

#include "version.h"

#include <QCommandLineParser>

namespace mc {

namespace {

constexpr auto kProgram = "matrix-console";

// Qt's own options that QApplication takes (the X11 ones included), so the
// parser neither refuses them nor lists them: with a value, and without.
constexpr const char* kQtValueOptions[] = {
    "platform",
    "platformpluginpath",
    "platformtheme",
    "plugin",
    "qwindowgeometry",
    "qwindowtitle",
    "qwindowicon",
    "style",
    "stylesheet",
    "session",
    "display",
    "geometry",
    "title",
    "name",
    "visual",
    "ncols",
    "cmap",
    "qmljsdebugger",
    "qwindowcolorspace",
};
constexpr const char* kQtFlagOptions[] = {"reverse", "widgetcount", "nograb", "dograb", "sync", "noglib"};

} // namespace

ConsoleCommandLine parseConsoleCommandLine(const QStringList& arguments) {
    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("Control console for a 16x16 HDMI matrix switcher on a serial line or the network."));
    // "-platform offscreen" is one option, as QApplication reads it.
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    const QCommandLineOption help({QStringLiteral("h"), QStringLiteral("help")},
                                  QStringLiteral("Print this help and exit."));
    const QCommandLineOption version(QStringLiteral("version"), QStringLiteral("Print the version and exit."));
    const QCommandLineOption connect(QStringLiteral("connect"),
                                     QStringLiteral("Connect to the switcher at HOST:PORT once the window is up."),
                                     QStringLiteral("HOST:PORT"));
    const QCommandLineOption log(QStringLiteral("log"),
                                 QStringLiteral("Append every traffic row to FILE (a regular file), rotated at "
                                                "10 MiB into FILE.1."),
                                 QStringLiteral("FILE"));
    parser.addOptions({help, version, connect, log});
    for (const char* name : kQtValueOptions) {
        QCommandLineOption qt(QString::fromLatin1(name), QString(), QStringLiteral("value"));
        qt.setFlags(QCommandLineOption::HiddenFromHelp);
        parser.addOption(qt);
    }
    for (const char* name : kQtFlagOptions) {
        QCommandLineOption qt(QString::fromLatin1(name));
        qt.setFlags(QCommandLineOption::HiddenFromHelp);
        parser.addOption(qt);
    }

    // The parser names the running executable, which it cannot know before
    // the application object exists; the usage line names the program.
    QString usage = parser.helpText();
    usage.replace(0, usage.indexOf(u'\n'), QStringLiteral("Usage: %1 [options]").arg(QString::fromLatin1(kProgram)));
    ConsoleCommandLine result;
    const auto refuse = [&result, &usage](const QString& reason) {
        result.exitStatus = kExitUsage;
        result.output = QStringLiteral("%1: %2\n%3").arg(QString::fromLatin1(kProgram), reason, usage);
        return result;
    };
    if (!parser.parse(arguments)) {
        return refuse(parser.errorText());
    }
    if (parser.isSet(help)) {
        result.exitStatus = 0;
        result.output = usage;
        return result;
    }
    if (parser.isSet(version)) {
        result.exitStatus = 0;
        result.output = QStringLiteral("%1 %2\n").arg(QString::fromLatin1(kProgram), QString::fromLatin1(kVersion));
        return result;
    }
    if (!parser.positionalArguments().isEmpty()) {
        return refuse(QStringLiteral("unexpected argument \"%1\"").arg(parser.positionalArguments().constFirst()));
    }
    if (parser.isSet(log)) {
        const QString path = parser.value(log);
        if (path.isEmpty()) {
            return refuse(QStringLiteral("--log needs a file name"));
        }
        result.logPath = path.toStdString();
    }
    if (parser.isSet(connect)) {
        const QString text = parser.value(connect);
        const LinkAddressResult parsed = parseLinkAddress(text.toStdString());
        if (const auto* error = std::get_if<LinkAddressError>(&parsed)) {
            return refuse(QStringLiteral("--connect: %1").arg(QString::fromStdString(error->message)));
        }
        const auto* tcp = std::get_if<TcpLinkAddress>(&std::get<LinkAddress>(parsed));
        if (tcp == nullptr) {
            return refuse(QStringLiteral("--connect takes HOST:PORT, not a serial port (%1)").arg(text));
        }
        result.connectTo = *tcp;
    }
    return result;
}

} // namespace mc
