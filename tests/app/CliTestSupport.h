#pragma once

// Runs vaultora-cli in a real process, as a user would, for the command-line tests.

#include <QProcess>
#include <QProcessEnvironment>
#include <QString>
#include <QStringList>

inline const QString Cli = QStringLiteral(VAULTORA_BINARY_DIR "/bin/vaultora-cli");

struct TRun {
    int ExitCode = -1; // -1: still running after two minutes; -2: ended by a signal
    QString Out;
    QString Err;
};

// Runs program with args in environment and waits for it. With mergeChannels, standard error
// goes to Out too.
inline TRun RunProgram(const QString& program, const QProcessEnvironment& environment, const QStringList& args,
                       bool mergeChannels = false) {
    QProcess process;
    process.setProcessEnvironment(environment);
    if (mergeChannels)
        process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(program, args);
    TRun run;
    if (!process.waitForFinished(120000))
        return run;
    run.ExitCode = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -2;
    run.Out = QString::fromUtf8(process.readAllStandardOutput());
    if (!mergeChannels)
        run.Err = QString::fromUtf8(process.readAllStandardError());
    return run;
}

// Runs vaultora-cli --data-dir dataDir args.
inline TRun RunCli(const QProcessEnvironment& environment, const QString& dataDir, const QStringList& args,
                   bool mergeChannels = false) {
    return RunProgram(Cli, environment, QStringList{QStringLiteral("--data-dir"), dataDir} + args, mergeChannels);
}
