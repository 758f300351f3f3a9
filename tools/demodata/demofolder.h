// The demonstration data folder: every table the program reads, filled with a realistic service list
// of a parcel carrier, a dozen account executives, the picker lists, and the Canadian postal areas, US
// zip codes and countries of the reference CSVs.
#pragma once

#include <QString>
#include <QStringList>
#include <vector>

#include "demodata/tablemaker.h"

namespace tarvik::demo {

// Reads an RFC 4180 CSV file (UTF-8): the rows after the header row. Empty when it cannot be read.
std::vector<QStringList> readCsv(const QString& path, QStringList* header = nullptr);

const std::vector<ServiceRow>& demoServices();

// A town of ca_fsa.csv with the accented capitals the source lost (U+FFFD) put back.
QString repairTown(const QString& town);

// Builds the folder target (created when missing; tables already there are replaced) from the CSVs in
// csvFolder (ca_fsa.csv, countries.csv, us_zip.csv). False with the reason in error.
bool buildDemoFolder(const QString& csvFolder, const QString& target, QString* error);

}  // namespace tarvik::demo
