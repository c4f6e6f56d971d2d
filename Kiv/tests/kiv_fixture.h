// The in-process fixture of Oxley's tests: the library started under a fresh
// driver name (so each test has its own store and registry key), fake
// servers made by the factory seam, message boxes recorded instead of shown,
// and helpers that create blocks in the store and HMI item records.
#pragma once
#include <gtest/gtest.h>
#include <string.h>
#include <string>
#include <vector>
#include "FakeDriver.h"
#include "KivLibrary.h"
#include "KivTables.h"
#include "Oxley.h"
#include "S7Types.h"

// An HMI item: the records that kiv_* exports take, wired together.
struct Item {
    KivDevice device;
    KivAddress address;
    KivBlock block;
    KivKind kind;

    explicit Item(uint8_t itemKind = KIV_ANALOG, uint8_t count = 1, float low = 0, float span = 100)
    {
        memset(&device, 0, sizeof(device));
        memset(&address, 0, sizeof(address));
        memset(&block, 0, sizeof(block));
        block.device = &device;
        block.address = &address;
        kind.kind = itemKind;
        kind.count = count;
        kind.low = low;
        kind.span = span;
    }
    Item(const Item &) = delete;
    Item &operator=(const Item &) = delete;
};

inline uint32_t AddressWord(uint32_t area, uint32_t dbNumber, uint32_t offset)
{
    return area << 28 | dbNumber << 15 | offset;
}

class KivFixture : public ::testing::Test {
public:
    static std::vector<FakeDriver *> &Servers()
    {
        static std::vector<FakeDriver *> servers;
        return servers;
    }
    static std::vector<std::string> &Boxes()
    {
        static std::vector<std::string> boxes;
        return boxes;
    }
    static std::map<std::string, FakeResolution> &Resolutions()
    {
        static std::map<std::string, FakeResolution> resolutions;
        return resolutions;
    }
    static HRESULT &CreateResult()
    {
        static HRESULT result = S_OK;
        return result;
    }

protected:
    std::string name;
    std::string key;
    CCommonMemory *store = nullptr;

    void SetUp() override
    {
        CoInitializeEx(NULL, COINIT_MULTITHREADED);
        static LONG counter;
        char text[64];
        snprintf(text, sizeof(text), "KivT%lu_%ld", GetCurrentProcessId(), InterlockedIncrement(&counter));
        name = text;
        key = "Software\\Veltrane\\Drivers\\" + name;
        Servers().clear();
        Boxes().clear();
        Resolutions().clear();
        CreateResult() = S_OK;
        kiv::SetServerFactory(Factory);
        kiv::SetMessageBox(RecordBox);
        kiv::Start(name.c_str());
        store = new CCommonMemory(STORE_STANDARD_GROUPS, name.c_str());
    }

    void TearDown() override
    {
        kiv::End(false);
        for (FakeDriver *server : Servers()) {
            EXPECT_TRUE(server->unexpected.empty()) << server->unexpected.front();
            server->Release();
        }
        Servers().clear();
        delete store;
        RegDeleteKeyA(HKEY_LOCAL_MACHINE, key.c_str());
        kiv::SetServerFactory(nullptr);
        kiv::SetMessageBox(nullptr);
        CoUninitialize();
    }

    // Restarts the library, as a new load would, after changing its registry values.
    void Restart()
    {
        kiv::End(false);
        kiv::Start(name.c_str());
    }

    void SetValue(const char *value, DWORD data)
    {
        HKEY k;
        ASSERT_EQ(0, RegCreateKeyExA(HKEY_LOCAL_MACHINE, key.c_str(), 0, NULL, 0, KEY_ALL_ACCESS, NULL, &k, NULL));
        RegSetValueExA(k, value, 0, REG_DWORD, reinterpret_cast<const BYTE *>(&data), sizeof(data));
        RegCloseKey(k);
    }
    void SetValue(const char *value, const char *data)
    {
        HKEY k;
        ASSERT_EQ(0, RegCreateKeyExA(HKEY_LOCAL_MACHINE, key.c_str(), 0, NULL, 0, KEY_ALL_ACCESS, NULL, &k, NULL));
        RegSetValueExA(k, value, 0, REG_SZ, reinterpret_cast<const BYTE *>(data), DWORD(strlen(data) + 1));
        RegCloseKey(k);
    }

    FakeDriver &Server(size_t i = 0)
    {
        if (Servers().size() <= i) {
            ADD_FAILURE() << "no server " << i;
            static FakeDriver none;
            return none;
        }
        return *Servers()[i];
    }

    // The text resolves on every server, made now or later.
    void Define(const std::string &text, const FakeResolution &resolution)
    {
        Resolutions()[text] = resolution;
        for (FakeDriver *server : Servers())
            server->Resolve(text, resolution);
    }

    // A 260-byte block image: bytes from 0, the time at 250, the type at 258.
    uint16_t MakeBlock(uint32_t owner, uint16_t dataType, uint16_t area, uint16_t start, const void *bytes,
                       uint16_t count, uint16_t status = 0xC0, uint16_t size = 260)
    {
        uint16_t index = 0;
        EXPECT_EQ(0u, store->CreateDataBlock(&index, size, owner));
        EXPECT_EQ(0u, store->SetInternalAddress(index, uint32_t(area) << 28 | start, 0));
        if (count) {
            EXPECT_EQ(0u, store->SetDataBlock(index, count, bytes, 0));
        }
        EXPECT_EQ(0u, store->SetBytesInUse(index, count));
        if (size >= 260) {
            FILETIME time = {0x89ABCDEF, 0x01D00000};
            store->SetDataBlock(index, 8, &time, 250);
            store->SetDataBlock(index, 2, &dataType, 258);
        }
        EXPECT_EQ(0u, store->SetDataBlockStatus(index, status));
        return index;
    }

    // Parses text for the item through kiv_paddr; the status.
    KivStatus Parse(Item &item, const std::string &text)
    {
        KivStatus status = 99;
        kiv_paddr(&status, &item.block, &item.kind, text.c_str());
        return status;
    }

private:
    static HRESULT Factory(IQORDriver **server)
    {
        if (FAILED(CreateResult()))
            return CreateResult();
        FakeDriver *made = new FakeDriver;
        for (const auto &entry : Resolutions())
            made->Resolve(entry.first, entry.second);
        made->AddRef();   // the test's own reference
        Servers().push_back(made);
        *server = made;
        return S_OK;
    }
    static void RecordBox(const char *text, const char *caption)
    {
        Boxes().push_back(std::string(caption) + ": " + text);
    }
};
