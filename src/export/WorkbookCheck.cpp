#include "export/WorkbookCheck.h"

#include <QByteArray>
#include <QIODevice>
#include <QXmlStreamReader>
#include <QtEndian>
#include <algorithm>
#include <cstring>
#include <zlib.h>

namespace zelvox::sheet {

namespace {

constexpr quint32 kEndOfDirectory = 0x06054b50;
constexpr quint32 kDirectoryEntry = 0x02014b50;
constexpr quint32 kLocalHeader = 0x04034b50;
constexpr qsizetype kEndRecordSize = 22;
constexpr quint16 kStored = 0;
constexpr quint16 kDeflated = 8;
constexpr qint64 kChunk = 256 * 1024;
// XML parts up to this size are parsed whole; a worksheet of any size is checked at its end.
constexpr qint64 kParsedPartLimit = 16 * 1024 * 1024;

quint16 U16(const QByteArray& bytes, qsizetype at) {
    return qFromLittleEndian<quint16>(bytes.constData() + at);
}
quint32 U32(const QByteArray& bytes, qsizetype at) {
    return qFromLittleEndian<quint32>(bytes.constData() + at);
}

bool ReadAt(QIODevice& device, qint64 at, qint64 size, QByteArray* out) {
    if (at < 0 || size < 0 || at + size > device.size() || !device.seek(at))
        return false;
    *out = device.read(size);
    return out->size() == size;
}

bool WellFormedXml(const QByteArray& xml) {
    QXmlStreamReader reader(xml);
    bool sawRoot = false;
    while (!reader.atEnd()) {
        if (reader.readNext() == QXmlStreamReader::StartElement)
            sawRoot = true;
    }
    return sawRoot && !reader.hasError();
}

// Follows a worksheet's XML as it streams by: the number of its last `<row r="N"` and its last
// few bytes.
class SheetEndScanner {
public:
    void Feed(const char* data, qsizetype size) {
        static constexpr char kMarker[] = "<row r=\"";
        constexpr int kMarkerLength = sizeof(kMarker) - 1;
        for (qsizetype i = 0; i < size; ++i) {
            if (matched_ == 0) {
                const void* open = std::memchr(data + i, '<', std::size_t(size - i));
                if (!open)
                    break;
                i = static_cast<const char*>(open) - data;
            }
            const char c = data[i];
            if (matched_ < kMarkerLength) {
                matched_ = c == kMarker[matched_] ? matched_ + 1 : (c == '<' ? 1 : 0);
                number_ = 0;
            } else if (c >= '0' && c <= '9' && number_ < 100000000) {
                number_ = number_ * 10 + (c - '0');
            } else {
                if (c == '"')
                    lastRow_ = number_;
                matched_ = c == '<' ? 1 : 0;
            }
        }
        tail_.append(data + std::max<qsizetype>(0, size - kTail), std::min<qsizetype>(size, kTail));
        if (tail_.size() > kTail)
            tail_.remove(0, tail_.size() - kTail);
    }
    int LastRow() const { return int(lastRow_); }
    bool EndsAsWorksheet() const { return tail_.trimmed().endsWith("</worksheet>"); }

private:
    static constexpr qsizetype kTail = 64;
    int matched_ = 0;
    long long number_ = 0;
    long long lastRow_ = 0;
    QByteArray tail_;
};

// Unpacks one part a chunk at a time, handing each piece of content to `sink`. False when the
// data do not unpack, or unpack to more than `unpacked` bytes.
template <typename Sink>
bool UnpackPart(QIODevice& device, qint64 at, quint32 packed, quint16 method, quint32 unpacked, quint32* crc,
                qint64* size, Sink&& sink) {
    *crc = crc32(0, nullptr, 0);
    *size = 0;
    if (!device.seek(at))
        return false;
    QByteArray in;
    if (method == kStored) {
        for (qint64 left = packed; left > 0;) {
            in = device.read(std::min(left, kChunk));
            if (in.isEmpty())
                return false;
            left -= in.size();
            *crc = crc32(*crc, reinterpret_cast<const Bytef*>(in.constData()), uInt(in.size()));
            *size += in.size();
            sink(in.constData(), in.size());
        }
        return true;
    }
    if (method != kDeflated)
        return false;
    z_stream stream{};
    if (inflateInit2(&stream, -MAX_WBITS) != Z_OK)
        return false;
    QByteArray out(kChunk, Qt::Uninitialized);
    int result = Z_OK;
    for (qint64 left = packed; result != Z_STREAM_END;) {
        if (stream.avail_in == 0) {
            if (left == 0)
                break; // the data end before the deflate stream does
            in = device.read(std::min(left, kChunk));
            if (in.isEmpty())
                break;
            left -= in.size();
            stream.next_in = reinterpret_cast<Bytef*>(in.data());
            stream.avail_in = uInt(in.size());
        }
        stream.next_out = reinterpret_cast<Bytef*>(out.data());
        stream.avail_out = uInt(out.size());
        result = inflate(&stream, Z_NO_FLUSH);
        if (result != Z_OK && result != Z_STREAM_END && result != Z_BUF_ERROR)
            break;
        const qsizetype produced = out.size() - qsizetype(stream.avail_out);
        *crc = crc32(*crc, reinterpret_cast<const Bytef*>(out.constData()), uInt(produced));
        *size += produced;
        if (*size > qint64(unpacked))
            break;
        sink(out.constData(), produced);
    }
    inflateEnd(&stream);
    return result == Z_STREAM_END;
}

} // namespace

bool CheckWorkbookPackage(QIODevice& package, const std::vector<int>& sheetLastRows, QString* problem,
                          qint64* partBytes) {
    if (partBytes)
        *partBytes = -1;
    const qint64 fileSize = package.size();
    // The end-of-directory record: the writer adds no comment, but allow for one.
    QByteArray tail;
    const qint64 tailSize = std::min<qint64>(fileSize, kEndRecordSize + 0xFFFF);
    qsizetype end = -1;
    if (ReadAt(package, fileSize - tailSize, tailSize, &tail)) {
        for (qsizetype at = tail.size() - kEndRecordSize; at >= 0; --at)
            if (U32(tail, at) == kEndOfDirectory) {
                end = at;
                break;
            }
    }
    if (end < 0) {
        *problem = QStringLiteral("the package has no directory (it is truncated)");
        return false;
    }
    const int entries = U16(tail, end + 10);
    QByteArray directory;
    if (!ReadAt(package, U32(tail, end + 16), U32(tail, end + 12), &directory)) {
        *problem = QStringLiteral("the package directory is damaged");
        return false;
    }

    std::vector<bool> sheetSeen(sheetLastRows.size(), false);
    bool sawWorkbook = false;
    qsizetype entry = 0;
    QByteArray header;
    for (int i = 0; i < entries; ++i) {
        if (entry + 46 > directory.size() || U32(directory, entry) != kDirectoryEntry) {
            *problem = QStringLiteral("the package directory is damaged");
            return false;
        }
        const quint16 method = U16(directory, entry + 10);
        const quint32 crc = U32(directory, entry + 16);
        const quint32 packed = U32(directory, entry + 20);
        const quint32 unpacked = U32(directory, entry + 24);
        const quint16 nameLength = U16(directory, entry + 28);
        const qsizetype entrySize = 46 + nameLength + U16(directory, entry + 30) + U16(directory, entry + 32);
        const qint64 local = U32(directory, entry + 42);
        if (entry + entrySize > directory.size()) {
            *problem = QStringLiteral("the package directory is damaged");
            return false;
        }
        const QString name = QString::fromUtf8(directory.constData() + entry + 46, nameLength);
        entry += entrySize;

        if (!ReadAt(package, local, 30, &header) || U32(header, 0) != kLocalHeader) {
            *problem = QStringLiteral("part %1 is missing").arg(name);
            return false;
        }
        const qint64 data = local + 30 + U16(header, 26) + U16(header, 28);
        if (data + qint64(packed) > fileSize) {
            *problem = QStringLiteral("part %1 is cut short").arg(name);
            return false;
        }

        // A worksheet is followed to its end; any other XML part small enough is parsed whole.
        int sheet = -1;
        if (name.startsWith(QLatin1String("xl/worksheets/sheet")) && name.endsWith(QLatin1String(".xml"))) {
            bool ok = false;
            const int number = name.mid(19, name.size() - 19 - 4).toInt(&ok);
            if (ok && number >= 1 && number <= int(sheetLastRows.size()))
                sheet = number - 1;
        }
        const bool isXml = name.endsWith(QLatin1String(".xml")) || name.endsWith(QLatin1String(".rels"));
        const bool parseWhole = isXml && sheet < 0 && qint64(unpacked) <= kParsedPartLimit;
        QByteArray content;
        SheetEndScanner scanner;
        quint32 actualCrc = 0;
        qint64 actualSize = 0;
        const bool unpackedOk = UnpackPart(package, data, packed, method, unpacked, &actualCrc, &actualSize,
                                           [&](const char* bytes, qsizetype size) {
                                               if (parseWhole)
                                                   content.append(bytes, size);
                                               else if (sheet >= 0)
                                                   scanner.Feed(bytes, size);
                                           });
        if (!unpackedOk || actualCrc != crc || actualSize != qint64(unpacked)) {
            *problem = QStringLiteral("part %1 is damaged").arg(name);
            return false;
        }
        const bool complete =
            sheet >= 0 ? scanner.EndsAsWorksheet() && scanner.LastRow() == sheetLastRows[std::size_t(sheet)]
                       : !parseWhole || WellFormedXml(content);
        if (!complete) {
            *problem = QStringLiteral("part %1 is incomplete").arg(name);
            if (partBytes)
                *partBytes = actualSize;
            return false;
        }
        if (sheet >= 0)
            sheetSeen[std::size_t(sheet)] = true;
        sawWorkbook = sawWorkbook || name == QLatin1String("xl/workbook.xml");
    }
    if (!sawWorkbook) {
        *problem = QStringLiteral("the package holds no workbook");
        return false;
    }
    for (std::size_t s = 0; s < sheetSeen.size(); ++s)
        if (!sheetSeen[s]) {
            *problem = QStringLiteral("the package holds no sheet %1").arg(s + 1);
            return false;
        }
    return true;
}

} // namespace zelvox::sheet
