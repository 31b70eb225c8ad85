#include "testrun/random_source.h"

namespace zel {

float ProgramRandom::Draw() {
    const auto top24 = static_cast<float>(engine_() >> 8);
    return top24 * 0x1p-24f;
}

}  // namespace zel
