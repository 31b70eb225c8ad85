#pragma once

// A registry whose keys, values and failures the test sets; it counts what was opened and closed.

#include <algorithm>
#include <cctype>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "ui/registry.h"

namespace zel::testing {

class FakeRegistry final : public ui::Registry {
  public:
    struct Value {
        int32_t type;
        std::string bytes;
    };

    void Set(const std::string& key, const std::string& name, Value value) {
        keys_[Lower(key)][Lower(name)] = std::move(value);
    }
    // Every open fails with `code` (a user without write access, say).
    void FailOpens(int32_t code) { openFailure_ = code; }

    int32_t OpenKey(int32_t root, const std::string& keyName, uint32_t access,
                    ui::RegistryKey& key) override {
        opened.push_back(keyName);
        lastAccess = access;
        if (openFailure_ != 0) return openFailure_;
        const auto found = keys_.find(Lower(keyName));
        if (root != ui::kHkeyLocalMachine || found == keys_.end()) return ui::kRegFileNotFound;
        handles_.push_back(&found->second);
        key = static_cast<ui::RegistryKey>(handles_.size());
        ++openKeys;
        return ui::kRegSuccess;
    }
    int32_t QueryValue(ui::RegistryKey key, const std::string& valueName, int32_t& type,
                       std::span<uint8_t> buffer, int32_t& size) override {
        const auto& values = *handles_.at(static_cast<std::size_t>(key) - 1);
        const auto found = values.find(Lower(valueName));
        if (found == values.end()) return ui::kRegFileNotFound;
        const std::string& bytes = found->second.bytes;
        if (bytes.size() > static_cast<std::size_t>(size) || bytes.size() > buffer.size()) {
            size = static_cast<int32_t>(bytes.size());
            return ui::kRegMoreData;
        }
        std::memcpy(buffer.data(), bytes.data(), bytes.size());
        size = static_cast<int32_t>(bytes.size());
        type = found->second.type;
        return ui::kRegSuccess;
    }
    void CloseKey(ui::RegistryKey key) override {
        if (key != 0) --openKeys;
    }

    std::vector<std::string> opened;
    uint32_t lastAccess = 0;
    int openKeys = 0;  // opened and not yet closed

  private:
    static std::string Lower(std::string text) {
        std::transform(text.begin(), text.end(), text.begin(),
                       [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
        return text;
    }

    std::map<std::string, std::map<std::string, Value>> keys_;
    std::vector<const std::map<std::string, Value>*> handles_;
    int32_t openFailure_ = 0;
};

}  // namespace zel::testing
