// Fuzzes the settings reader: any file content is parsed for both calibration keys and the value
// converted as the start-up does; only the program's own run-time error may come out.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "audio/mod_zeltest.h"
#include "audio/platform/inih_profile_reader.h"
#include "core/runtime_error.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    for (const char* key : {"Wave_volume", "Master_volume"}) {
        std::string value;
        if (!zel::FindProfileValue(text, "Calibration", key, value)) continue;
        // As ReadIniString hands it on: at most 127 characters.
        value.resize(std::min<std::size_t>(value.size(), 127));
        try {
            zel::ConvertLevelText(value, key);
        } catch (const zel::RuntimeError&) {
        }
    }
    return 0;
}
