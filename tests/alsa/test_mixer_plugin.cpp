// A control device for the ALSA mixer back end without a sound card. Its elements live in the file
// $ZEL_TEST_MIXER_STATE, saved on every write, one line each: NAME MAX LEVEL... [on|off...]
// [dB:MIN:MAX], a "NAME Playback Volume" from 0 to MAX with each channel's level, a "NAME Playback
// Switch" where switches follow, and a dB range (0.01 dB, from level 0 to MAX) where given.

#include <alsa/asoundlib.h>
#include <alsa/control_external.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace {

struct Element {
    std::string name;
    long maximum = 0;
    std::vector<long> values;
    std::vector<long> switches;
    std::string dB;  // "dB:MIN:MAX", or empty
};
// One control: an element's volume, or its switch.
struct Control {
    std::size_t element;
    bool isSwitch;
    std::string Name() const;
};
// Never destroyed, as a C plugin's state: a program's own exit handlers may still use them.
std::string& gPath = *new std::string;
std::vector<Element>& gElements = *new std::vector<Element>;
std::vector<Control>& gControls = *new std::vector<Control>;

std::string Control::Name() const {
    return gElements[element].name + (isSwitch ? " Playback Switch" : " Playback Volume");
}

std::vector<long>& Values(snd_ctl_ext_key_t key) {
    const Control& control = gControls.at(key);
    return control.isSwitch ? gElements[control.element].switches
                            : gElements[control.element].values;
}

// False when the state cannot be kept, as a control of a card that has gone away fails.
bool Save() {
    std::ofstream file(gPath);
    for (const Element& element : gElements) {
        file << element.name << ' ' << element.maximum;
        for (const long value : element.values) file << ' ' << value;
        for (const long on : element.switches) file << (on ? " on" : " off");
        if (!element.dB.empty()) file << ' ' << element.dB;
        file << '\n';
    }
    return file.good();
}

const snd_ctl_ext_callback_t kCallbacks = [] {
    snd_ctl_ext_callback_t c{};
    c.close = [](snd_ctl_ext_t* ext) { delete ext; };
    c.elem_count = [](snd_ctl_ext_t*) { return static_cast<int>(gControls.size()); };
    c.elem_list = [](snd_ctl_ext_t*, unsigned int offset, snd_ctl_elem_id_t* id) {
        snd_ctl_elem_id_set_interface(id, SND_CTL_ELEM_IFACE_MIXER);
        snd_ctl_elem_id_set_name(id, gControls.at(offset).Name().c_str());
        return 0;
    };
    c.find_elem = [](snd_ctl_ext_t*, const snd_ctl_elem_id_t* id) {
        for (snd_ctl_ext_key_t key = 0; key < gControls.size(); ++key)
            if (gControls[key].Name() == snd_ctl_elem_id_get_name(id)) return key;
        return SND_CTL_EXT_KEY_NOT_FOUND;
    };
    c.get_attribute = [](snd_ctl_ext_t*, snd_ctl_ext_key_t key, int* type, unsigned int* access,
                         unsigned int* count) {
        const Control& control = gControls.at(key);
        *type = control.isSwitch ? SND_CTL_ELEM_TYPE_BOOLEAN : SND_CTL_ELEM_TYPE_INTEGER;
        *access = SND_CTL_EXT_ACCESS_READWRITE;
        if (!control.isSwitch && !gElements[control.element].dB.empty())
            *access |= SND_CTL_EXT_ACCESS_TLV_READ | SND_CTL_EXT_ACCESS_TLV_CALLBACK;
        *count = static_cast<unsigned int>(Values(key).size());
        return 0;
    };
    c.get_integer_info = [](snd_ctl_ext_t*, snd_ctl_ext_key_t key, long* minimum, long* maximum,
                            long* step) {
        *minimum = 0;
        *maximum = gElements.at(gControls.at(key).element).maximum;
        *step = 1;
        return 0;
    };
    c.read_integer = [](snd_ctl_ext_t*, snd_ctl_ext_key_t key, long* values) {
        std::copy(Values(key).begin(), Values(key).end(), values);
        return 0;
    };
    c.write_integer = [](snd_ctl_ext_t*, snd_ctl_ext_key_t key, long* values) {
        std::copy_n(values, Values(key).size(), Values(key).begin());
        return Save() ? 1 : -ENODEV;
    };
    return c;
}();

// The element's dB range as the kernel's TLV gives it: from level 0 to the maximum.
int ReadTlv(snd_ctl_ext_t*, snd_ctl_ext_key_t key, int op, unsigned int, unsigned int* tlv,
            unsigned int size) {
    int minimum = 0, maximum = 0;
    const std::string& dB = gElements.at(gControls.at(key).element).dB;
    if (op != 0 || std::sscanf(dB.c_str(), "dB:%d:%d", &minimum, &maximum) != 2) return -ENXIO;
    if (size < 4 * sizeof(unsigned int)) return -ENOMEM;
    tlv[0] = SND_CTL_TLVT_DB_MINMAX;
    tlv[1] = 2 * sizeof(unsigned int);
    tlv[2] = static_cast<unsigned int>(minimum);
    tlv[3] = static_cast<unsigned int>(maximum);
    return 0;
}

}  // namespace

extern "C" {

SND_CTL_PLUGIN_DEFINE_FUNC(zeltest) {
    (void)root, (void)conf;
    const char* path = std::getenv("ZEL_TEST_MIXER_STATE");
    std::ifstream file(path != nullptr ? path : "");
    if (!file) return -ENODEV;
    gPath = path;
    gElements.clear();
    gControls.clear();
    for (std::string line; std::getline(file, line);) {
        std::istringstream fields(line);
        Element& element = gElements.emplace_back();
        fields >> element.name >> element.maximum;
        for (std::string field; fields >> field;) {
            if (field == "on" || field == "off") {
                element.switches.push_back(field == "on");
            } else if (field.starts_with("dB:")) {
                element.dB = field;
            } else {
                element.values.push_back(std::stol(field));
            }
        }
        gControls.push_back({gElements.size() - 1, false});
        if (!element.switches.empty()) gControls.push_back({gElements.size() - 1, true});
    }
    auto* ext = new snd_ctl_ext_t{};
    ext->version = SND_CTL_EXT_VERSION;
    ext->poll_fd = -1;
    ext->callback = &kCallbacks;
    ext->tlv.c = ReadTlv;
    if (const int error = snd_ctl_ext_create(ext, name, mode); error < 0) {
        delete ext;
        return error;
    }
    *handlep = ext->handle;
    return 0;
}

SND_CTL_PLUGIN_SYMBOL(zeltest)
}
