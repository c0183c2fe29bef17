#pragma once

#include <QThread>

#include <atomic>
#include <climits>
#include <functional>
#include <utility>

// A thread that does one job at a time on a value handed over while it is stopped: restart()
// asks the job under way to stop, waits for it, takes the new input and starts anew. The job
// polls stopRequested() and reports by signals carrying copies; it reads nothing but its input
// (kept here, untouched while it runs), so the two threads share only the stop flag.
// Destroying the worker stops the job and waits for it. A subclass whose job calls its members
// (or emits its signals) stops it in its own destructor: by the time the destructor here runs, the
// subclass is gone.
// Everything but stopRequested() belongs to the owner's thread.
template <typename Input>
class RestartableWorker : public QThread
{
public:
    using Job = std::function<void(const Input &)>;

    ~RestartableWorker() override { stop(); }

    // The job ends at its next look at the flag; nothing waits for it.
    void requestStop() { m_stop.store(true); }
    // Asks the job to end and waits for it, at most waitMs; true when no job runs any more.
    bool stop(unsigned long waitMs = ULONG_MAX)
    {
        requestStop();
        return wait(waitMs);
    }
    // What the running (or the last) job works on.
    const Input &input() const { return m_input; }

protected:
    RestartableWorker(Job job, QObject *parent)
        : QThread(parent)
        , m_job(std::move(job))
    {
    }

    // Stops the job under way (waiting at most waitMs), then runs the job on input. False,
    // nothing changed, when the running job did not end in time.
    bool restart(const Input &input, unsigned long waitMs = ULONG_MAX)
    {
        if (!stop(waitMs))
            return false;
        m_input = input;
        m_stop.store(false);
        start();
        return true;
    }
    bool stopRequested() const { return m_stop.load(); }

private:
    // Not overridable: a subclass's run() would be gone while the destructor here still waits.
    void run() final { m_job(m_input); }

    const Job m_job;
    Input m_input;
    std::atomic<bool> m_stop{false};
};
