// Diagnostic log of the monitor and the call tracers built on it.
//
// One module-wide logger writes plain text lines into one file per day and per
// thread: "<base path>.<yyyy>_<mm>_<dd>.<thread id>.<extension>". It is off
// (level mask 0) until the program sets a level; a disabled level costs one
// bit test in the macros below, the message is not even formatted.
//
// Level bits: kDiagDetail (1) detail lines, kDiagCalls (8) function entry and
// exit. A mask of 9 writes both.
//
// Usage:
//   DiagLog::setFile(dir, "oper_events", "txt");
//   DiagLog::setLevel(dbglvl);
//   TMN_DLOG(kDiagDetail, "fname: %s", name);
//   int f() { TMN_TRACE_RETVAL(tr, "f"); ... return tr.ret(__LINE__, 0); }
#pragma once

#include <atomic>
#include <cstdint>
#include <ctime>
#include <functional>
#include <string>

namespace tarmin::monitor {

inline constexpr uint32_t kDiagDetail = 1;
inline constexpr uint32_t kDiagCalls = 8;

// Longest message written; longer ones are cut.
inline constexpr std::size_t kDiagMaxMessage = 8190;
// Longest directory + base name + extension accepted by setFile.
inline constexpr std::size_t kDiagMaxPath = 240;

class DiagLog {
public:
    // Sets the file: the base path becomes directory + base name. When one of
    // the three is missing or empty, or their lengths add up to more than 240
    // characters, base path and extension stay empty (see setLevel).
    static void setFile(const char *directory, const char *baseName, const char *extension);
    // Sets the level mask. With an empty base path or extension the file is
    // first set to the temporary directory, base name "tmpdebug", extension
    // "dlog.txt"; when the temporary directory cannot be read the file stays
    // as it is (and nothing is written while it is empty).
    static void setLevel(uint32_t mask);

    static uint32_t level() { return s_mask.load(std::memory_order_relaxed); }
    static bool enabled(uint32_t bits) { return (s_mask.load(std::memory_order_relaxed) & bits) != 0; }

    // Writes one line "dd/mm/yyyy,hh:mm:ss,[file:F],[line:N] message\n" when
    // bits meet the mask. The file is opened for appending and closed again
    // for every message, so nothing is lost when the program stops.
    static void write(uint32_t bits, const char *sourceFile, int line, const char *format, ...)
        __attribute__((format(printf, 4, 5)));

    static std::string basePath();
    static std::string extension();
    // The file that a message written now by this thread goes to (empty when
    // no file is set).
    static std::string currentFileName();

    // Tests: the clock used for dates and file names (null restores time()).
    static void setClockForTesting(std::function<std::time_t()> clock);

private:
    static inline std::atomic<uint32_t> s_mask{0};
};

// Scope objects of traced functions: "Enter <name>" at construction, an exit
// line at destruction, both at level kDiagCalls. Before each return the
// function updates the line number, so that the exit line names the return.
class TracerScope {
public:
    TracerScope(const TracerScope &) = delete;
    TracerScope &operator=(const TracerScope &) = delete;
    void setLine(int line) { m_line = line; }

protected:
    TracerScope(const char *function, const char *sourceFile, int line)
        : m_function(function), m_file(sourceFile), m_line(line) {
        if (DiagLog::enabled(kDiagCalls)) DiagLog::write(kDiagCalls, m_file, m_line, "Enter %s", m_function);
    }
    ~TracerScope() = default;

    const char *m_function;
    const char *m_file;
    int m_line;
};

// Exit line "Exit <name>".
class CallTracer : public TracerScope {
public:
    CallTracer(const char *function, const char *sourceFile, int line) : TracerScope(function, sourceFile, line) {}
    ~CallTracer() {
        if (DiagLog::enabled(kDiagCalls)) DiagLog::write(kDiagCalls, m_file, m_line, "Exit %s", m_function);
    }
};

// Exit line "Exit <name> (retval 0x%X)" with the numeric result.
class CallTracerRetval : public TracerScope {
public:
    CallTracerRetval(const char *function, const char *sourceFile, int line)
        : TracerScope(function, sourceFile, line) {}
    ~CallTracerRetval() {
        if (DiagLog::enabled(kDiagCalls))
            DiagLog::write(kDiagCalls, m_file, m_line, "Exit %s (retval 0x%X)", m_function, m_retval);
    }
    // Notes the return line and value; returns the value for `return tr.ret(__LINE__, v);`.
    template <class T> T ret(int line, T value) {
        m_line = line;
        m_retval = static_cast<unsigned>(value);
        return value;
    }

private:
    unsigned m_retval = 0;
};

// Exit line "Exit <name> (ret %s)" with the result text.
class CallTracerRet : public TracerScope {
public:
    CallTracerRet(const char *function, const char *sourceFile, int line) : TracerScope(function, sourceFile, line) {}
    ~CallTracerRet() {
        if (DiagLog::enabled(kDiagCalls))
            DiagLog::write(kDiagCalls, m_file, m_line, "Exit %s (ret %s)", m_function, m_result.c_str());
    }
    // Notes the return line and text (copied only while call tracing is on).
    const char *ret(int line, const char *text) {
        m_line = line;
        if (DiagLog::enabled(kDiagCalls)) m_result = text ? text : "(null)";
        return text;
    }

private:
    std::string m_result;
};

} // namespace tarmin::monitor

#if defined(__FILE_NAME__)
#define TMN_SOURCE_FILE __FILE_NAME__
#else
#define TMN_SOURCE_FILE __FILE__
#endif

// A diagnostic line at the given level bits; arguments are evaluated only when
// the level is on.
#define TMN_DLOG(bits, ...)                                                                        \
    do {                                                                                           \
        if (::tarmin::monitor::DiagLog::enabled(bits))                                             \
            ::tarmin::monitor::DiagLog::write((bits), TMN_SOURCE_FILE, __LINE__, __VA_ARGS__);     \
    } while (0)

#define TMN_TRACE(var, name) ::tarmin::monitor::CallTracer var((name), TMN_SOURCE_FILE, __LINE__)
#define TMN_TRACE_RETVAL(var, name) ::tarmin::monitor::CallTracerRetval var((name), TMN_SOURCE_FILE, __LINE__)
#define TMN_TRACE_RET(var, name) ::tarmin::monitor::CallTracerRet var((name), TMN_SOURCE_FILE, __LINE__)
