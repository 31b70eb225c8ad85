#include "audio/platform/pulse/output_device.h"

#include <pulse/def.h>

namespace zel {

int32_t PulseOutputDevice::GetDevCaps(uint32_t deviceId, WaveOutCaps& caps) {
    if (deviceId != 0) return -PA_ERR_NOENTITY;
    if (!connection_) return -PA_ERR_CONNECTIONREFUSED;
    const int32_t opened = connection_->OpenStream();
    if (opened != 0 && !connection_->Alive()) return opened;
    caps.dwFormats = opened == 0 ? kWaveFormat2M16 : 0;
    return 0;
}

}  // namespace zel
