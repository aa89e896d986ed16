/*
 * Management keys of an InfiniBand destination, taken from the cache files
 * of the OpenSM subnet manager when the product configuration file enables
 * them: the LID leads through guid2lid to the port GUID, and the GUID through
 * guid2mkey (the M_Key that subnet-management packets carry) or guid2vskey
 * (the vendor-specific key of vendor and class-A MADs) to the key.
 *
 * A key object is made, asked once and discarded; every lookup reads the
 * files anew. Single-threaded use.
 */
#ifndef TOV_CORE_DEVICE_IB_BASEKEY_H
#define TOV_CORE_DEVICE_IB_BASEKEY_H

#include <stdint.h>

#include <string>

#define TOV_OPENSM_CACHE_DIR "/var/cache/opensm/"

class BaseKey {
public:
    virtual void Init() = 0;

    // The whole lookup for the LID given as text; the result is left in the
    // key (0 when the lookup is disabled or the key file is missing).
    // Throws tov_core::TovGeneralException (code 0, logged at Error; the
    // message ends in a line feed):
    //   "Failed to open TOV configuration file: /etc/tov/tov.conf" when the
    //     file is missing or cannot be read, keys wanted or not;
    //   "Failed to open Guid2Lid file: " + path;
    //   "Failed to parse GUID2Lid file: " + path when no line covers the LID;
    //   "Failed to open Guid2Key file: " + path when it exists but cannot be
    //     opened;
    //   "Failed to parse GUID2Key file: " + path when no line holds the GUID,
    //     or the GUID's key is not an unsigned 64-bit number.
    void GetKey(const std::string& lid);

    // The configuration pass over /etc/tov/tov.conf: the first line that
    // assigns the enable key decides (exactly "yes" enables, anything else
    // disables and ends the pass); sm_config_dir and sm_conf_file_path count
    // only after an enabling line. Lines follow the framework's one rule for
    // the file (comments ignored, blanks and line ends trimmed).
    void ParseTOVConfigurationFile();
    // 0 and the value when `line` assigns `key` with `separator`; 1 when not.
    int GetConfigFieldValue(const std::string& line, const std::string& key, std::string& value, char separator);
    // Sets the enabled flag from the value; 0 for "yes", 1 otherwise.
    int GetKeyEnabledFieldValue(const std::string& value);
    void GetSMTopologyDirFieldValue(const std::string& value);
    void GetSMConfigDirFieldValue(const std::string& value);

    void ExtractKey(const std::string& lid);
    // 0 and the GUID when a guid2lid line's range covers the LID; 1 when not.
    int ParseGuid2LidFile(const std::string& lid, std::string& guid);
    int ParseGuid2LidLine(const std::string& lid, std::string& guid, const std::string& line);
    // 0 when the key was taken (or the key file is missing); 1 when no line
    // holds the GUID.
    int ParseGuid2KeyFile(const std::string& guid);
    // 0 and the key when the line is the GUID's; 1 when not. Throws
    // std::invalid_argument / std::out_of_range for a key that is not an
    // unsigned 64-bit number (ParseGuid2KeyFile turns them into the
    // framework's exception).
    int ParseGuid2KeyLine(const std::string& guid, const std::string& line);

    bool IsEnabled() const { return m_bEnabled; }
    uint64_t GetKeyValue() const { return m_uKey; }

protected:
    BaseKey(const std::string& keyFileName, const std::string& enableKey);
    // Key objects are never deleted through the base.
    ~BaseKey() = default;

    bool m_bEnabled = false;
    std::string m_oGuid2LidPath;
    std::string m_oKeyFileName;
    std::string m_oKeyFilePath;
    std::string m_oEnableKey;
    std::string m_oOpenSMDir = TOV_OPENSM_CACHE_DIR;
    uint64_t m_uKey = 0;
};

// The M_Key: enabled by "mkey_enable", read from guid2mkey.
class MKey : public BaseKey {
public:
    MKey();
    void Init() override {}
    uint64_t GetMKey(uint32_t lid);
};

// The vendor-specific key: enabled by "vskey_enable", read from guid2vskey.
class VSKey : public BaseKey {
public:
    VSKey();
    void Init() override {}
    uint64_t GetVSKey(uint32_t lid);
};

#endif
