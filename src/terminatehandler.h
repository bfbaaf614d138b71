#pragma once
// Handler for exceptions that leave a thread's top level: logs what it can
// and aborts the process.

class CTerminateHandler {
public:
    static void Install();
    [[noreturn]] static void Handle();
};
