#include "monitor/app/ConfigProgramLauncher.h"

#include "monitor/core/FileNames.h"

#include "monitor/core/MonitorSettings.h"
#include "platform/lasterror.h"
#include "platform/process.h"
#include "platform/single_instance.h"
#include "qzcom.h"

#include <QEventLoop>
#include <QTimer>
#include <QWidget>

namespace tarmin::monitor {

namespace {

constexpr const char *kProgram = "tmnmoncfg";
constexpr int kLookMs = 300;
constexpr int kSliceMs = 100;

// Runs the event loop until `done` says so or the time is up (negative: no
// limit). The window keeps being drawn but takes no input meanwhile.
template <typename Done> bool waitUntil(Done done, int timeoutMs, QWidget *window) {
    if (done()) return true;
    const bool wasEnabled = window && window->isEnabled();
    if (window) window->setEnabled(false);
    QEventLoop loop;
    QTimer poll;
    bool finished = false;
    QObject::connect(&poll, &QTimer::timeout, &loop, [&] {
        if ((finished = done())) loop.quit();
    });
    poll.start(kSliceMs);
    QTimer limit;
    limit.setSingleShot(true);
    QObject::connect(&limit, &QTimer::timeout, &loop, &QEventLoop::quit);
    if (timeoutMs >= 0) limit.start(timeoutMs);
    loop.exec(QEventLoop::ExcludeUserInputEvents);
    if (window && wasEnabled) window->setEnabled(true);
    return finished;
}

} // namespace

ConfigProgramLauncher::ConfigProgramLauncher() = default;
ConfigProgramLauncher::~ConfigProgramLauncher() = default;

bool ConfigProgramLauncher::activateRunning(const std::string &profile, bool waitForExit, QWidget *window) {
    if (!platform::SingleInstanceClient::request_raise(kProgram, profile, kLookMs)) return false;
    // Only the program itself knows when it ends: while it runs, its socket
    // takes connections.
    if (waitForExit)
        waitUntil([&] { return !platform::SingleInstanceClient::instance_running(kProgram, profile, kLookMs); }, -1,
                  window);
    return true;
}

ConfigProgramLauncher::Outcome ConfigProgramLauncher::startProgram(const std::string &directory,
                                                                   const std::string &profile, bool waitForExit,
                                                                   QWidget *window) {
    const std::optional<std::string> program = platform::find_program(directory, kProgram);
    if (!program) {
        m_lastError = directory + "/" + kProgram + ": " + platform::error_text_utf8(platform::last_error());
        return Outcome::StartFailed;
    }
    std::vector<std::string> args;
    if (!profile.empty()) args.push_back("-profile=" + profile);
    platform::Process process;
    if (!process.start(*program, args)) {
        m_lastError = *program + ": " + platform::error_text_utf8(platform::last_error());
        return Outcome::StartFailed;
    }
    // Once the new program takes input, its window is brought to the front;
    // a program that ends first, or never answers, is not waited for longer.
    waitUntil(
        [&] {
            if (platform::SingleInstanceClient::wait_until_idle(kProgram, profile, kSliceMs, process.pid(), true))
                return true;
            return platform::last_error() != platform::kErrorWaitTimeout;
        },
        kReadyTimeoutMs, window);
    if (waitForExit) waitUntil([&] { return !process.running(); }, -1, window);
    return Outcome::Started;
}

ConfigProgramLauncher::Outcome ConfigProgramLauncher::StartOrActivate(const std::string &profile, bool waitForExit,
                                                                      QWidget *window) {
    m_lastError.clear();
    if (activateRunning(profile, waitForExit, window)) return Outcome::Activated;
    std::string installDirectory;
    if (!readInstallPath(installDirectory)) return Outcome::NotLocated;
    char *expanded = QZ_ExpandEnvironment(installDirectory.c_str());
    // The setting is Windows-1251 text; the program is looked for on disk.
    const std::string directory = fileSystemPath(expanded ? expanded : installDirectory);
    QZ_Free(expanded);
    return startProgram(directory, profile, waitForExit, window);
}

} // namespace tarmin::monitor
