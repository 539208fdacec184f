#include "report/ReportSection.h"

#include <QJsonArray>

ReportError::ReportError(const QString& description)
    : std::runtime_error(description.toStdString())
    , m_description(description)
{
}

void ReportSection::load(const QJsonObject& json)
{
    const auto malformed = [this](const QString& what) {
        return ReportError(QStringLiteral("Sezione %1 del report non valida: %2").arg(m_name, what));
    };

    lines.clear();
    for (const QJsonValue& value : json.value(QStringLiteral("lines")).toArray()) {
        if (!value.isObject()) {
            throw malformed(QStringLiteral("riga non valida"));
        }
        const QJsonObject line = value.toObject();
        lines.append(ReportLine {line.value(QStringLiteral("left")).toString(),
                                 line.value(QStringLiteral("center")).toString(),
                                 line.value(QStringLiteral("right")).toString(),
                                 line.value(QStringLiteral("pointSize")).toDouble(0),
                                 line.value(QStringLiteral("bold")).toBool(false)});
    }

    columns.clear();
    for (const QJsonValue& value : json.value(QStringLiteral("columns")).toArray()) {
        const QJsonObject column = value.toObject();
        const QString field = column.value(QStringLiteral("field")).toString();
        const double width = column.value(QStringLiteral("width")).toDouble(1);
        if (field.isEmpty() || width <= 0) {
            throw malformed(QStringLiteral("colonna senza campo o senza larghezza"));
        }
        columns.append(ReportColumn {field,
                                     column.value(QStringLiteral("heading")).toString(),
                                     width,
                                     column.value(QStringLiteral("format")).toString() == QLatin1String("phone")});
    }

    columnHeadings = json.value(QStringLiteral("columnHeadings")).toBool(false);
    ruleAbove = json.value(QStringLiteral("ruleAbove")).toBool(false);
    ruleBelow = json.value(QStringLiteral("ruleBelow")).toBool(false);
    spaceBeforeMm = json.value(QStringLiteral("spaceBeforeMm")).toDouble(0);
    spaceAfterMm = json.value(QStringLiteral("spaceAfterMm")).toDouble(0);
    paddingMm = json.value(QStringLiteral("paddingMm")).toDouble(0);
}
