// The virtual label printer: a peer on the master side of a pseudo-terminal. Point the
// serial port at slavePath() and it answers every command line the way a printer does
// (see PrinterBehaviour), with switches for silence, error, short and slow answers and
// for going away.
//
// It runs either on an event loop (attach: a watch on the master and loop timers, so a
// test on virtual time decides when slow answers come) or on a thread of its own (Start:
// real time, for the program itself, whose main thread blocks during a label job).
//
// Threads: the switches (setAnswer, scriptAnswers, setSlowDelay), connected, Commands and
// clearCommands may be called from any thread; a lock keeps them apart from the printer's
// work. The calls attach, detach and, while attached, disconnect belong to the loop's
// thread; the printer's work then runs there, from its watch and timer. Start and Stop belong to
// the thread that owns the printer; its work then runs on the printer's own thread, and disconnect
// may come from any thread (the printer's thread closes the line).
#pragma once

#include <chrono>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/EventLoop.h"
#include "platform/UniqueFd.h"
#include "platform/serial/PseudoTerminal.h"
#include "sim/printer/PrinterBehaviour.h"

namespace tc::sim {

class VirtualLabelPrinter {
public:
    VirtualLabelPrinter();
    ~VirtualLabelPrinter();
    VirtualLabelPrinter(const VirtualLabelPrinter&) = delete;
    VirtualLabelPrinter& operator=(const VirtualLabelPrinter&) = delete;

    // The device the serial port opens.
    const std::string& slavePath() const { return pty_.slavePath(); }

    // Switches; safe from any thread.
    void setAnswer(PrinterAnswer answer);
    void scriptAnswers(std::vector<PrinterAnswer> answers);
    void setSlowDelay(std::chrono::milliseconds delay);
    // The printer goes away now: its end of the line closes, the port sees a hang-up.
    void disconnect();
    bool connected() const;

    // Every command received so far, without its line feed.
    std::vector<std::string> Commands() const;
    void clearCommands();

    // Runs on `loop` (its thread) until detach or destruction; the loop outlives it.
    void attach(tc::platform::EventLoop& loop);
    void detach();
    // Runs on a thread of its own until Stop or destruction.
    void Start();
    void Stop();

private:
    using Clock = std::function<std::chrono::milliseconds()>;
    struct Later {
        std::chrono::milliseconds due;
        std::string bytes;
        bool disconnect;
    };

    // All of these run with mutex_ held, on the thread that runs the printer.
    void takeInput();
    void releaseDue();
    void writeOut();
    void closeLine();
    void rearmLoop();
    std::chrono::milliseconds now() const { return clock_(); }

    void threadMain();

    mutable std::mutex mutex_;
    tc::platform::PseudoTerminal pty_;
    PrinterBehaviour behaviour_;
    std::deque<Later> later_;
    std::string out_;
    bool connected_ = true;
    Clock clock_;

    tc::platform::EventLoop* loop_ = nullptr;
    tc::platform::WatchHandle watch_;  // on the master while attached and connected
    tc::platform::TimerHandle timer_;  // the next delayed answer

    std::thread thread_;
    tc::platform::UniqueFd wakeFd_;  // wakes the printer's own thread
    bool stopping_ = false;
    bool disconnectRequested_ = false;
};

}  // namespace tc::sim
