#ifndef TOV_CORE_DEVICE_DEVICE_INFO_PARSERS_DEVICEINFOPARSERFACTORY_H
#define TOV_CORE_DEVICE_DEVICE_INFO_PARSERS_DEVICEINFOPARSERFACTORY_H

#include <memory>
#include <string>

#include "tov_core/device/device_info/parsers/DeviceInfoParser.h"

namespace tov_core {

enum eParserType : int {
    PARSER_TYPE_JSON = 0,
};

class DeviceInfoParserFactory {
public:
    // A new parser over hwId's file in jsonDir (which reads the file); throws
    // TovGeneralException "Unknown DeviceInfoParser object" for an unknown
    // type, and passes the parser's own failures on.
    static std::unique_ptr<DeviceInfoParser> CreateInstance(const std::string& hwId, const std::string& jsonDir,
                                                            eParserType type);
};

}  // namespace tov_core

#endif
