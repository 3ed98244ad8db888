#include "journal/JournalLoader.h"

#include "decode/Labels.h"
#include "record/ReadingRecord.h"

#include <QFile>
#include <charconv>
#include <unordered_map>

namespace zelvox {

namespace {

// The function code of a Type text.
const std::unordered_map<std::string, std::uint8_t>& FunctionCodes() {
    static const auto codes = [] {
        std::unordered_map<std::string, std::uint8_t> m;
        for (int fc = 0; fc < kFunctionCount; ++fc)
            m.emplace(ToUtf8(functionLabels[fc]), static_cast<std::uint8_t>(fc));
        return m;
    }();
    return codes;
}

// The reading behind a row's Value text and full-precision Number: the point position follows
// from the decimals shown ("1.234" three: position 1).
bool ParseReading(const std::string& text, const std::string& number, Reading& r) {
    if (text == "0L" || text == "-0L") {
        r.value = text[0] == '-' ? -kOverload : kOverload;
        r.pointPosition = 0;
        return number.empty();
    }
    const std::size_t dot = text.find('.');
    const std::size_t decimals = dot == std::string::npos ? 0 : text.size() - dot - 1;
    if (decimals > 3)
        return false;
    r.pointPosition = static_cast<std::uint8_t>(decimals == 0 ? 0 : 4 - decimals);
    const std::string& digits = number.empty() ? text : number;
    const auto res = std::from_chars(digits.data(), digits.data() + digits.size(), r.value);
    return res.ec == std::errc() && res.ptr == digits.data() + digits.size();
}

} // namespace

LoadedJournal LoadJournal(const QString& path) {
    LoadedJournal result;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        result.error = file.errorString();
        return result;
    }
    const QByteArray bytes = file.readAll();
    if (file.error() != QFileDevice::NoError) {
        result.error = file.errorString();
        return result;
    }
    const auto records = ParseCsv(std::string_view(bytes.constData(), static_cast<std::size_t>(bytes.size())),
                                  &result.tornLastLine, &result.skipped);
    std::string header = CsvHeader();
    header.resize(header.size() - 2); // without CR LF
    if (records.empty() || records[0].size() != 6 || records[0][0] != header.substr(0, header.find(','))) {
        result.error = QStringLiteral("not a Zelvox journal");
        return result;
    }
    result.rows.reserve(records.size() - 1);
    const auto& codes = FunctionCodes();
    for (std::size_t i = 1; i < records.size(); ++i) {
        const auto& f = records[i];
        JournalRow row;
        bool ok = f.size() == 6 && ParseReading(f[2], f[5], row.reading) && ParseTimeText(f[4], row.time);
        if (ok) {
            const auto code = codes.find(f[3]);
            ok = code != codes.end();
            if (ok)
                row.reading.functionCode = code->second;
        }
        // The texts the table will show must be the ones in the file.
        if (ok) {
            const TableTexts shown = MakeTableTexts(0, row.reading, row.time);
            ok = shown.value == f[2] && shown.time == f[4];
        }
        if (ok)
            result.rows.push_back(row);
        else
            ++result.skipped;
    }
    result.ok = true;
    return result;
}

} // namespace zelvox
