#include "store/datacheck.h"

#include <QDir>

namespace tarvik {

QStringList requiredTables() {
    return {QStringLiteral("Bids.dbf"),          QStringLiteral("BidTail.dbf"),
            QStringLiteral("Services.dbf"),      QStringLiteral("AELookUp.dbf"),
            QStringLiteral("IndustryTypes.dbf"), QStringLiteral("DistributionSrc.dbf"),
            QStringLiteral("PLDTypes.dbf"),      QStringLiteral("Country.dbf"),
            QStringLiteral("POSTAL.dbf"),        QStringLiteral("USZIP.dbf")};
}

QStringList missingTables(const QString& folder) {
    const QDir dir(folder);
    if (folder.isEmpty() || !dir.exists()) return requiredTables();
    QStringList present = dir.entryList(QDir::Files | QDir::Hidden);
    for (QString& name : present) name = name.toLower();
    auto has = [&present](const QString& name) { return present.contains(name.toLower()); };
    QStringList missing;
    for (const QString& table : requiredTables()) {
        if (has(table)) continue;
        // A bid table delivered only in its new layout is taken over at start-up.
        if ((table == QLatin1String("Bids.dbf") || table == QLatin1String("BidTail.dbf")) &&
            has(QStringLiteral("new") + table))
            continue;
        missing << table;
    }
    return missing;
}

}  // namespace tarvik
