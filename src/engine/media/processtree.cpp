#include "engine/media/processtree.h"

#include <QProcess>

#ifdef Q_OS_WIN
#include <windows.h>
#else
#include <signal.h>
#include <unistd.h>
#endif

ProcessTree::ProcessTree(QProcess *process) : QObject(process), process(process)
{
#ifdef Q_OS_WIN
    job = CreateJobObjectW(nullptr, nullptr);
    if (job) {
        JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits = {};
        limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE;
        SetInformationJobObject(static_cast<HANDLE>(job), JobObjectExtendedLimitInformation,
                                &limits, sizeof(limits));
    }
#else
    // Runs in the child between fork and exec; setpgid is async-signal-safe.
    process->setChildProcessModifier([] { ::setpgid(0, 0); });
#endif
}

ProcessTree::~ProcessTree()
{
#ifdef Q_OS_WIN
    // Closing the last handle ends whatever is still in the job.
    if (job)
        CloseHandle(static_cast<HANDLE>(job));
#endif
}

void ProcessTree::started()
{
    const qint64 pid = process->processId();
    if (pid <= 0)
        return;
#ifdef Q_OS_WIN
    // The tool is assigned after it has started; it takes far longer to start its own children
    // than this call takes, and children started after the assignment join the job by themselves.
    if (!job)
        return;
    HANDLE handle = OpenProcess(PROCESS_SET_QUOTA | PROCESS_TERMINATE, FALSE, DWORD(pid));
    if (handle) {
        AssignProcessToJobObject(static_cast<HANDLE>(job), handle);
        CloseHandle(handle);
    }
#else
    // Also from the parent side, so that a kill() right after start() finds the group even when
    // the child has not yet run its own setpgid. Fails harmlessly once the child has exec'd.
    ::setpgid(pid_t(pid), pid_t(pid));
#endif
}

void ProcessTree::kill()
{
    if (process->state() == QProcess::NotRunning)
        return;
#ifdef Q_OS_WIN
    if (job)
        TerminateJobObject(static_cast<HANDLE>(job), 1);
#else
    const qint64 pid = process->processId();
    if (pid > 0)
        ::kill(-pid_t(pid), SIGKILL);
#endif
    process->kill();
}
