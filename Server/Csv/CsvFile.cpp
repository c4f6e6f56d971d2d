// CSV export and import and the message-log report (being written).
#include "CsvFile.h"

bool ICsvHost::GetListSeparator(std::string &separator)
{
    char buffer[4] = {0};
    if (GetLocaleInfoA(LOCALE_SYSTEM_DEFAULT, LOCALE_SLIST, buffer, sizeof buffer) == 0)
        return false;
    separator = buffer;
    return true;
}

HRESULT CsvExport(IQORDriver *, ICsvHost &, const std::string &) { return CSV_E_EXPORT; }
HRESULT CsvImport(IQORDriver *, ICsvHost &, const std::string &) { return CSV_E_IMPORT; }
HRESULT CsvImportOld(IQORDriver *, ICsvHost &, const std::string &) { return CSV_E_IMPORT; }
HRESULT CsvIsOldDialect(const std::string &) { return CSV_E_FILE; }
HRESULT CsvOpen(IQORDriver *, ICsvHost &, const std::string &, bool, bool *) { return CSV_E_IMPORT; }
HRESULT WriteLogReport(ICsvHost &, const std::string &) { return CSV_E_LOG_REPORT; }
