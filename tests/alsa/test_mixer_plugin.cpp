// A control device on which the real ALSA mixer back end runs without a sound card. Its volumes
// ("NAME Playback Volume", 0 to MAX) live in the file $ZEL_TEST_MIXER_STATE as NAME MAX VALUE...
// lines, saved on every write, so that a test sees what a program left however it ended.

#include <alsa/asoundlib.h>
#include <alsa/control_external.h>

#include <algorithm>
#include <cerrno>
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
};
std::string gPath;
std::vector<Element> gElements;

const snd_ctl_ext_callback_t kCallbacks = [] {
    snd_ctl_ext_callback_t c{};
    c.close = [](snd_ctl_ext_t* ext) { delete ext; };
    c.elem_count = [](snd_ctl_ext_t*) { return static_cast<int>(gElements.size()); };
    c.elem_list = [](snd_ctl_ext_t*, unsigned int offset, snd_ctl_elem_id_t* id) {
        snd_ctl_elem_id_set_interface(id, SND_CTL_ELEM_IFACE_MIXER);
        snd_ctl_elem_id_set_name(id, (gElements.at(offset).name + " Playback Volume").c_str());
        return 0;
    };
    c.find_elem = [](snd_ctl_ext_t*, const snd_ctl_elem_id_t* id) {
        for (snd_ctl_ext_key_t key = 0; key < gElements.size(); ++key) {
            if (gElements[key].name + " Playback Volume" == snd_ctl_elem_id_get_name(id))
                return key;
        }
        return SND_CTL_EXT_KEY_NOT_FOUND;
    };
    c.get_attribute = [](snd_ctl_ext_t*, snd_ctl_ext_key_t key, int* type, unsigned int* access,
                         unsigned int* count) {
        *type = SND_CTL_ELEM_TYPE_INTEGER;
        *access = SND_CTL_EXT_ACCESS_READWRITE;
        *count = static_cast<unsigned int>(gElements.at(key).values.size());
        return 0;
    };
    c.get_integer_info = [](snd_ctl_ext_t*, snd_ctl_ext_key_t key, long* minimum, long* maximum,
                            long* step) {
        *minimum = 0;
        *maximum = gElements.at(key).maximum;
        *step = 1;
        return 0;
    };
    c.read_integer = [](snd_ctl_ext_t*, snd_ctl_ext_key_t key, long* values) {
        std::copy(gElements.at(key).values.begin(), gElements.at(key).values.end(), values);
        return 0;
    };
    c.write_integer = [](snd_ctl_ext_t*, snd_ctl_ext_key_t key, long* values) {
        std::copy_n(values, gElements.at(key).values.size(), gElements.at(key).values.begin());
        std::ofstream file(gPath);
        for (const Element& element : gElements) {
            file << element.name << ' ' << element.maximum;
            for (const long value : element.values) file << ' ' << value;
            file << '\n';
        }
        return 1;
    };
    return c;
}();

}  // namespace

extern "C" {

SND_CTL_PLUGIN_DEFINE_FUNC(zeltest) {
    (void)root, (void)conf;
    const char* path = std::getenv("ZEL_TEST_MIXER_STATE");
    std::ifstream file(path != nullptr ? path : "");
    if (!file) return -ENODEV;
    gPath = path;
    gElements.clear();
    for (std::string line; std::getline(file, line);) {
        std::istringstream fields(line);
        Element& element = gElements.emplace_back();
        fields >> element.name >> element.maximum;
        for (long value = 0; fields >> value;) element.values.push_back(value);
    }
    auto* ext = new snd_ctl_ext_t{};
    ext->version = SND_CTL_EXT_VERSION;
    ext->poll_fd = -1;
    ext->callback = &kCallbacks;
    if (const int error = snd_ctl_ext_create(ext, name, mode); error < 0) {
        delete ext;
        return error;
    }
    *handlep = ext->handle;
    return 0;
}

SND_CTL_PLUGIN_SYMBOL(zeltest)
}
