#include "tov_core/device/device_info/parsers/DeviceInfoParserFactory.h"

#include "tov_core/device/device_info/parsers/DeviceInfoJsonParser.h"
#include "tov_core/tov_core_utils/exception/TovGeneralException.h"

namespace tov_core {

std::unique_ptr<DeviceInfoParser> DeviceInfoParserFactory::CreateInstance(const std::string& hwId,
                                                                          const std::string& jsonDir,
                                                                          eParserType type)
{
    if (type == PARSER_TYPE_JSON) {
        return std::unique_ptr<DeviceInfoParser>(new DeviceInfoJsonParser(hwId, jsonDir));
    }
    TOV_THROW_GENERAL("Unknown DeviceInfoParser object");
}

}  // namespace tov_core
