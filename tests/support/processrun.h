#ifndef PROCESSRUN_H
#define PROCESSRUN_H

#include <QByteArray>
#include <QProcess>
#include <QProcessEnvironment>
#include <QString>
#include <QStringList>

// A program run to its end, as the suites that test programs run them.
struct ProcessRun
{
    int exitCode = -1; // -1: it did not end by itself, within the bound, or it crashed
    QByteArray out;    // standard output, and standard error too where merged
    QByteArray err;

    struct Options
    {
        QByteArray input;           // written to its standard input, which is then closed
        bool mergeChannels = false; // standard error into out
        QProcessEnvironment env;    // empty: this process's
        QString workingDirectory;   // empty: this process's
        int ms = 120000;            // the bound on its whole run; past it, it is killed
    };

    static ProcessRun of(const QString &program, const QStringList &args, const Options &options)
    {
        QProcess p;
        p.setProcessChannelMode(options.mergeChannels ? QProcess::MergedChannels
                                                      : QProcess::SeparateChannels);
        if (!options.env.isEmpty())
            p.setProcessEnvironment(options.env);
        if (!options.workingDirectory.isEmpty())
            p.setWorkingDirectory(options.workingDirectory);
        p.start(program, args);
        ProcessRun run;
        if (!p.waitForStarted(30000))
            return run;
        p.write(options.input);
        p.closeWriteChannel();
        const bool ended = p.waitForFinished(options.ms) && p.exitStatus() == QProcess::NormalExit;
        if (!ended)
            p.kill();
        run.exitCode = ended ? p.exitCode() : -1;
        run.out = p.readAllStandardOutput();
        run.err = p.readAllStandardError();
        return run;
    }
    static ProcessRun of(const QString &program, const QStringList &args)
    {
        return of(program, args, Options());
    }
};

#endif
