// Test doubles of the data monitor: a profile held in a table, and a
// recorder of message boxes and colour dialogs that answers as told.
#pragma once
#include <map>
#include <string>
#include <vector>
#include "ScopeLibrary.h"

class CTableProfile : public IProfileStore {
public:
    unsigned long ReadInt(const char *section, const char *entry, unsigned long defaultValue) override
    {
        auto found = values.find(Key(section, entry));
        return found == values.end() ? defaultValue : found->second;
    }
    bool WriteInt(const char *section, const char *entry, unsigned long value) override
    {
        values[Key(section, entry)] = value;
        writes.push_back(entry);
        return true;
    }
    static std::string Key(const char *section, const char *entry) { return std::string(section) + "/" + entry; }
    bool Has(const char *entry) const { return values.count(Key("Configuration", entry)) != 0; }
    unsigned long Get(const char *entry) const { return values.at(Key("Configuration", entry)); }

    std::map<std::string, unsigned long> values;
    std::vector<std::string> writes;
};

class CRecordingUi : public IScopeUi {
public:
    int Message(HWND, const char *text, UINT) override
    {
        messages.push_back(text);
        return answer;
    }
    bool ChooseColour(HWND, uint32_t &colour) override
    {
        ++colourDialogs;
        if (!chooseOk)
            return false;
        colour = chosen;
        return true;
    }

    std::vector<std::string> messages;
    int answer = IDYES;
    int colourDialogs = 0;
    bool chooseOk = true;
    uint32_t chosen = 0x00123456;
};
