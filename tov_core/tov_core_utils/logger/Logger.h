/*
 * The framework's diagnostic logger: one process-wide object that prints one
 * line per message on standard output when TOV_PRINT_LOG allows the level.
 *
 * Calling convention: ask for the logger anew for every message, in one
 * expression, and never keep the pointer (destroying any framework device
 * deletes the singleton):
 *
 *     tov_core::Logger::GetInstance(TOV_LOCATION, "TOV_PRINT_LOG")->Info("...");
 *
 * or, shorter, TOV_LOG_INFO("..."). Nothing here writes a file.
 */
#ifndef TOV_CORE_UTILS_LOGGER_LOGGER_H
#define TOV_CORE_UTILS_LOGGER_LOGGER_H

#include <map>
#include <mutex>
#include <sstream>
#include <string>

namespace tov_core {

enum eLoggerSeverityLevel : int {
    SEVERITY_DEBUG = 0,
    SEVERITY_INFO = 1,
    SEVERITY_WARNING = 2,
    SEVERITY_ERROR = 3,
    SEVERITY_FATAL = 4,
};

// Guards the creation of the singleton and the stored location text.
extern std::mutex logger_mutex;

// Builds the location text every log line carries:
// " [" + source path from the source root + "_" + function + "():" + line + "]".
// `file` may be absolute (as __FILE__ is under CMake): the source root is
// cut off. Never throws anything but std::bad_alloc.
std::string MakeLocation(const char* file, const char* function, int line);

class Logger {
public:
    // Returns the singleton, making it from the environment variable envVar
    // when there is none, and stores `location` for the next printed line.
    // Throws std::system_error only if the mutex cannot be locked.
    static Logger* GetInstance(std::string location, std::string envVar);
    // Deletes the singleton (if any); the next GetInstance makes a new one
    // that reads its environment variable again. Takes no lock.
    static void DeleteInstance();

    // Reads the environment variable once: unset means "print nothing"; a
    // value that is not a number in 0..4 means level 0 (print everything).
    explicit Logger(std::string envVar);
    Logger();
    virtual ~Logger() = default;

    Logger(const Logger&) = delete;
    Logger& operator=(const Logger&) = delete;

    // Sets the init level and works out the (never opened) log-file name
    // under `dir`, or under "/var/log/tov/" when dir is empty, creating that
    // directory. A directory that cannot be made is reported at Warning and
    // does not fail the call (nothing is ever written there). Throws
    // std::runtime_error "Cannot get the executable path" when
    // /proc/self/exe cannot be read.
    void Init(eLoggerSeverityLevel level, std::string dir);

    void Debug(const std::string& msg);
    void Info(const std::string& msg);
    void Warning(const std::string& msg);
    void Error(const std::string& msg);
    void Fatal(const std::string& msg);

    // Writes prefix + msg + '\n' to std::cout and flushes, unless the
    // environment variable was unset or names a higher level.
    void Log(eLoggerSeverityLevel level, const std::string& msg);
    // "[" + level name + "] " + date and time + location + " | ".
    std::string GetPrefix(eLoggerSeverityLevel level);
    // Local time as "%Y-%m-%d_%X".
    std::string GetDateTime();
    bool CheckSeverityLevel(eLoggerSeverityLevel level);
    // "0x" + lower-case hexadecimal of the value's 32-bit pattern.
    std::string Hexify(int value);
    // Re-reads envVar into the singleton (into this object when there is no
    // singleton). Passes on std::stoi's invalid_argument / out_of_range.
    void UpdateEnvVariable(std::string envVar);
    void InitSeverityLevelMap();

private:
    friend struct LoggerInspector;  // tests look at the computed names

    std::map<eLoggerSeverityLevel, std::string> m_oSeverityLevelMap;
    std::stringstream m_oStringStream;
    std::string m_oLogFileName;
    std::string m_oLogFilePath;
    std::string m_oLogDirectory;
    eLoggerSeverityLevel m_eInitSeverityLevel;
    const char* m_pEnvValue;  // points into the environment; not owned
    unsigned int m_uEnvSeverityLevel;

    static Logger* s_poLogger;
    static std::string s_oLocation;
};

}  // namespace tov_core

#define TOV_LOCATION ::tov_core::MakeLocation(__FILE__, __func__, __LINE__)

#define TOV_LOG_DEBUG(msg) ::tov_core::Logger::GetInstance(TOV_LOCATION, "TOV_PRINT_LOG")->Debug(msg)
#define TOV_LOG_INFO(msg) ::tov_core::Logger::GetInstance(TOV_LOCATION, "TOV_PRINT_LOG")->Info(msg)
#define TOV_LOG_WARNING(msg) ::tov_core::Logger::GetInstance(TOV_LOCATION, "TOV_PRINT_LOG")->Warning(msg)
#define TOV_LOG_ERROR(msg) ::tov_core::Logger::GetInstance(TOV_LOCATION, "TOV_PRINT_LOG")->Error(msg)

#endif
