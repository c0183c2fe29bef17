#include "support/clirunner.h"

#include <QEventLoop>
#include <QJsonDocument>
#include <QProcess>
#include <QProcessEnvironment>
#include <QTimer>

QString cliPath()
{
    return QStringLiteral(BRINDLE_CLI_PATH);
}

QJsonObject CliResult::json() const
{
    return QJsonDocument::fromJson(out.trimmed()).object();
}

void startCli(QProcess &process, const QStringList &args, const CliOptions &options)
{
    if (!options.workingDirectory.isEmpty())
        process.setWorkingDirectory(options.workingDirectory);
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    for (const QString &var : {QStringLiteral("LC_ALL"), QStringLiteral("LC_MESSAGES"), QStringLiteral("LANG")})
        env.remove(var);
    if (!options.locale.isEmpty())
        env.insert(QStringLiteral("LANG"), QString::fromLatin1(options.locale));
    process.setProcessEnvironment(env);
    if (!options.inputFile.isEmpty())
        process.setStandardInputFile(options.inputFile);
    process.start(cliPath(), args);
    if (options.inputFile.isEmpty() && process.waitForStarted()) {
        process.write(options.input);
        process.closeWriteChannel();
    }
}

CliResult finishCli(QProcess &process, int timeoutMs)
{
    if (process.state() != QProcess::NotRunning) {
        QEventLoop loop;
        QObject::connect(&process, &QProcess::finished, &loop, &QEventLoop::quit);
        QTimer::singleShot(timeoutMs, &loop, &QEventLoop::quit);
        loop.exec();
    }
    CliResult result;
    if (process.state() != QProcess::NotRunning) {
        process.kill();
        process.waitForFinished();
        return result;
    }
    if (process.error() != QProcess::FailedToStart && process.exitStatus() == QProcess::NormalExit)
        result.exitCode = process.exitCode();
    result.out = process.readAllStandardOutput();
    result.lines = QString::fromUtf8(result.out).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    result.err = process.readAllStandardError();
    return result;
}

CliResult runCli(const QStringList &args, const CliOptions &options)
{
    QProcess process;
    startCli(process, args, options);
    return finishCli(process, options.timeoutMs);
}

CliOptions inEnglish(CliOptions options)
{
    options.locale = "C.UTF-8";
    return options;
}
