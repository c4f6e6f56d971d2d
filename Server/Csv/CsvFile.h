// The configuration tree as comma-separated text, and the message log as a
// fixed-width text report. Everything goes through the automation object's
// own operations (property names, GetPropertyData, AddChannel, AddDevice,
// AddDataBlock by arrays of names and values), so the files hold exactly what
// a client could read and write.
//
// The configuration document calls these and keeps the returned code as its
// status. Every failure is logged through the process's message log before
// the call returns.
#pragma once
#include <windows.h>
#include <string>
#include "QORDriver.h"
#include "CsvText.h"   // CsvLogRow

// Status codes the calls below return (the document's codes of the same meaning).
enum : LONG {
    CSV_E_FILE = LONG(0xC1040007),         // the CSV file cannot be opened
    CSV_E_EXPORT = LONG(0xC104000A),       // the CSV export failed
    CSV_E_LOG_REPORT = LONG(0xC104000B),   // the message-log report failed
    CSV_E_IMPORT = LONG(0xC104000C),       // the CSV import failed
    CSV_W_OLD_DIALECT = LONG(0x8104000D),  // older dialect, its import was not allowed
    // E_FAIL: a new configuration cannot be made, or the list separator cannot be read.
};

// What the import, export and report need from the configuration document.
class ICsvHost {
public:
    virtual ~ICsvHost() = default;

    // The driver acronym ("QOR") for the titles.
    virtual std::string Acronym() = 0;

    // The import flag: while on, the enable lines and the client's message
    // texts are not logged. The import turns it on before it builds and off
    // on every way out, failures included.
    virtual void SetImporting(bool on) = 0;

    // Marks the document modified (after a successful import).
    virtual void SetModified() = 0;

    // A failed import must not cost the user the configuration it was to
    // replace, so the import builds into a fresh tree and the host swaps:
    //   BeginImportTree: set the current driver tree aside (not deleted) and
    //     make a new empty configuration current in the automation object, so
    //     that its AddChannel... build the new one. E_FAIL (or any failure)
    //     when no new configuration can be made; then the current tree must
    //     still be the current one.
    //   EndImportTree(true): the import succeeded; delete the tree set aside.
    //   EndImportTree(false): the import failed; delete what was built and
    //     make the tree set aside current again, as it was (its modified mark
    //     too: the adds of the automation object mark the document).
    // Every successful BeginImportTree is followed by exactly one EndImportTree.
    virtual HRESULT BeginImportTree() = 0;
    virtual void EndImportTree(bool succeeded) = 0;

    // The document's failure report of a file error: prompt is the text for
    // the operation ("Failed to save document."), error the Win32 error of
    // the failing read or write, path the file.
    virtual void ReportFileFailure(const char *prompt, DWORD error, const std::string &path) = 0;

    // The log view's rows, top row (newest) first: the number of rows, and
    // row index (0 is the top); false when the row cannot be read.
    virtual int LogRowCount() = 0;
    virtual bool GetLogRow(int index, CsvLogRow &row) = 0;

    // Seams with the system's answers as defaults; tests replace them.
    // The local time printed in the titles.
    virtual void GetLocalTime(SYSTEMTIME &time) { ::GetLocalTime(&time); }
    // The list separator of the system's default locale (at most three
    // characters); false when it cannot be read.
    virtual bool GetListSeparator(std::string &separator);
};

// Writes the configuration of app to path in the system's own dialect.
// S_OK or CSV_E_EXPORT.
HRESULT CsvExport(IQORDriver *app, ICsvHost &host, const std::string &path);

// Replaces the configuration of app by the one in path, written in the
// system's own dialect. S_OK; CSV_E_FILE when path cannot be opened; E_FAIL
// when no new configuration can be made or the separator cannot be read;
// CSV_E_IMPORT for a file that does not import (bad title, a row with too
// many or too few values, a parent not found, an add refused, a read error).
// A row has one value per name of its section's header; separators after the
// last value (empty fields beyond the names) are ignored. A data row before
// the first section header stops the import. On any failure the
// configuration is the one before the call.
HRESULT CsvImport(IQORDriver *app, ICsvHost &host, const std::string &path);

// The same for a file in the older report dialect ("K_5  Driver
// Configuration Report"). CSV_E_IMPORT also for a file in the own dialect.
HRESULT CsvImportOld(IQORDriver *app, ICsvHost &host, const std::string &path);

// The older-dialect test: S_OK when path (more than 4 characters, ending in
// ".CSV" in any case) is in the older dialect, S_FALSE when it is not,
// CSV_E_FILE when it cannot be opened for reading.
HRESULT CsvIsOldDialect(const std::string &path);

// What the document does with a ".CSV" file it opens: the own dialect is
// imported; the older dialect only when allowOld (then *importedOld, when
// given, is set true), else CSV_W_OLD_DIALECT and nothing changes.
HRESULT CsvOpen(IQORDriver *app, ICsvHost &host, const std::string &path, bool allowOld,
                bool *importedOld);

// Writes the message-log report of the host's log view to path.
// S_OK or CSV_E_LOG_REPORT.
HRESULT WriteLogReport(ICsvHost &host, const std::string &path);
