// An ALSA control device for tests: its mixer elements and their values live in a text file, so
// the real ALSA mixer backend can be driven without a sound card. The file is named by the
// configuration's "state" field or, failing that, by ZEL_TEST_MIXER_STATE. One line per element:
//   NAME MIN MAX CHANNELS VALUE...   a playback volume ("NAME Playback Volume")
//   NAME switch VALUE                 a playback switch only ("NAME Playback Switch")
// Every write is saved to the file at once.

#include <alsa/asoundlib.h>
#include <alsa/control_external.h>

#include <cerrno>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace {

struct Element {
    std::string name;
    bool isSwitch = false;
    long minimum = 0;
    long maximum = 0;
    std::vector<long> values;

    std::string ControlName() const {
        return name + (isSwitch ? " Playback Switch" : " Playback Volume");
    }
};

struct TestMixer {
    snd_ctl_ext_t ext{};
    std::string path;
    std::vector<Element> elements;
};

bool Load(TestMixer& mixer) {
    std::ifstream file(mixer.path);
    if (!file) return false;
    std::string line;
    while (std::getline(file, line)) {
        std::istringstream fields(line);
        Element element;
        std::string second;
        if (!(fields >> element.name >> second)) continue;
        if (second == "switch") {
            element.isSwitch = true;
            element.maximum = 1;
            long value = 0;
            fields >> value;
            element.values.push_back(value);
        } else {
            element.minimum = std::stol(second);
            int channels = 0;
            fields >> element.maximum >> channels;
            element.values.resize(static_cast<std::size_t>(channels));
            for (long& value : element.values) fields >> value;
        }
        mixer.elements.push_back(element);
    }
    return true;
}

void Save(const TestMixer& mixer) {
    std::ofstream file(mixer.path, std::ios::trunc);
    for (const Element& element : mixer.elements) {
        file << element.name;
        if (element.isSwitch) {
            file << " switch " << element.values[0] << '\n';
            continue;
        }
        file << ' ' << element.minimum << ' ' << element.maximum << ' ' << element.values.size();
        for (const long value : element.values) file << ' ' << value;
        file << '\n';
    }
}

TestMixer& Of(snd_ctl_ext_t* ext) {
    return *static_cast<TestMixer*>(ext->private_data);
}

void Close(snd_ctl_ext_t* ext) {
    delete &Of(ext);
}

int Count(snd_ctl_ext_t* ext) {
    return static_cast<int>(Of(ext).elements.size());
}

int List(snd_ctl_ext_t* ext, unsigned int offset, snd_ctl_elem_id_t* id) {
    snd_ctl_elem_id_set_interface(id, SND_CTL_ELEM_IFACE_MIXER);
    snd_ctl_elem_id_set_name(id, Of(ext).elements.at(offset).ControlName().c_str());
    return 0;
}

snd_ctl_ext_key_t Find(snd_ctl_ext_t* ext, const snd_ctl_elem_id_t* id) {
    const std::string wanted = snd_ctl_elem_id_get_name(id);
    const auto& elements = Of(ext).elements;
    for (std::size_t i = 0; i < elements.size(); ++i) {
        if (elements[i].ControlName() == wanted) return i;
    }
    return SND_CTL_EXT_KEY_NOT_FOUND;
}

int Attribute(snd_ctl_ext_t* ext, snd_ctl_ext_key_t key, int* type, unsigned int* access,
              unsigned int* count) {
    const Element& element = Of(ext).elements.at(key);
    *type = element.isSwitch ? SND_CTL_ELEM_TYPE_BOOLEAN : SND_CTL_ELEM_TYPE_INTEGER;
    *access = SND_CTL_EXT_ACCESS_READWRITE;
    *count = static_cast<unsigned int>(element.values.size());
    return 0;
}

int IntegerInfo(snd_ctl_ext_t* ext, snd_ctl_ext_key_t key, long* minimum, long* maximum,
                long* step) {
    const Element& element = Of(ext).elements.at(key);
    *minimum = element.minimum;
    *maximum = element.maximum;
    *step = 1;
    return 0;
}

int ReadInteger(snd_ctl_ext_t* ext, snd_ctl_ext_key_t key, long* values) {
    const Element& element = Of(ext).elements.at(key);
    for (std::size_t i = 0; i < element.values.size(); ++i) values[i] = element.values[i];
    return 0;
}

int WriteInteger(snd_ctl_ext_t* ext, snd_ctl_ext_key_t key, long* values) {
    TestMixer& mixer = Of(ext);
    Element& element = mixer.elements.at(key);
    bool changed = false;
    for (std::size_t i = 0; i < element.values.size(); ++i) {
        changed = changed || element.values[i] != values[i];
        element.values[i] = values[i];
    }
    Save(mixer);
    return changed ? 1 : 0;
}

int ReadEvent(snd_ctl_ext_t*, snd_ctl_elem_id_t*, unsigned int*) {
    return -EAGAIN;
}

const snd_ctl_ext_callback_t kCallbacks = [] {
    snd_ctl_ext_callback_t callbacks{};
    callbacks.close = Close;
    callbacks.elem_count = Count;
    callbacks.elem_list = List;
    callbacks.find_elem = Find;
    callbacks.get_attribute = Attribute;
    callbacks.get_integer_info = IntegerInfo;
    callbacks.read_integer = ReadInteger;
    callbacks.write_integer = WriteInteger;
    callbacks.read_event = ReadEvent;
    return callbacks;
}();

}  // namespace

extern "C" {

SND_CTL_PLUGIN_DEFINE_FUNC(zeltest) {
    (void)root;
    auto* mixer = new TestMixer;
    snd_config_iterator_t i, next;
    snd_config_for_each(i, next, conf) {
        snd_config_t* entry = snd_config_iterator_entry(i);
        const char* id = nullptr;
        const char* value = nullptr;
        if (snd_config_get_id(entry, &id) < 0) continue;
        if (std::string(id) == "state" && snd_config_get_string(entry, &value) >= 0) {
            mixer->path = value;
        }
    }
    if (mixer->path.empty() && std::getenv("ZEL_TEST_MIXER_STATE") != nullptr) {
        mixer->path = std::getenv("ZEL_TEST_MIXER_STATE");
    }
    if (mixer->path.empty() || !Load(*mixer)) {
        delete mixer;
        return -ENODEV;
    }
    mixer->ext.version = SND_CTL_EXT_VERSION;
    mixer->ext.card_idx = 0;
    snprintf(mixer->ext.id, sizeof mixer->ext.id, "zeltest");
    snprintf(mixer->ext.driver, sizeof mixer->ext.driver, "zeltest");
    snprintf(mixer->ext.name, sizeof mixer->ext.name, "Zel test mixer");
    snprintf(mixer->ext.longname, sizeof mixer->ext.longname, "Zel test mixer");
    snprintf(mixer->ext.mixername, sizeof mixer->ext.mixername, "Zel test mixer");
    mixer->ext.poll_fd = -1;
    mixer->ext.callback = &kCallbacks;
    mixer->ext.private_data = mixer;
    if (const int error = snd_ctl_ext_create(&mixer->ext, name, mode); error < 0) {
        delete mixer;
        return error;
    }
    *handlep = mixer->ext.handle;
    return 0;
}

SND_CTL_PLUGIN_SYMBOL(zeltest)
}
