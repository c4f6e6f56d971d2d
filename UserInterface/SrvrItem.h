// CUserInterfaceSrvrItem: the tool's embedded object as a container shows
// it while the tool is not active there: the driver, the configuration file
// and how many channels, devices and data blocks it holds, on a 3000 x 3000
// HIMETRIC square.
#pragma once
#include <string>
#include <vector>
#include "OleServer.h"

class CUserInterfaceDoc;

class CUserInterfaceSrvrItem : public CServerItem {
public:
    static const LONG ExtentSize = 3000;

    explicit CUserInterfaceSrvrItem(CUserInterfaceDoc &document) : m_doc(document) {}
    SIZEL Extent() const override { return SIZEL{ExtentSize, ExtentSize}; }
    void Draw(HDC dc, const RECT &bounds) override;
    // Reads what the picture shows from the server; the picture is drawn
    // from these lines, not during a container's call.
    void Refresh();
    const std::vector<std::string> &Lines() const { return m_lines; }

private:
    CUserInterfaceDoc &m_doc;
    std::vector<std::string> m_lines;
};
