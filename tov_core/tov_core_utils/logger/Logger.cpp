#include "tov_core/tov_core_utils/logger/Logger.h"

#include <time.h>

#include <iostream>
#include <stdexcept>

#include "tov_core/tov_core_utils/operating_system/OperatingSystemAPI.h"

#ifndef KELVRA_SOURCE_ROOT
#define KELVRA_SOURCE_ROOT ""
#endif

namespace tov_core {

std::mutex logger_mutex;
Logger* Logger::s_poLogger = nullptr;
std::string Logger::s_oLocation;

std::string MakeLocation(const char* file, const char* function, int line)
{
    std::string path = file ? file : "";
    const std::string root = KELVRA_SOURCE_ROOT;
    if (!root.empty() && path.compare(0, root.size(), root) == 0) {
        path.erase(0, root.size());
    }
    return " [" + path + "_" + (function ? function : "") + "():" + std::to_string(line) + "]";
}

Logger* Logger::GetInstance(std::string location, std::string envVar)
{
    std::lock_guard<std::mutex> lock(logger_mutex);
    if (!s_poLogger) {
        s_poLogger = new Logger(envVar);
    }
    s_oLocation = std::move(location);
    return s_poLogger;
}

void Logger::DeleteInstance()
{
    if (s_poLogger) {
        delete s_poLogger;
        s_poLogger = nullptr;
    }
}

Logger::Logger(std::string envVar)
    : m_oStringStream(std::ios::in | std::ios::out),
      m_eInitSeverityLevel(SEVERITY_DEBUG),
      m_pEnvValue(nullptr),
      m_uEnvSeverityLevel(0)
{
    m_pEnvValue = getenv(envVar.c_str());
    InitSeverityLevelMap();
    int level = 0;
    if (m_pEnvValue) {
        try {
            level = std::stoi(m_pEnvValue, nullptr, 10);
        } catch (const std::exception&) {
            // Not a number, or out of range: print every level.
            level = 0;
        }
    }
    if (static_cast<unsigned int>(level) >= m_oSeverityLevelMap.size()) {
        level = 0;
    }
    m_uEnvSeverityLevel = static_cast<unsigned int>(level);
}

Logger::Logger() : Logger("TOV_PRINT_LOG") {}

void Logger::InitSeverityLevelMap()
{
    m_oSeverityLevelMap.clear();
    m_oSeverityLevelMap[SEVERITY_DEBUG] = "Debug";
    m_oSeverityLevelMap[SEVERITY_INFO] = "Info";
    m_oSeverityLevelMap[SEVERITY_WARNING] = "Warning";
    m_oSeverityLevelMap[SEVERITY_ERROR] = "Error";
    m_oSeverityLevelMap[SEVERITY_FATAL] = "Fatal";
}

void Logger::Init(eLoggerSeverityLevel level, std::string dir)
{
    std::unique_ptr<OperatingSystemAPI> os = FactoryOperatingSystemAPI::GetInstance();
    std::string executable = os->GetExecutableName();
    m_eInitSeverityLevel = level;
    m_oLogDirectory = dir.empty() ? os->GetLogDirectory() : dir;
    try {
        os->CreateDirectoryIfNotExist(m_oLogDirectory);
    } catch (const std::runtime_error& e) {
        // Nothing is ever written to the log directory, so a read-only or
        // missing /var must not keep a device from opening.
        GetInstance(TOV_LOCATION, "TOV_PRINT_LOG")->Warning(e.what());
    }
    m_oLogFilePath = m_oLogDirectory + executable + "_" + m_oSeverityLevelMap[level] + "_" + GetDateTime() +
                     "_pid_" + std::to_string(os->GetPID());
    size_t slash = m_oLogFilePath.find_last_of("/\\");
    m_oLogFileName = slash == std::string::npos ? m_oLogFilePath : m_oLogFilePath.substr(slash + 1);
}

void Logger::Debug(const std::string& msg)
{
    if (CheckSeverityLevel(SEVERITY_DEBUG)) {
        Log(SEVERITY_DEBUG, msg);
    }
}

void Logger::Info(const std::string& msg)
{
    if (CheckSeverityLevel(SEVERITY_INFO)) {
        Log(SEVERITY_INFO, msg);
    }
}

void Logger::Warning(const std::string& msg)
{
    if (CheckSeverityLevel(SEVERITY_WARNING)) {
        Log(SEVERITY_WARNING, msg);
    }
}

void Logger::Error(const std::string& msg)
{
    if (CheckSeverityLevel(SEVERITY_ERROR)) {
        Log(SEVERITY_ERROR, msg);
    }
}

void Logger::Fatal(const std::string& msg)
{
    if (CheckSeverityLevel(SEVERITY_FATAL)) {
        Log(SEVERITY_FATAL, msg);
    }
}

bool Logger::CheckSeverityLevel(eLoggerSeverityLevel level)
{
    return static_cast<int>(m_eInitSeverityLevel) <= static_cast<int>(level);
}

void Logger::Log(eLoggerSeverityLevel level, const std::string& msg)
{
    if (!m_pEnvValue || static_cast<unsigned int>(level) < m_uEnvSeverityLevel) {
        return;
    }
    std::cout << GetPrefix(level) << msg << '\n';
    std::cout.flush();
}

std::string Logger::GetPrefix(eLoggerSeverityLevel level)
{
    return "[" + m_oSeverityLevelMap[level] + "] " + GetDateTime() + s_oLocation + " | ";
}

std::string Logger::GetDateTime()
{
    char buffer[80] = {0};
    time_t now = time(nullptr);
    struct tm local;
    if (localtime_r(&now, &local)) {
        strftime(buffer, sizeof buffer, "%Y-%m-%d_%X", &local);
    }
    return buffer;
}

std::string Logger::Hexify(int value)
{
    m_oStringStream.str("");
    m_oStringStream.clear();
    m_oStringStream << "0x" << std::hex << static_cast<unsigned int>(value) << std::dec;
    return m_oStringStream.str();
}

void Logger::UpdateEnvVariable(std::string envVar)
{
    Logger* target = s_poLogger ? s_poLogger : this;
    target->m_pEnvValue = getenv(envVar.c_str());
    if (!target->m_pEnvValue) {
        return;
    }
    int level = std::stoi(target->m_pEnvValue, nullptr, 10);
    target->m_uEnvSeverityLevel =
        static_cast<unsigned int>(level) < target->m_oSeverityLevelMap.size() ? static_cast<unsigned int>(level) : 0;
}

}  // namespace tov_core
