#pragma once

#include <QString>

#include <csignal>
#include <string>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

namespace velmora::test {

// A private X server (Xvfb) on a display it chooses itself, started on first use and stopped
// with this object, or with the thread that started it should the test abort or be killed first:
// what runs on the display (a session bus started for it, a notification daemon) goes with it.
// Header-only, so the benchmarks use it too.
class PrivateXServer {
public:
    // One screen, "WIDTHxHEIGHTxDEPTH".
    explicit PrivateXServer(std::string screen = "1400x1200x24")
        : m_screen(std::move(screen)) {}
    PrivateXServer(const PrivateXServer &) = delete;
    PrivateXServer &operator=(const PrivateXServer &) = delete;

    ~PrivateXServer() { stop(); }

    // Ends the server now, as a display that goes away does for the programs on it.
    void stop() {
        if (m_pid > 0) {
            ::kill(m_pid, SIGTERM);
            ::waitpid(m_pid, nullptr, 0);
            m_pid = 0;
        }
    }

    // The server's display, ":N"; empty when Xvfb could not be started.
    QString display() {
        if (m_display.isEmpty() && m_pid < 0)
            start();
        return m_display;
    }

private:
    void start() {
        int pipe[2];
        if (::pipe(pipe) != 0)
            return;
        const pid_t parent = ::getpid();
        m_pid = ::fork();
        if (m_pid == 0) {
            ::prctl(PR_SET_PDEATHSIG, SIGTERM);
            if (::getppid() != parent)
                ::_exit(0);
            ::close(pipe[0]);
            const std::string fd = std::to_string(pipe[1]);
            ::execlp("Xvfb", "Xvfb", "-displayfd", fd.c_str(), "-screen", "0", m_screen.c_str(),
                     "-nolisten", "tcp", static_cast<char *>(nullptr));
            ::_exit(127);
        }
        ::close(pipe[1]);
        std::string number;
        char c = 0;
        while (m_pid > 0 && ::read(pipe[0], &c, 1) == 1 && c != '\n')
            number += c;
        ::close(pipe[0]);
        if (!number.empty())
            m_display = QStringLiteral(":") + QString::fromStdString(number);
    }

    std::string m_screen;
    pid_t m_pid = -1;
    QString m_display;
};

} // namespace velmora::test
