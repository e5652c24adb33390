// The console's command line: what it takes, what it refuses, and the
// program itself answering before any window opens.
#include "version.h"
#include "window/command_line.h"

#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>
#include <sys/stat.h>

using mc::ConsoleCommandLine;
using mc::parseConsoleCommandLine;

namespace {

ConsoleCommandLine parse(QStringList arguments) {
    arguments.prepend(QStringLiteral("matrix-console"));
    return parseConsoleCommandLine(arguments);
}

QString consoleProgram() {
    return qEnvironmentVariable("MC_BUILD_DIR") + QStringLiteral("/src/matrix-console");
}

} // namespace

class CommandLineTest : public QObject {
    Q_OBJECT

private slots:
    void helpAndVersionPrintAndEndWell() {
        for (const QString& flag : {QStringLiteral("--help"), QStringLiteral("-h")}) {
            const ConsoleCommandLine help = parse({flag, QStringLiteral("--log"), QStringLiteral("x")});
            QCOMPARE(help.exitStatus, std::optional<int>(0));
            QVERIFY2(help.output.startsWith(QStringLiteral("Usage: matrix-console [options]\n")),
                     qPrintable(help.output));
            for (const char* option : {"--connect <HOST:PORT>", "--log <FILE>", "--version", "--help"}) {
                QVERIFY2(help.output.contains(QLatin1String(option)), option);
            }
            QVERIFY2(!help.output.contains(QStringLiteral("platform")), "Qt's own options stay unlisted");
        }
        const ConsoleCommandLine version = parse({QStringLiteral("--version")});
        QCOMPARE(version.exitStatus, std::optional<int>(0));
        QCOMPARE(version.output, QStringLiteral("matrix-console %1\n").arg(QLatin1String(mc::kVersion)));
    }

    void unknownOptionsAndStrayArgumentsAreRefusedWithTheUsage() {
        const QList<QPair<QStringList, QString>> cases{
            {{QStringLiteral("--bogus")}, QStringLiteral("Unknown option 'bogus'")},
            {{QStringLiteral("-x")}, QStringLiteral("Unknown option 'x'")},
            {{QStringLiteral("COM3")}, QStringLiteral("unexpected argument \"COM3\"")},
            {{QStringLiteral("--log")}, QStringLiteral("Missing value after '--log'")},
            {{QStringLiteral("--log=")}, QStringLiteral("--log needs a file name")},
            {{QStringLiteral("--connect"), QStringLiteral("COM3")}, QStringLiteral("--connect takes HOST:PORT")},
            {{QStringLiteral("--connect"), QStringLiteral("h:0")}, QStringLiteral("--connect: ")},
        };
        for (const auto& [arguments, reason] : cases) {
            const ConsoleCommandLine refused = parse(arguments);
            QCOMPARE(refused.exitStatus, std::optional<int>(mc::kExitUsage));
            QVERIFY2(refused.output.startsWith(QStringLiteral("matrix-console: ") + reason),
                     qPrintable(refused.output));
            QVERIFY2(refused.output.contains(QStringLiteral("\nUsage: matrix-console [options]\n")),
                     qPrintable(refused.output));
            QVERIFY(!refused.logPath && !refused.connectTo);
        }
    }

    void optionsAreTakenInEitherFormBesideQtsOwn() {
        const ConsoleCommandLine taken =
            parse({QStringLiteral("-platform"), QStringLiteral("offscreen"), QStringLiteral("--log=/tmp/t.log"),
                   QStringLiteral("-style"), QStringLiteral("fusion"), QStringLiteral("-reverse"),
                   QStringLiteral("--connect"), QStringLiteral("[::1]:4001")});
        QVERIFY2(!taken.exitStatus, qPrintable(taken.output));
        QCOMPARE(taken.logPath, std::optional<std::string>("/tmp/t.log"));
        QVERIFY(taken.connectTo);
        QCOMPARE(taken.connectTo->host, std::string("::1"));
        QCOMPARE(taken.connectTo->port, std::uint16_t{4001});
        const ConsoleCommandLine plain = parse({});
        QVERIFY(!plain.exitStatus && !plain.logPath && !plain.connectTo);
    }

    // The program: a refusal and the help come before any window (they
    // need no display), and a log path that is no regular file stops it
    // at once with the reason, a FIFO without a reader included.
    void theProgramAnswersBeforeItsWindow() {
        if (!QFile::exists(consoleProgram())) {
            QSKIP("matrix-console is not built");
        }
        QTemporaryDir dir;
        const QString fifo = dir.filePath(QStringLiteral("fifo"));
        QCOMPARE(::mkfifo(fifo.toLocal8Bit().constData(), 0600), 0);
        struct Run {
            QStringList arguments;
            int status;
            QString expected; // at the start of standard output or standard error
        };
        const QList<Run> runs{
            {{QStringLiteral("--bogus")}, 2, QStringLiteral("matrix-console: Unknown option 'bogus'.\nUsage:")},
            {{QStringLiteral("--help")}, 0, QStringLiteral("Usage: matrix-console [options]\n")},
            {{QStringLiteral("--log"), fifo},
             2,
             QStringLiteral("matrix-console: cannot open the log file \"%1\": ").arg(fifo)},
            {{QStringLiteral("--log"), dir.path()},
             2,
             QStringLiteral("matrix-console: cannot open the log file \"%1\": ").arg(dir.path())},
        };
        for (const Run& run : runs) {
            QProcess console;
            console.setEnvironment(QProcess::systemEnvironment() << QStringLiteral("QT_QPA_PLATFORM=none-such"));
            console.start(consoleProgram(), run.arguments);
            QVERIFY2(console.waitForFinished(5000), qPrintable(run.arguments.join(u' ')));
            QCOMPARE(console.exitStatus(), QProcess::NormalExit);
            QCOMPARE(console.exitCode(), run.status);
            const QString out = QString::fromLocal8Bit(run.status == 0 ? console.readAllStandardOutput()
                                                                       : console.readAllStandardError());
            QVERIFY2(out.startsWith(run.expected), qPrintable(out));
        }
    }
};

QTEST_MAIN(CommandLineTest)
#include "command_line_test.moc"
