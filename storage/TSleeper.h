#pragma once

// The waits of the storage operations (between attempts, and the pause polling) go through
// one object, so that tests replace real sleeping with a clock of their own.
class TSleeper {
public:
    virtual ~TSleeper();
    // Blocks the calling thread for the given time.
    virtual void Sleep(int milliseconds);

    // The real sleeper shared by every job.
    static TSleeper& System();
};
